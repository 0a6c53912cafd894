// PgLoad.h: the figure a user would compare the gateway with: the same step as bench_gateway's clients
// (read the next row's name) straight against PostgreSQL through libpq, one SELECT by key per step.
#pragma once

#include <memory>
#include <string>

#include "bench/gateway/LoadStats.h"

namespace bench {

// A 10,000-row table like the gateway's, created on the server for the length of the run and dropped at
// the end. Raises std::runtime_error when the server cannot be reached or the table cannot be made.
class PgTable {
public:
    explicit PgTable(std::string conninfo);
    ~PgTable();
    PgTable(const PgTable&) = delete;
    PgTable& operator=(const PgTable&) = delete;

    const std::string& conninfo() const { return conninfo_; }
    const std::string& name() const { return name_; }

private:
    std::string conninfo_;
    std::string name_;   // with this process's id, so runs against one server do not collide
};

// `clients` connections, each repeating one prepared SELECT by the next key with one query outstanding.
// Raises std::runtime_error when a connection or a query fails (too many clients for the server, say).
Result measure_postgres(const PgTable& table, size_t clients);

}  // namespace bench
