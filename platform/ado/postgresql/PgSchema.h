// PgSchema.h: column kinds from PostgreSQL type OIDs, and tracing a result's columns to one base table and
// its primary key (PQftable/PQftablecol plus the catalogue).
#pragma once

#include <libpq-fe.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/ado/detail/Provider.h"
#include "platform/ado/postgresql/PgConn.h"

namespace ado::detail {

std::vector<ColumnInfo> describe_columns(const PGresult* res);
// `sql` is the statement that gave `res`; its plan must read the table once.
std::optional<TableInfo> trace_table(PgConn& conn, const PGresult* res, const std::string& sql);

}  // namespace ado::detail
