// PgConnInfo.cpp: ADO-style PostgreSQL connection strings to libpq conninfo; see PgConnInfo.h.
#include "platform/ado/postgresql/PgConnInfo.h"

#include "common/ComError.h"
#include "platform/ado/AdoTypes.h"
#include "platform/ado/detail/ConnectionString.h"

namespace ado::detail {
namespace {

struct KeyRule {
    const char* ado;    // lower case
    const char* libpq;
};

constexpr KeyRule kKeys[] = {
    {"host", "host"},         {"server", "host"},   {"data source", "host"}, {"address", "host"},
    {"port", "port"},         {"database", "dbname"}, {"initial catalog", "dbname"},
    {"user id", "user"},      {"uid", "user"},      {"user", "user"},        {"username", "user"},
    {"password", "password"}, {"pwd", "password"},
};

const char* libpq_key(const std::string& key) {
    for (const KeyRule& k : kKeys)
        if (key == k.ado) return k.libpq;
    return nullptr;
}

// conninfo value: single-quoted, with \ and ' escaped.
std::string quoted(const std::string& value) {
    std::string q = "'";
    for (char c : value) {
        if (c == '\\' || c == '\'') q += '\\';
        q += c;
    }
    return q + "'";
}

// ADO style when there are several parts separated by ";", or when the first key is not written as libpq writes its
// keywords (lower case, no blanks: "Server=", "User ID=", "Host=").
bool is_ado_style(const std::string& text) {
    if (parse_connection_string(text).size() > 1) return true;  // parts separated by ";" outside quotes
    const size_t eq = text.find('=');
    if (eq == std::string::npos) return false;
    const std::string key = parse_connection_string(text.substr(0, eq + 1)).front().first;
    const std::string written = text.substr(text.find_first_not_of(" \t"), key.size());
    return written != key || key.find(' ') != std::string::npos || (libpq_key(key) && libpq_key(key) != key);
}

}  // namespace

std::string to_conninfo(const std::string& text) {
    if (text.rfind("postgresql://", 0) == 0 || text.rfind("postgres://", 0) == 0 || !is_ado_style(text))
        return text;
    std::string conninfo;
    for (const auto& [key, value] : parse_connection_string(text)) {
        const char* target = libpq_key(key);
        if (!target)  // e.g. sslmode: libpq's own keywords pass through, and libpq refuses unknown ones
            target = key.c_str();
        if (!conninfo.empty()) conninfo += ' ';
        conninfo.append(target).append(1, '=').append(quoted(value));
    }
    return conninfo;
}

}  // namespace ado::detail
