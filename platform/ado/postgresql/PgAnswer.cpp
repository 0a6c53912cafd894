// PgAnswer.cpp: the answer to one statement, read without blocking; see PgAnswer.h.
#include "platform/ado/postgresql/PgAnswer.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>

namespace ado::detail {

bool PgAnswer::wait(Clock::time_point until) {
    for (;;) {
        const int flushed = PQflush(conn_);  // 0: all sent; 1: more to send; -1: failure
        if (flushed < 0) return fail();
        if (collect()) return true;
        const Clock::time_point now = Clock::now();
        if (now >= until) return false;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
        pollfd p{PQsocket(conn_), static_cast<short>(POLLIN | (flushed == 1 ? POLLOUT : 0)), 0};
        if (p.fd < 0) return fail();
        const int rc = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 60000)));  // an int of ms
        if ((rc < 0 && errno != EINTR) || (rc > 0 && (p.revents & POLLNVAL))) return fail();
        if (rc > 0 && (p.revents & (POLLIN | POLLERR | POLLHUP)) && !PQconsumeInput(conn_)) return fail();
    }
}

// libpq hands over one result per statement; a multi-statement text gives several, and an error ends it.
bool PgAnswer::collect() {
    for (;;) {
        if (copy_out_) {
            char* row = nullptr;
            const int n = PQgetCopyData(conn_, &row, 1);  // 1: do not block
            if (row) PQfreemem(row);
            if (n > 0) continue;
            if (n == 0) return false;  // more rows to come
            copy_out_ = false;         // the end (or a failure, which the next result reports)
        }
        if (copy_end_due_) {
            const int sent = PQputCopyEnd(conn_, kCopyRefusedText);  // the server rolls the COPY back
            if (sent < 0) return fail();
            if (sent == 0) return false;  // the send buffer is full: try again after flushing
            copy_end_due_ = false;
            continue;  // the end must be flushed before the server answers
        }
        if (PQisBusy(conn_)) return false;
        PgResult res(PQgetResult(conn_));
        if (!res) return true;
        switch (PQresultStatus(res.get())) {
            case PGRES_COPY_OUT:
            case PGRES_COPY_BOTH:
                copy_refused_ = copy_out_ = true;
                break;
            case PGRES_COPY_IN:
                copy_refused_ = copy_end_due_ = true;
                break;
            default: keep(std::move(res)); break;
        }
    }
}

void PgAnswer::keep(PgResult res) {
    if (failed_result_) return;
    switch (PQresultStatus(res.get())) {
        case PGRES_COMMAND_OK:
        case PGRES_TUPLES_OK:
        case PGRES_EMPTY_QUERY: break;
        default: failed_result_ = true; break;
    }
    result_ = std::move(res);
}

bool PgAnswer::fail() {
    result_.reset();
    failed_result_ = true;
    return true;
}

}  // namespace ado::detail
