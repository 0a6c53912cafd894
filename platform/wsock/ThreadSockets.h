// ThreadSockets.h (internal to wsock): the per-socket record, the per-thread table of sockets and host
// lookups, and the helpers the call implementations share. Not included outside platform/wsock.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_map>

#include "platform/msgloop/MessageLoop.h"
#include "platform/msgloop/UniqueFd.h"
#include "platform/wsock/WinSock.h"

namespace wsock::detail {

enum class SockState : uint8_t {
    fresh,            // created, not bound
    bound,            // bound (datagram sockets stay here, connected or not)
    listening,
    connecting,       // non-blocking connect in progress
    connected,
    connect_failed,   // the outcome of a connect was an error; the socket is of no further use
};

// One socket. The notification flags follow the re-enabling rules: an event, once posted, is not posted
// again until the application makes the call that re-enables it.
struct SocketRecord final : msgloop::FdHandler {
    SOCKET handle = INVALID_SOCKET;
    UniqueFd fd;
    int type = WS_SOCK_STREAM;
    SockState state = SockState::fresh;
    bool nonblocking = false;
    bool bound = false;            // has a local address (bind, connect, listen, accept, sendto)
    // WSAAsyncSelect: where and what to post; mask 0 = no selection.
    HWND hwnd = 0;
    uint32_t msg = 0;
    int32_t mask = 0;
    bool read_posted = false;      // FD_READ posted, waiting for recv
    bool oob_posted = false;       // FD_OOB posted, waiting for recv
    bool accept_posted = false;    // FD_ACCEPT posted, waiting for accept
    bool accept_backoff = false;   // accept failed for lack of descriptors: wait a tick before re-posting
    bool write_armed = false;      // FD_WRITE due when the socket is writable
    bool close_posted = false;     // FD_CLOSE was posted (once per connection)
    bool eof_seen = false;         // the peer's FIN or a reset was seen
    bool shut_rd = false;          // local shutdown(SD_RECEIVE / SD_BOTH)
    bool shut_wr = false;          // local shutdown(SD_SEND / SD_BOTH)
    int32_t sticky_error = 0;      // WSA error of a reset; recv keeps failing with it, as on Windows
    // What the application asked for where Linux answers differently.
    bool reuseaddr_requested = false;
    bool debug_requested = false;
    // epoll registration with the thread's loop.
    bool watched = false;
    uint32_t registered = 0;

    void on_fd_ready(int fd, uint32_t events) override;
};

// A host lookup in flight, owned by the thread that started it.
struct Lookup {
    HWND hwnd = 0;
    uint32_t msg = 0;
    char* buf = nullptr;
    int buflen = 0;
};

struct ThreadSockets {
    int startup_count = 0;
    std::unordered_map<SOCKET, std::unique_ptr<SocketRecord>> sockets;
    std::unordered_map<HANDLE, Lookup> lookups;
    std::deque<HANDLE> finished_lookups;   // recent replies, so a late cancel says WSAEALREADY
    size_t running_lookups = 0;            // helper threads not yet reported back, cancelled ones included

    ~ThreadSockets();   // marks the table ended, then closes what is left
    void close_all() noexcept;
};

// This thread's table, created on first use; null once it has ended during the thread's exit, so that an
// object ending after it (a control kept in static storage, say) finds no sockets instead of freed memory.
ThreadSockets* thread_sockets_if_alive();
// The table where it is known to be alive: after started() or find_socket() succeeded.
ThreadSockets& thread_sockets();

// Sets the thread's last error and returns SOCKET_ERROR.
int fail(int32_t wsa_error) noexcept;
// The record for `s` of this thread; null with WSANOTINITIALISED / WSANOTSOCK set as the last error.
SocketRecord* find_socket(SOCKET s) noexcept;
// True when started on this thread; otherwise sets WSANOTINITIALISED.
bool started() noexcept;
SOCKET next_socket_handle() noexcept;
HANDLE next_task_handle() noexcept;

// --- notification rules (AsyncSelect.cpp) ---
// Posts `event` with `error` to the selected window when the event is selected.
void post_event(SocketRecord& r, int32_t event, int32_t error);
// Brings the epoll interest up to date. `exact` false only adds missing bits (called from the
// application's calls); true also drops bits no longer wanted (called when such a bit fired).
void update_interest(SocketRecord& r, bool exact);
// Re-enabling hooks run by the calls.
void after_recv(SocketRecord& r, int result, int len, int flags);
void after_send_would_block(SocketRecord& r);
void after_accept(SocketRecord& listener, bool out_of_descriptors);
// Called when a connect has its outcome without going through epoll; posts what is selected.
void connect_finished(SocketRecord& r, int32_t error);
// Bytes queued for reading; 0 on error.
int bytes_available(const SocketRecord& r) noexcept;
// Unregisters from epoll, if registered.
void forget_interest(SocketRecord& r) noexcept;

}  // namespace wsock::detail
