// SharedState.cpp: the process-wide connection and separator.
//
// The component is used from one thread at a time, but the client library lets every thread of an
// application set up its own in-process connection, so two threads may swap the shared connection at the
// same moment. A mutex guards the pointer itself (not the work done on the connection), which keeps those
// swaps from corrupting the reference count.
#include "dbcomponent/SharedState.h"

#include <mutex>
#include <utility>

#include "platform/ado/Connection.h"

namespace {

constexpr char kStx = '\x02';

struct ProcessState {
    std::mutex mutex;
    std::shared_ptr<ado::Connection> connection;
    std::string separator = std::string(1, kStx);
};

ProcessState& state() {
    static ProcessState instance;
    return instance;
}

}  // namespace

std::shared_ptr<ado::Connection> shared_connection() {
    ProcessState& s = state();
    std::lock_guard lock(s.mutex);
    if (!s.connection) s.connection = std::make_shared<ado::Connection>();
    return s.connection;
}

std::shared_ptr<ado::Connection> replace_shared_connection() {
    auto fresh = std::make_shared<ado::Connection>();
    std::shared_ptr<ado::Connection> previous;
    ProcessState& s = state();
    {
        std::lock_guard lock(s.mutex);
        previous = std::exchange(s.connection, fresh);
    }
    return fresh;  // `previous` is released outside the lock: its destructor may do database work
}

std::shared_ptr<ado::Connection> take_shared_connection() {
    std::shared_ptr<ado::Connection> taken;
    ProcessState& s = state();
    {
        std::lock_guard lock(s.mutex);
        taken = std::exchange(s.connection, nullptr);
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
