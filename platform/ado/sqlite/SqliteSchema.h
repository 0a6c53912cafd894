// SqliteSchema.h: column kinds from declared types, and tracing a statement's columns to one base table
// and its primary key (needs SQLITE_ENABLE_COLUMN_METADATA, which Debian's libsqlite3 has).
#pragma once

#include <sqlite3.h>

#include <optional>
#include <vector>

#include "platform/ado/detail/Provider.h"
#include "platform/ado/sqlite/SqliteConn.h"

namespace ado::detail {

std::vector<ColumnInfo> describe_columns(sqlite3_stmt* st);
std::optional<TableInfo> trace_table(SqliteConn& conn, sqlite3_stmt* st);
std::string quote_identifier(const std::string& name);

}  // namespace ado::detail
