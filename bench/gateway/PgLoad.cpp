// PgLoad.cpp: libpq clients driven from one epoll set, as bench_gateway drives its own.
#include "bench/gateway/PgLoad.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <libpq-fe.h>

#include <stdexcept>
#include <vector>

#include "platform/msgloop/UniqueFd.h"

namespace bench {
namespace {

struct PgFinish {
    void operator()(PGconn* conn) const noexcept { PQfinish(conn); }
};
struct PgClear {
    void operator()(PGresult* res) const noexcept { PQclear(res); }
};
using PgConn = std::unique_ptr<PGconn, PgFinish>;
using PgResult = std::unique_ptr<PGresult, PgClear>;

constexpr int kRows = 10000;

void ignore_notice(void*, const char*) {}   // "table ... does not exist, skipping" and the like

PgConn connect(const std::string& conninfo) {
    PgConn conn(PQconnectdb(conninfo.c_str()));   // owned even on failure: the message is read through it
    if (PQstatus(conn.get()) != CONNECTION_OK)
        throw std::runtime_error(std::string("cannot connect to PostgreSQL: ") + PQerrorMessage(conn.get()));
    PQsetNoticeProcessor(conn.get(), ignore_notice, nullptr);   // libpq would print them on stderr
    return conn;
}

void exec(PGconn* conn, const std::string& sql) {
    const PgResult res(PQexec(conn, sql.c_str()));
    const ExecStatusType status = PQresultStatus(res.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        throw std::runtime_error("PostgreSQL: " + std::string(PQerrorMessage(conn)));
}

struct PgClient {
    PgConn conn;
    int key = 0;
    Clock::time_point sent;
};

class PgLoad {
public:
    PgLoad(const PgTable& table, size_t count) : clients_(count), ep_(::epoll_create1(EPOLL_CLOEXEC)) {
        const std::string select = "SELECT name FROM " + table.name() + " WHERE id = $1";
        for (size_t i = 0; i < count; ++i) {
            PgClient& c = clients_[i];
            c.conn = connect(table.conninfo());
            c.key = static_cast<int>(i * 37 % kRows);
            const PgResult prepared(PQprepare(c.conn.get(), "step", select.c_str(), 1, nullptr));
            if (PQresultStatus(prepared.get()) != PGRES_COMMAND_OK)
                throw std::runtime_error("PostgreSQL: " + std::string(PQerrorMessage(c.conn.get())));
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.u64 = i;
            if (::epoll_ctl(ep_.get(), EPOLL_CTL_ADD, PQsocket(c.conn.get()), &ev) != 0)
                throw std::runtime_error("epoll_ctl failed");
        }
        for (PgClient& c : clients_) send(c);
    }

    Result measure() {
        run_until(Clock::now() + kWarmUp);
        samples_.clear();
        const auto start = Clock::now();
        run_until(start + kMeasure);
        return samples_.summary(std::chrono::duration<double>(Clock::now() - start).count());
    }

private:
    void send(PgClient& c) {
        c.key = c.key % kRows + 1;
        const std::string key = std::to_string(c.key);
        const char* values[] = {key.c_str()};
        c.sent = Clock::now();
        if (PQsendQueryPrepared(c.conn.get(), "step", 1, values, nullptr, nullptr, 0) != 1)
            throw std::runtime_error("PostgreSQL: " + std::string(PQerrorMessage(c.conn.get())));
    }
    // Reads what arrived; once the query's result and its end have both come, records it and sends the next.
    void on_readable(PgClient& c) {
        if (PQconsumeInput(c.conn.get()) != 1)
            throw std::runtime_error("PostgreSQL: " + std::string(PQerrorMessage(c.conn.get())));
        while (PQisBusy(c.conn.get()) == 0) {
            const PgResult res(PQgetResult(c.conn.get()));
            if (!res) {
                samples_.add(c.sent);
                send(c);
                return;
            }
            if (PQresultStatus(res.get()) != PGRES_TUPLES_OK || PQntuples(res.get()) != 1)
                throw std::runtime_error("PostgreSQL: the SELECT by key did not return its row");
        }
    }
    void run_until(Clock::time_point end) {
        epoll_event events[512];
        while (Clock::now() < end) {
            const int n = ::epoll_wait(ep_.get(), events, 512, 100);
            for (int i = 0; i < n; ++i) on_readable(clients_[events[i].data.u64]);
        }
    }

    std::vector<PgClient> clients_;
    UniqueFd ep_;
    Samples samples_;
};

}  // namespace

PgTable::PgTable(std::string conninfo)
    : conninfo_(std::move(conninfo)), name_("bench_gateway_items_" + std::to_string(::getpid())) {
    const PgConn conn = connect(conninfo_);
    exec(conn.get(), "DROP TABLE IF EXISTS " + name_);
    exec(conn.get(), "CREATE TABLE " + name_ + " (id integer PRIMARY KEY, name text, value double precision)");
    exec(conn.get(), "INSERT INTO " + name_ + " SELECT i, 'item ' || i, i * 0.25 FROM generate_series(1, " +
                         std::to_string(kRows) + ") AS i");
    exec(conn.get(), "ANALYZE " + name_);
}

PgTable::~PgTable() {
    try {
        const PgConn conn = connect(conninfo_);
        exec(conn.get(), "DROP TABLE IF EXISTS " + name_);
    } catch (const std::exception&) {   // a server gone away takes the table with it or keeps a stray one
    }
}

Result measure_postgres(const PgTable& table, size_t clients) { return PgLoad(table, clients).measure(); }

}  // namespace bench
