// PgConn.cpp: one libpq connection; see PgConn.h.
#include "platform/ado/postgresql/PgConn.h"

#include <poll.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <optional>
#include <utility>

#include "common/ComError.h"
#include "platform/ado/AdoTypes.h"
#include "platform/ado/postgresql/PgAnswer.h"
#include "platform/ado/postgresql/PgLockWatch.h"

namespace ado::detail {
namespace {

constexpr const char* kSource = "PostgreSQL";
constexpr const char* kQueryCanceled = "57014";

// A statement's first look at what it waits for comes after this, so quick statements never cost a look;
// then every kLockCheckEvery, since a statement may run for a while before it meets a lock.
constexpr auto kFirstLockCheck = std::chrono::milliseconds(25);
constexpr auto kLockCheckEvery = std::chrono::milliseconds(50);
// How long an answer may be late: after CommandTimeout before the client cancels, and after a cancel
// before the connection is given up.
constexpr auto kAnswerGrace = std::chrono::seconds(1);
// After an attempt to open a lost connection again failed, statements fail at once this long: each attempt
// costs the server a process and may take up to ConnectionTimeout, while every client waits.
constexpr auto kReopenHoldOff = std::chrono::seconds(1);
constexpr int kIdleReads = 4;  // reads of what an idle session was sent before a statement (see usable)

struct SqlStateRule {
    const char* prefix;  // SQLSTATE or its class
    int32_t number;
};

// First match wins; anything else is a failing statement.
constexpr SqlStateRule kSqlStates[] = {
    {"23", kDbIntegrityViolation},  // integrity constraint violation
    {"57014", kDbTimeout},          // query cancelled: statement_timeout (our own cancels say why themselves)
    {"55P03", kDbFail},             // lock not available (NOWAIT, lock_timeout)
    {"40", kDbFail},                // deadlock, serialization failure
    {"08", kDbFail},                // connection exception
    {"57P", kDbFail},               // the server ends the session: shut down, crashed, terminated
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

PgConn::PgConn(std::string conninfo, const Settings& settings, std::shared_ptr<PgLockWatch> watch)
    : conninfo_(std::move(conninfo)), settings_(settings), watch_(std::move(watch)) {
    open();
}

PgConn::~PgConn() { drop(); }

void PgConn::open() {
    const std::string connect_timeout = std::to_string(settings_.connection_timeout);
    std::vector<const char*> keys{"dbname", "connect_timeout"};
    std::vector<const char*> values{conninfo_.c_str(), connect_timeout.c_str()};
    if (!settings_.user_id.empty()) keys.push_back("user"), values.push_back(settings_.user_id.c_str());
    if (!settings_.password.empty()) keys.push_back("password"), values.push_back(settings_.password.c_str());
    keys.push_back(nullptr);
    values.push_back(nullptr);
    PgConnPtr conn(PQconnectdbParams(keys.data(), values.data(), 1));  // 1: dbname may be a conninfo or URI
    if (!conn) throw ComError(kDbFail, kSource, "libpq could not allocate a connection");
    if (PQstatus(conn.get()) != CONNECTION_OK || PQsetnonblocking(conn.get(), 1) != 0)
        throw ComError(kDbFail, kSource, trimmed(PQerrorMessage(conn.get())));
    PQsetNoticeProcessor(conn.get(), &ignore_notice, nullptr);
    conn_ = std::move(conn);
    ++session_;
    in_block_ = false;
    server_ = server_of(conn_.get());
    backend_ = PQbackendPID(conn_.get());
    add_own_backend(server_, backend_);
    // Dates in ISO form whatever the server's default; money without locale formatting; doubles in their
    // shortest exact form, so values read back compare equal when an edit checks them. lock_timeout 0
    // would mean "wait for ever", so LockTimeout 0 ("fail at once") becomes the shortest wait, 1 ms.
    const int64_t timeout_ms = static_cast<int64_t>(settings_.command_timeout) * 1000;
    const int32_t lock_timeout_ms = settings_.lock_timeout_ms > 0 ? settings_.lock_timeout_ms : 1;
    try {
        exec("SET statement_timeout = " + std::to_string(timeout_ms) +
             "; SET lock_timeout = " + std::to_string(lock_timeout_ms) +
             "; SET datestyle = 'ISO, YMD'; SET intervalstyle = 'postgres'; SET extra_float_digits = 1;"
             " SET lc_monetary = 'C'; SET client_encoding = 'UTF8'");
    } catch (...) {
        drop();
        throw;
    }
}

void PgConn::drop() noexcept {
    if (!conn_) return;
    remove_own_backend(server_, backend_);
    conn_.reset();
}

// What an idle session can have been sent: notices, or the message saying the server ends the session
// followed by the end of the stream, which libpq notices only on a read after the one that got the message.
// So it reads while something is waiting, a few times at most (a server sending notices without end must
// not hold us here).
bool PgConn::usable() noexcept {
    if (!conn_) return false;
    if (PQtransactionStatus(conn_.get()) == PQTRANS_ACTIVE) return true;  // an answer is being read elsewhere
    for (int reads = 0; reads < kIdleReads && PQstatus(conn_.get()) == CONNECTION_OK; ++reads) {
        pollfd p{PQsocket(conn_.get()), POLLIN, 0};
        if (p.fd < 0 || ::poll(&p, 1, 0) <= 0 || !PQconsumeInput(conn_.get())) break;
    }
    if (PQstatus(conn_.get()) == CONNECTION_OK) return true;
    lost_in_block_ = in_block_;
    drop();
    return false;
}

void PgConn::reopen() {
    if (std::exchange(lost_in_block_, false))
        throw ComError(kDbFail, kSource,
                       "The connection to the database was lost inside a transaction, which the server rolled "
                       "back; this statement did not run, the next one opens a new connection");
    if (std::chrono::steady_clock::now() < next_open_) throw ComError(kDbFail, kSource, open_failure_);
    try {
        open();
    } catch (const ComError& e) {
        next_open_ = std::chrono::steady_clock::now() + kReopenHoldOff;
        open_failure_ = e.description();
        throw;
    }
}

void PgConn::abandon() noexcept {
    if (watch_) watch_->terminate(backend_);
    drop();
}

PgResult PgConn::checked(PgResult res) const {
    switch (PQresultStatus(res.get())) {
        case PGRES_COMMAND_OK:
        case PGRES_TUPLES_OK:
        case PGRES_EMPTY_QUERY: return res;
        default: break;
    }
    const char* primary = PQresultErrorField(res.get(), PG_DIAG_MESSAGE_PRIMARY);
    std::string text = primary ? primary : trimmed(PQresultErrorMessage(res.get()));
    if (text.empty()) text = std::string("unexpected answer: ") + PQresStatus(PQresultStatus(res.get()));
    throw ComError(number_for(PQresultErrorField(res.get(), PG_DIAG_SQLSTATE)), kSource, text);
}

// Sends with `send` and waits for the answer. A connection that failed, or is left in the middle of a
// statement, is dropped, so the next statement opens it again.
PgResult PgConn::run(const std::function<int(PGconn*)>& send) {
    if (!usable()) reopen();
    if (watch_) watch_->prepare();
    PgResult res;
    try {
        res = send(conn_.get()) ? await_answer() : nullptr;
    } catch (...) {
        if (conn_ && PQtransactionStatus(conn_.get()) == PQTRANS_ACTIVE) drop();
        throw;
    }
    if (!res || PQstatus(conn_.get()) != CONNECTION_OK) {  // the server's last word, if any, says why
        const char* primary = res ? PQresultErrorField(res.get(), PG_DIAG_MESSAGE_PRIMARY) : nullptr;
        const ComError failure(kDbFail, kSource, primary ? primary : trimmed(PQerrorMessage(conn_.get())));
        drop();
        throw failure;
    }
    const PGTransactionStatusType status = PQtransactionStatus(conn_.get());
    in_block_ = status == PQTRANS_INTRANS || status == PQTRANS_INERROR;
    return checked(std::move(res));
}

// Waits for the answer to the statement just sent. While none has come, asks the watch now and then
// whether the statement waits for a lock of this process's own, and cancels it if so. A moment after
// CommandTimeout (the server's statement_timeout should have answered by then, but it is not checked while
// a statement is parsed, and counts each statement of a multi-statement text on its own) the statement is
// cancelled; when even that brings no answer, it is abandoned. Null when the connection failed.
PgResult PgConn::await_answer() {
    using Clock = PgAnswer::Clock;
    const Clock::time_point sent = Clock::now();
    Clock::time_point give_up = settings_.command_timeout > 0
                                    ? sent + std::chrono::seconds(settings_.command_timeout) + kAnswerGrace
                                    : Clock::time_point::max();
    Clock::time_point next_check = watch_ ? sent + kFirstLockCheck : Clock::time_point::max();
    std::optional<ComError> cancelled;  // why the statement was cancelled
    PgAnswer answer(conn_.get());
    while (!answer.wait(std::min(give_up, next_check))) {
        const Clock::time_point now = Clock::now();
        if (now >= give_up) {
            if (cancelled || !watch_ || !watch_->cancel(backend_)) {
                abandon();
                throw cancelled ? *cancelled : ado_error(kDbTimeout, kSource);
            }
            cancelled = ado_error(kDbTimeout, kSource);
            give_up = now + kAnswerGrace;
        } else if (!cancelled) {
            if (auto conflict = watch_->cancel_if_waiting_for_own_lock(server_, backend_)) {
                cancelled = ComError(kDbFail, kSource, *conflict);
                give_up = std::min(give_up, now + kAnswerGrace);
            }
        }
        next_check = cancelled ? Clock::time_point::max() : now + kLockCheckEvery;
    }
    if (answer.copy_refused()) throw ComError(kDbErrorsInCommand, kSource, kCopyRefusedText);
    PgResult res = answer.take();
    const char* sqlstate = res ? PQresultErrorField(res.get(), PG_DIAG_SQLSTATE) : nullptr;
    if (cancelled && sqlstate && std::strcmp(sqlstate, kQueryCanceled) == 0) throw *cancelled;
    return res;  // an answer that came before the cancel did is the statement's own
}

PgResult PgConn::exec(const std::string& sql) {
    return run([&](PGconn* conn) { return PQsendQuery(conn, sql.c_str()); });
}

PgResult PgConn::exec_params(const std::string& sql, const std::vector<RawValue>& params) {
    std::vector<std::string> texts(params.size());
    std::vector<const char*> values(params.size());
    for (size_t i = 0; i < params.size(); ++i) {
        if (params[i].is_null()) continue;  // nullptr value: SQL NULL
        texts[i] = param_text(params[i]);
        values[i] = texts[i].c_str();
    }
    return run([&](PGconn* conn) {
        return PQsendQueryParams(conn, sql.c_str(), static_cast<int>(params.size()), nullptr, values.data(), nullptr,
                                 nullptr, 0);
    });
}

bool PgConn::try_exec(const char* sql) noexcept {
    if (!usable()) return false;
    try {
        exec(sql);
        return true;
    } catch (...) {
        return false;
    }
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
