// ThreadSockets.cpp: per-thread start-up counting, the thread's socket table, the last error and the
// allocation of socket and task handles.
#include "platform/wsock/ThreadSockets.h"

#include <atomic>
#include <cassert>
#include <cstring>

namespace wsock {
namespace detail {
namespace {

thread_local int t_last_error = 0;
// Set when the thread's table ends. No destructor, so it can be read by whatever ends after the table.
thread_local bool t_sockets_ended = false;

// Handles are never reused in the process (see WinSock.h). Socket handles start well away from small
// numbers so that they are not mistaken for descriptors while debugging.
std::atomic<uint32_t> g_next_socket{0x100};
std::atomic<uint32_t> g_next_task{1};

uint32_t take(std::atomic<uint32_t>& counter) noexcept {
    for (;;) {
        const uint32_t id = counter.fetch_add(1, std::memory_order_relaxed);
        if (id != 0 && id != 0xFFFFFFFFu) return id;
    }
}

}  // namespace

ThreadSockets* thread_sockets_if_alive() {
    if (t_sockets_ended) return nullptr;
    thread_local ThreadSockets state;
    return &state;
}

ThreadSockets& thread_sockets() {
    ThreadSockets* state = thread_sockets_if_alive();
    assert(state != nullptr && "thread_sockets() after the thread's table ended");
    return *state;
}

ThreadSockets::~ThreadSockets() {
    t_sockets_ended = true;   // from here on every call finds the thread not started
    close_all();
}

void ThreadSockets::close_all() noexcept {
    for (auto& [handle, record] : sockets) forget_interest(*record);
    sockets.clear();   // closes the descriptors
    lookups.clear();   // late replies find nothing and are dropped
    finished_lookups.clear();
}

int fail(int32_t wsa_error) noexcept {
    t_last_error = wsa_error;
    return SOCKET_ERROR;
}

bool started() noexcept {
    const ThreadSockets* state = thread_sockets_if_alive();
    if (state != nullptr && state->startup_count > 0) return true;
    fail(WSANOTINITIALISED);
    return false;
}

SocketRecord* find_socket(SOCKET s) noexcept {
    if (!started()) return nullptr;
    auto& sockets = thread_sockets().sockets;
    const auto it = sockets.find(s);
    if (it == sockets.end()) {
        fail(WSAENOTSOCK);
        return nullptr;
    }
    return it->second.get();
}

SOCKET next_socket_handle() noexcept { return take(g_next_socket); }
HANDLE next_task_handle() noexcept { return take(g_next_task); }

void forget_interest(SocketRecord& r) noexcept {
    if (!r.watched) return;
    if (msgloop::MessageLoop* loop = msgloop::MessageLoop::current_if_exists()) loop->unwatch_fd(r.fd.get());
    r.watched = false;
    r.registered = 0;
}

}  // namespace detail

int WSAGetLastError() noexcept { return detail::t_last_error; }
void WSASetLastError(int error) noexcept { detail::t_last_error = error; }

int WSAStartup(uint16_t version, WSADATA* data) {
    // Version 1.1 or later is served (as 1.1); the low byte is the major version.
    const unsigned major = version & 0xFFu, minor = (version >> 8) & 0xFFu;
    if (major < 1 || (major == 1 && minor < 1)) {
        if (data) data->wVersion = 0x0101;
        return WSAVERNOTSUPPORTED;   // returned, not set: WSAStartup reports through its result
    }
    if (data) {
        std::memset(data, 0, sizeof *data);
        data->wVersion = 0x0101;
        data->wHighVersion = 0x0101;
        std::strncpy(data->szDescription, "Windows Sockets 1.1 over POSIX sockets", sizeof data->szDescription - 1);
        std::strncpy(data->szSystemStatus, "Running", sizeof data->szSystemStatus - 1);
        data->iMaxSockets = 0xFFFF;
        data->iMaxUdpDg = 65467;
    }
    detail::ThreadSockets* state = detail::thread_sockets_if_alive();
    if (state == nullptr) return WSASYSNOTREADY;   // asked while the thread is ending
    ++state->startup_count;
    return 0;
}

int WSACleanup() {
    detail::ThreadSockets* state = detail::thread_sockets_if_alive();
    if (state == nullptr || state->startup_count == 0) return detail::fail(WSANOTINITIALISED);
    if (--state->startup_count == 0) state->close_all();   // as Windows: open sockets are closed
    return 0;
}

}  // namespace wsock
