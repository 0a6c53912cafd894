// PgConn.cpp: one libpq connection; see PgConn.h.
#include "platform/ado/postgresql/PgConn.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "common/ComError.h"
#include "platform/ado/AdoTypes.h"

namespace ado::detail {
namespace {

constexpr const char* kSource = "PostgreSQL";

struct SqlStateRule {
    const char* prefix;  // SQLSTATE or its class
    int32_t number;
};

// First match wins; anything else is a failing statement.
constexpr SqlStateRule kSqlStates[] = {
    {"23", kDbIntegrityViolation},  // integrity constraint violation
    {"57014", kDbTimeout},          // query cancelled: statement_timeout
    {"55P03", kDbFail},             // lock not available (NOWAIT)
    {"40", kDbFail},                // deadlock, serialization failure
    {"08", kDbFail},                // connection exception
    {"53", kDbFail},                // insufficient resources
};

int32_t number_for(const char* sqlstate) {
    if (!sqlstate) return kDbFail;
    for (const SqlStateRule& r : kSqlStates)
        if (std::strncmp(sqlstate, r.prefix, std::strlen(r.prefix)) == 0) return r.number;
    return kDbErrorsInCommand;
}

// Library code never prints: libpq's default notice processor would write NOTICEs to standard error.
void ignore_notice(void*, const char*) {}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

// Shortest text that reads back as the same double, so numeric columns get what the caller wrote.
// std::to_chars ignores the process locale, which would otherwise turn the decimal point into a comma.
std::string real_text(double v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
    char buf[32];  // the longest shortest form, "-2.2250738585072014e-308", has 24 characters
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

std::string param_text(const RawValue& v) {
    switch (v.type) {
        case RawValue::Type::Integer: return std::to_string(v.integer);
        case RawValue::Type::Real: return real_text(v.real);
        default: return v.text;
    }
}

}  // namespace

PgConn::PgConn(const std::string& conninfo, const Settings& settings) {
    const std::string connect_timeout = std::to_string(settings.connection_timeout);
    std::vector<const char*> keys{"dbname", "connect_timeout"};
    std::vector<const char*> values{conninfo.c_str(), connect_timeout.c_str()};
    if (!settings.user_id.empty()) keys.push_back("user"), values.push_back(settings.user_id.c_str());
    if (!settings.password.empty()) keys.push_back("password"), values.push_back(settings.password.c_str());
    keys.push_back(nullptr);
    values.push_back(nullptr);
    conn_.reset(PQconnectdbParams(keys.data(), values.data(), 1));  // 1: dbname may be a conninfo or URI
    if (!conn_) throw ComError(kDbFail, kSource, "libpq could not allocate a connection");
    if (PQstatus(conn_.get()) != CONNECTION_OK) throw ComError(kDbFail, kSource, trimmed(PQerrorMessage(conn_.get())));
    PQsetNoticeProcessor(conn_.get(), &ignore_notice, nullptr);
    // Dates in ISO form whatever the server's default; money without locale formatting; doubles in their
    // shortest exact form, so values read back compare equal when an edit checks them.
    const int64_t timeout_ms = static_cast<int64_t>(settings.command_timeout) * 1000;
    exec("SET statement_timeout = " + std::to_string(timeout_ms) +
         "; SET datestyle = 'ISO, YMD'; SET intervalstyle = 'postgres'; SET extra_float_digits = 1;"
         " SET lc_monetary = 'C'; SET client_encoding = 'UTF8'");
}

PgResult PgConn::checked(PGresult* raw) const {
    PgResult res(raw);
    if (!res) throw ComError(kDbFail, kSource, trimmed(PQerrorMessage(conn_.get())));
    switch (PQresultStatus(res.get())) {
        case PGRES_COMMAND_OK:
        case PGRES_TUPLES_OK:
        case PGRES_EMPTY_QUERY: return res;
        default: break;
    }
    const char* primary = PQresultErrorField(res.get(), PG_DIAG_MESSAGE_PRIMARY);
    throw ComError(number_for(PQresultErrorField(res.get(), PG_DIAG_SQLSTATE)), kSource,
                   primary ? primary : trimmed(PQresultErrorMessage(res.get())));
}

PgResult PgConn::exec(const std::string& sql) { return checked(PQexec(conn_.get(), sql.c_str())); }

PgResult PgConn::exec_params(const std::string& sql, const std::vector<RawValue>& params) {
    std::vector<std::string> texts(params.size());
    std::vector<const char*> values(params.size());
    for (size_t i = 0; i < params.size(); ++i) {
        if (params[i].is_null()) continue;  // nullptr value: SQL NULL
        texts[i] = param_text(params[i]);
        values[i] = texts[i].c_str();
    }
    return checked(PQexecParams(conn_.get(), sql.c_str(), static_cast<int>(params.size()), nullptr,
                                values.data(), nullptr, nullptr, 0));
}

bool PgConn::try_exec(const char* sql) noexcept {
    PgResult res(PQexec(conn_.get(), sql));
    return res && PQresultStatus(res.get()) == PGRES_COMMAND_OK;
}

RawRow read_row(const PGresult* res, int row) {
    const int n = PQnfields(res);
    RawRow out(n);
    for (int c = 0; c < n; ++c)
        if (!PQgetisnull(res, row, c))
            out[c] = RawValue::of_text(std::string(PQgetvalue(res, row, c), PQgetlength(res, row, c)));
    return out;
}

std::vector<RawRow> read_rows(const PGresult* res) {
    std::vector<RawRow> rows;
    const int n = PQntuples(res);
    rows.reserve(n);
    for (int r = 0; r < n; ++r) rows.push_back(read_row(res, r));
    return rows;
}

}  // namespace ado::detail
