// PgAnswer.h: collecting the answer to one statement sent on a non-blocking libpq connection, in steps that
// each end by a deadline, so the caller decides what to do while the server is slow (look at lock waits,
// cancel, give up). A COPY to or from the client is refused here: its rows are read and discarded, and a COPY
// from the client is ended with an error before anything is written.
#pragma once

#include <libpq-fe.h>

#include <chrono>

#include "platform/ado/postgresql/PgConn.h"

namespace ado::detail {

inline constexpr const char* kCopyRefusedText =
    "COPY to or from the client (STDIN, STDOUT) is not supported; use SELECT or INSERT statements";

class PgAnswer final {
public:
    using Clock = std::chrono::steady_clock;

    explicit PgAnswer(PGconn* conn) : conn_(conn) {}

    // Sends what is still queued and reads what arrives until the answer is complete (true) or `until`
    // passes (false). Also true when the connection failed; take() is then null.
    bool wait(Clock::time_point until);
    // The first failed result, else the last one; null when the connection failed (PQerrorMessage says why).
    PgResult take() { return std::move(result_); }
    bool copy_refused() const noexcept { return copy_refused_; }

private:
    bool collect();  // takes what has arrived without blocking; true when the answer is complete
    bool fail();     // the connection failed: the answer is complete, without a result
    void keep(PgResult res);

    PGconn* conn_;
    PgResult result_;
    bool failed_result_ = false;   // result_ is an error: later results do not replace it
    bool copy_refused_ = false;
    bool copy_out_ = false;        // discarding the rows of a COPY to the client
    bool copy_end_due_ = false;    // a COPY from the client must still be ended with an error
};

}  // namespace ado::detail
