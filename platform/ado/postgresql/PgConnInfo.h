// PgConnInfo.h: the PostgreSQL provider's ConnectionString: ADO style ("Host=…;Port=…;Database=…;
// User ID=…;Password=…", Server for Host), a libpq conninfo ("host=… dbname=…") or a URI
// ("postgresql://…"), turned into what libpq reads.
#pragma once

#include <string>

namespace ado::detail {

std::string to_conninfo(const std::string& connection_string);

}  // namespace ado::detail
