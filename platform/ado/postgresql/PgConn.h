// PgConn.h: one libpq connection with the owning handle types, the session settings every connection of
// a Connection gets (CommandTimeout as statement_timeout, ISO dates), and PostgreSQL errors raised as ADO
// provider errors with the server's message.
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/ado/detail/Provider.h"

namespace ado::detail {

struct PgFinish {
    void operator()(PGconn* conn) const noexcept { PQfinish(conn); }
};
struct PgClear {
    void operator()(PGresult* res) const noexcept { PQclear(res); }
};
using PgConnPtr = std::unique_ptr<PGconn, PgFinish>;
using PgResult = std::unique_ptr<PGresult, PgClear>;

class PgConn final {
public:
    // Connects with a libpq conninfo or URI; ConnectionTimeout → connect_timeout. E_FAIL when refused.
    PgConn(const std::string& conninfo, const Settings& settings);
    PGconn* get() const noexcept { return conn_.get(); }

    PgResult exec(const std::string& sql);  // one or more statements; the last one's result
    PgResult exec_params(const std::string& sql, const std::vector<RawValue>& params);
    bool try_exec(const char* sql) noexcept;  // for clean-up: true when it succeeded

private:
    PgResult checked(PGresult* res) const;  // raises the ADO error for a failed result
    PgConnPtr conn_;
};

RawRow read_row(const PGresult* res, int row);
std::vector<RawRow> read_rows(const PGresult* res);

}  // namespace ado::detail
