// SharedState.cpp: the process-wide connection and separator.
//
// The component is used from one thread at a time, but the client library lets every thread of an
// application set up its own in-process connection, so two threads may swap the shared connection at the
// same moment. A mutex guards the pointer itself (not the work done on the connection), which keeps those
// swaps from corrupting the reference count.
#include "dbcomponent/SharedState.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <utility>

#include "common/ComError.h"
#include "platform/ado/Connection.h"

namespace {

constexpr char kStx = '\x02';

constexpr auto kRetryOpenEvery = std::chrono::seconds(1);

struct ProcessState {
    std::mutex mutex;
    std::shared_ptr<ado::Connection> connection;
    std::string separator = std::string(1, kStx);
    // Set while `connection` is one DBInit could not open.
    std::optional<ComError> open_failure;
    std::chrono::steady_clock::time_point next_open;  // no attempt before this
};

ProcessState& state() {
    static ProcessState instance;
    return instance;
}

}  // namespace

// The attempt runs outside the lock: it is database work. Two threads may both attempt; the second finds
// the connection open (3705) and leaves it so.
std::shared_ptr<ado::Connection> shared_connection_for_request() {
    ProcessState& s = state();
    std::shared_ptr<ado::Connection> connection;
    {
        std::lock_guard lock(s.mutex);
        if (!s.connection) s.connection = std::make_shared<ado::Connection>();
        connection = s.connection;
        if (!s.open_failure) return connection;
        if (std::chrono::steady_clock::now() < s.next_open) throw *s.open_failure;
        s.next_open = std::chrono::steady_clock::now() + kRetryOpenEvery;
    }
    try {
        if (connection->State() != ado::adStateOpen) connection->Open();
    } catch (const ComError& e) {
        std::lock_guard lock(s.mutex);
        if (s.connection == connection) s.open_failure = e;
        throw;
    }
    std::lock_guard lock(s.mutex);
    if (s.connection == connection) s.open_failure.reset();
    return connection;
}

void open_shared_connection_later(const std::shared_ptr<ado::Connection>& connection, const ComError& failure) {
    ProcessState& s = state();
    std::lock_guard lock(s.mutex);
    if (s.connection != connection) return;
    s.open_failure = failure;
    s.next_open = std::chrono::steady_clock::time_point();  // the next request tries at once
}

std::shared_ptr<ado::Connection> replace_shared_connection() {
    auto fresh = std::make_shared<ado::Connection>();
    std::shared_ptr<ado::Connection> previous;
    ProcessState& s = state();
    {
        std::lock_guard lock(s.mutex);
        previous = std::exchange(s.connection, fresh);
        s.open_failure.reset();
    }
    return fresh;  // `previous` is released outside the lock: its destructor may do database work
}

std::shared_ptr<ado::Connection> take_shared_connection() {
    std::shared_ptr<ado::Connection> taken;
    ProcessState& s = state();
    {
        std::lock_guard lock(s.mutex);
        taken = std::exchange(s.connection, nullptr);
        s.open_failure.reset();
    }
    return taken ? taken : std::make_shared<ado::Connection>();
}

const std::string& field_separator() noexcept {
    return state().separator;
}

void reset_field_separator() {
    ProcessState& s = state();
    std::lock_guard lock(s.mutex);
    s.separator.assign(1, kStx);
}
