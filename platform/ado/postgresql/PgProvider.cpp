// PgProvider.cpp: the "PostgreSQL" back end.
//
// The main connection stays in autocommit: Execute, buffered cursors, keyset re-reads and optimistic edits
// run there, so every write is committed when it returns. A forward-only cursor over a query streams
// through a connection of its own while fewer than kMaxStreams do: a NO SCROLL cursor declared in a
// transaction there and fetched in batches, so only one batch is held in memory and the main connection
// never joins that transaction. Beyond that, the cursor is declared WITH HOLD on the one held-cursor
// connection, which stays in autocommit: the server runs the query to its end at Open and keeps the result
// (spilling to its own temporary files) until the cursor is closed, so any number of cursors share one
// server connection, each seeing the data as of its start, and are fetched in the same batches. (One
// transaction could not serve them all: it would keep the table locks of every cursor ever declared in it,
// and one failed fetch would end every cursor.) Pessimistic edits lock the row with SELECT … FOR UPDATE NOWAIT in a transaction on a
// pooled connection, held until the change is written or dropped; each statement of that session runs
// under a savepoint so a failed Update keeps the lock and lets the caller retry.
//
// Every connection is watched while a statement is slow to answer (PgConn.h): a wait for a lock that
// another of this process's connections holds is cancelled at once. A cancelled statement inside a
// stream's or lock session's transaction is rolled back to the savepoint (lock session) or leaves the
// transaction failed; a connection dropped after a time-out, or lost, has lost its transaction and its held
// cursors. Both are checked before the next statement there, which then fails with a clear error instead
// of running outside it or on a cursor of the same name in the new session.
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
constexpr size_t kMaxStreams = 4;   // forward-only cursors streaming on connections of their own at once
constexpr int kFetchRows = 256;     // rows per FETCH: bounds a stream's memory, keeps round trips few
constexpr const char* kStreamLost =
    "The forward-only cursor's statement failed or its connection was reset; MoveFirst runs it again";

// The transaction a stream or lock session works in is still usable: not failed, not lost with a dropped
// connection.
bool in_transaction(const PgConn& conn) { return PQtransactionStatus(conn.get()) == PQTRANS_INTRANS; }

struct Pool {
    std::vector<std::unique_ptr<PgConn>> idle;
    size_t streams = 0;  // connections held by streams now
    void give_back(std::unique_ptr<PgConn> conn) {
        if (idle.size() < kMaxIdle && PQstatus(conn->get()) == CONNECTION_OK &&
            PQtransactionStatus(conn->get()) == PQTRANS_IDLE)
            idle.push_back(std::move(conn));
    }
};

// Rows of a cursor declared on the server, fetched kFetchRows at a time.
class PgCursorStream : public RowStream {
public:
    explicit PgCursorStream(std::string name) : name_(std::move(name)) {}
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

protected:
    virtual PgConn& usable_connection() = 0;  // raises kStreamLost when the cursor is gone with its session
    void fetch() {
        batch_ = usable_connection().exec("FETCH FORWARD " + std::to_string(kFetchRows) + " FROM " + name_);
        next_ = 0;
    }
    const std::string name_;
    PgResult batch_;
    int next_ = 0;
};

// A cursor in a transaction on a pooled connection of its own.
class PgStream final : public PgCursorStream {
public:
    // Declares the cursor and fetches the first batch (whose description gives the columns).
    PgStream(std::unique_ptr<PgConn> conn, const std::string& sql, std::weak_ptr<Pool> pool)
        : PgCursorStream("ado_stream"), conn_(std::move(conn)), pool_(std::move(pool)) {
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
        if (auto p = pool_.lock()) ++p->streams;
    }
    ~PgStream() override {
        batch_.reset();
        auto p = pool_.lock();
        if (p) --p->streams;
        if (conn_->try_exec("COMMIT") && p) p->give_back(std::move(conn_));
    }

private:
    PgConn& usable_connection() override {
        if (!conn_->usable() || !in_transaction(*conn_)) throw ComError(kDbFail, kSource, kStreamLost);
        return *conn_;
    }
    std::unique_ptr<PgConn> conn_;
    std::weak_ptr<Pool> pool_;
};

// A cursor declared WITH HOLD on the shared held-cursor connection; it lives in that connection's session.
class PgHeldStream final : public PgCursorStream {
public:
    PgHeldStream(std::shared_ptr<PgConn> conn, const std::string& sql, std::string name)
        : PgCursorStream(std::move(name)), conn_(std::move(conn)) {
        conn_->exec_params("DECLARE " + name_ + " NO SCROLL CURSOR WITH HOLD FOR " + sql, {});
        session_ = conn_->session();
        try {
            fetch();
        } catch (...) {
            close();
            throw;
        }
    }
    ~PgHeldStream() override { close(); }

private:
    PgConn& usable_connection() override {
        if (!conn_->usable() || conn_->session() != session_) throw ComError(kDbFail, kSource, kStreamLost);
        return *conn_;
    }
    // The server keeps a held cursor's result until it is closed; a session since lost took it along.
    void close() noexcept {
        batch_.reset();
        if (conn_->session() == session_) conn_->try_exec(("CLOSE " + name_).c_str());
    }
    std::shared_ptr<PgConn> conn_;
    uint64_t session_ = 0;  // of conn_, when the cursor was declared
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
        if (!conn_->usable() || !in_transaction(*conn_)) lock_lost();
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
        if (!conn_->usable() || !in_transaction(*conn_)) lock_lost();
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
            std::unique_ptr<PgCursorStream> stream;
            if (pool_->streams < kMaxStreams) {
                stream = std::make_unique<PgStream>(take_connection(), sql, pool_);
            } else {
                if (!held_) held_ = std::make_shared<PgConn>(conninfo_, settings_, watch_);
                stream = std::make_unique<PgHeldStream>(held_, sql, "ado_held_" + std::to_string(++held_names_));
            }
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
    std::shared_ptr<PgConn> held_;  // cursors beyond kMaxStreams; opened when first needed, kept by them too
    uint64_t held_names_ = 0;       // the last held cursor's number, for a name unique in its session
};

}  // namespace

std::unique_ptr<Provider> make_pg_provider(const Settings& settings) { return std::make_unique<PgProvider>(settings); }

}  // namespace ado::detail
