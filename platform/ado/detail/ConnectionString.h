// ConnectionString.h: ADO-style connection strings, "Key=Value;Key=Value", as both providers read them.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace ado::detail {

// Pairs in order; keys lower-cased with blanks around them removed, values trimmed and unquoted ("..." or
// '...'). Empty parts are skipped; a part without "=" is a key with an empty value.
std::vector<std::pair<std::string, std::string>> parse_connection_string(const std::string& text);

}  // namespace ado::detail
