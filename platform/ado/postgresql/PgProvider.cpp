// PgProvider.cpp: the "PostgreSQL" back end.
//
// The main connection stays in autocommit: Execute, buffered cursors, keyset re-reads and optimistic edits
// run there, so every write is committed when it returns. A forward-only cursor over a query streams
// through a connection of its own (from a small pool): a NO SCROLL cursor declared in a transaction there
// and fetched in batches, so only one batch is held in memory and the main connection never joins that
// transaction. Pessimistic edits lock the row with SELECT … FOR UPDATE NOWAIT in a transaction on a
// pooled connection, held until the change is written or dropped; each statement of that session runs
// under a savepoint so a failed Update keeps the lock and lets the caller retry.
//
// Every connection is watched while a statement is slow to answer (PgConn.h): a wait for a lock that
// another of this process's connections holds is cancelled at once. A cancelled statement inside a
// stream's or lock session's transaction is rolled back to the savepoint (lock session) or leaves the
// transaction failed; a connection dropped after a time-out has lost its transaction. Both are checked
// before the next statement there, which then fails with a clear error instead of running outside it.
#include "platform/ado/postgresql/PgProvider.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "common/AsciiCase.h"
#include "common/ComError.h"
#include "platform/ado/AdoTypes.h"
#include "platform/ado/postgresql/PgConn.h"
#include "platform/ado/postgresql/PgConnInfo.h"
#include "platform/ado/postgresql/PgLockWatch.h"
#include "platform/ado/postgresql/PgSchema.h"

namespace ado::detail {
namespace {

constexpr const char* kSource = "PostgreSQL";
constexpr size_t kMaxIdle = 4;      // pooled connections kept for streams and lock sessions
constexpr int kFetchRows = 256;     // rows per FETCH: bounds a stream's memory, keeps round trips few

// The transaction a stream or lock session works in is still usable: not failed, not lost with a dropped
// connection.
bool in_transaction(const PgConn& conn) { return PQtransactionStatus(conn.get()) == PQTRANS_INTRANS; }

struct Pool {
    std::vector<std::unique_ptr<PgConn>> idle;
    void give_back(std::unique_ptr<PgConn> conn) {
        if (idle.size() < kMaxIdle && PQstatus(conn->get()) == CONNECTION_OK &&
            PQtransactionStatus(conn->get()) == PQTRANS_IDLE)
            idle.push_back(std::move(conn));
    }
};

class PgStream final : public RowStream {
public:
    // Declares the cursor and fetches the first batch (whose description gives the columns).
    PgStream(std::unique_ptr<PgConn> conn, const std::string& sql, std::weak_ptr<Pool> pool)
        : conn_(std::move(conn)), pool_(std::move(pool)) {
        conn_->exec("BEGIN");
        try {
            // One statement only (extended protocol): a source with more would otherwise run the rest here.
            conn_->exec_params("DECLARE ado_stream NO SCROLL CURSOR FOR " + sql, {});
            fetch();
        } catch (...) {
            conn_->try_exec("ROLLBACK");
            if (auto p = pool_.lock()) p->give_back(std::move(conn_));
            throw;
        }
    }
    ~PgStream() override {
        batch_.reset();
        if (conn_->try_exec("COMMIT"))
            if (auto p = pool_.lock()) p->give_back(std::move(conn_));
    }
    const PGresult* batch() const { return batch_.get(); }
    bool next(RawRow& row) override {
        if (next_ >= PQntuples(batch_.get())) {
            if (PQntuples(batch_.get()) < kFetchRows) return false;  // the last batch was short: the end
            fetch();
            if (PQntuples(batch_.get()) == 0) return false;
        }
        row = read_row(batch_.get(), next_++);
        return true;
    }

private:
    void fetch() {
        if (!in_transaction(*conn_))
            throw ComError(kDbFail, kSource,
                           "The forward-only cursor's statement failed or its connection was reset; MoveFirst runs "
                           "it again");
        batch_ = conn_->exec("FETCH FORWARD " + std::to_string(kFetchRows) + " FROM ado_stream");
        next_ = 0;
    }
    std::unique_ptr<PgConn> conn_;
    std::weak_ptr<Pool> pool_;
    PgResult batch_;
    int next_ = 0;
};

class PgLock final : public LockSession {
public:
    PgLock(std::unique_ptr<PgConn> conn, std::weak_ptr<Pool> pool) : conn_(std::move(conn)), pool_(std::move(pool)) {
        conn_->exec("BEGIN");
    }
    ~PgLock() override {
        if (!done_ && !conn_->try_exec("ROLLBACK")) return;
        if (auto p = pool_.lock()) p->give_back(std::move(conn_));
    }
    std::vector<RawRow> run(const std::string& sql, const std::vector<RawValue>& params) override {
        if (!in_transaction(*conn_)) lock_lost();
        conn_->exec("SAVEPOINT ado_edit");
        try {
            PgResult res = conn_->exec_params(sql, params);
            conn_->exec("RELEASE SAVEPOINT ado_edit");
            return read_rows(res.get());
        } catch (...) {
            conn_->try_exec("ROLLBACK TO SAVEPOINT ado_edit");
            throw;
        }
    }
    // COMMIT of a failed transaction succeeds as a ROLLBACK: that is a lost change, not a written one.
    void commit() override {
        if (!in_transaction(*conn_)) lock_lost();
        PgResult res = conn_->exec("COMMIT");
        done_ = true;
        if (std::string(PQcmdStatus(res.get())) != "COMMIT") lock_lost();
    }

private:
    [[noreturn]] static void lock_lost() {
        throw ComError(kDbFail, kSource,
                       "The row lock was lost (its transaction failed or its connection was reset); "
                       "cancel the edit and edit the record again");
    }
    std::unique_ptr<PgConn> conn_;
    std::weak_ptr<Pool> pool_;
    bool done_ = false;
};

// Only plain queries can be declared as a cursor; other row-returning statements (… RETURNING, SHOW,
// EXPLAIN, WITH …) are read at once on the main connection.
bool declarable(const std::string& sql) {
    size_t i = 0;
    while (i < sql.size() && (ascii_is_space(sql[i]) || sql[i] == '(')) ++i;
    size_t j = i;
    while (j < sql.size() && ascii_is_alpha(sql[j])) ++j;
    const std::string word = ascii_lowered(std::string_view(sql).substr(i, j - i));
    return word == "select" || word == "values" || word == "table";
}

int32_t records_affected(const PGresult* res) {
    if (PQresultStatus(res) != PGRES_COMMAND_OK) return -1;
    const std::string tag = PQcmdStatus(const_cast<PGresult*>(res));
    for (const char* verb : {"INSERT ", "UPDATE ", "DELETE ", "MERGE "})
        if (tag.rfind(verb, 0) == 0) return std::atoi(PQcmdTuples(const_cast<PGresult*>(res)));
    return -1;
}

class PgProvider final : public Provider {
public:
    explicit PgProvider(const Settings& settings)
        : settings_(settings), conninfo_(to_conninfo(settings.connection_string)),
          watch_(std::make_shared<PgLockWatch>(conninfo_, settings_)),
          main_(std::make_unique<PgConn>(conninfo_, settings_, watch_)) {}

    int32_t execute(const std::string& sql) override { return records_affected(main_->exec(sql).get()); }

    std::optional<QueryResult> query(const std::string& sql, bool streaming) override {
        QueryResult result;
        if (streaming && declarable(sql)) {
            auto stream = std::make_unique<PgStream>(take_connection(), sql, pool_);
            result.columns = describe_columns(stream->batch());
            result.table = trace_table(*main_, stream->batch(), sql);
            result.stream = std::move(stream);
            return result;
        }
        PgResult res = main_->exec(sql);
        if (PQresultStatus(res.get()) != PGRES_TUPLES_OK) return std::nullopt;
        result.columns = describe_columns(res.get());
        result.table = trace_table(*main_, res.get(), sql);
        result.rows = read_rows(res.get());
        return result;
    }

    std::vector<RawRow> run(const std::string& sql, const std::vector<RawValue>& params) override {
        return read_rows(main_->exec_params(sql, params).get());
    }

    std::unique_ptr<LockSession> begin_lock() override { return std::make_unique<PgLock>(take_connection(), pool_); }

    std::string placeholder(size_t number) const override { return std::string(1, '$').append(std::to_string(number)); }
    std::string equal_or_both_null(const std::string& column, const ColumnInfo& info,
                                   const std::string& placeholder) const override {
        if (info.compare_as_text) return column + "::text IS NOT DISTINCT FROM " + placeholder + "::text";
        return column + " IS NOT DISTINCT FROM " + placeholder;
    }
    std::string row_lock_clause() const override { return " FOR UPDATE NOWAIT"; }
    const char* source() const override { return kSource; }

private:
    std::unique_ptr<PgConn> take_connection() {
        if (pool_->idle.empty()) return std::make_unique<PgConn>(conninfo_, settings_, watch_);
        std::unique_ptr<PgConn> conn = std::move(pool_->idle.back());
        pool_->idle.pop_back();
        return conn;
    }
    Settings settings_;
    std::string conninfo_;
    std::shared_ptr<PgLockWatch> watch_;  // shared with every connection of this provider, pooled ones too
    std::unique_ptr<PgConn> main_;
    std::shared_ptr<Pool> pool_ = std::make_shared<Pool>();
};

}  // namespace

std::unique_ptr<Provider> make_pg_provider(const Settings& settings) { return std::make_unique<PgProvider>(settings); }

}  // namespace ado::detail
