// Transfer.cpp: send, sendto, recv and recvfrom with Windows results, the re-enabling of FD_READ and
// FD_WRITE, and the error translations that depend on the socket's history (local shutdown, reset).
//
// A blocking send takes everything or fails, as on Windows. Linux's blocking send returns a part when a
// signal arrives after some bytes went, or when SO_SNDTIMEO runs out, and a caller that trusts the
// Windows promise would lose the rest without an error. So a blocking send goes out here in
// non-blocking steps with a wait for room in between; the send time-out bounds the whole call and ends
// it with WSAETIMEDOUT (10060), as does the receive time-out a blocking recv (Linux says EAGAIN).
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>

#include "platform/wsock/SocketAddress.h"
#include "platform/wsock/ThreadSockets.h"

namespace wsock {
namespace detail {
namespace {

constexpr int kSendFlags = WS_MSG_OOB | WS_MSG_DONTROUTE;
constexpr int kRecvFlags = WS_MSG_OOB | WS_MSG_PEEK;
static_assert(WS_MSG_OOB == MSG_OOB && WS_MSG_PEEK == MSG_PEEK && WS_MSG_DONTROUTE == MSG_DONTROUTE);

// The WSA error of a failed send. EPIPE is what Linux says both after our own shutdown(SD_SEND) and
// after the peer reset the connection; Windows tells them apart.
int32_t send_error(SocketRecord& r, int e) {
    if (e == EPIPE) return r.shut_wr ? WSAESHUTDOWN : (r.sticky_error ? r.sticky_error : WSAECONNRESET);
    if (e == ECONNRESET && r.type == WS_SOCK_STREAM) r.sticky_error = WSAECONNRESET;
    return wsa_from_errno(e);
}

int32_t recv_error(SocketRecord& r, int e, int flags) {
    if (e == EAGAIN) return r.nonblocking ? WSAEWOULDBLOCK : WSAETIMEDOUT;   // blocking: SO_RCVTIMEO ran out
    if (e == EINVAL && (flags & WS_MSG_OOB)) return WSAEWOULDBLOCK;   // no urgent data waiting (Windows)
    if (e == ECONNRESET) {
        if (r.type == WS_SOCK_STREAM) r.sticky_error = WSAECONNRESET;
        return WSAECONNRESET;
    }
    if (e == ECONNREFUSED && r.type == WS_SOCK_DGRAM) return WSAECONNRESET;   // ICMP port unreachable
    return wsa_from_errno(e);
}

// Checks shared by both sends: 0 or the WSA error.
int32_t check_send(const SocketRecord& r, const char* buf, int len, int flags) {
    if (len < 0 || (!buf && len > 0)) return WSAEFAULT;
    if (flags & ~kSendFlags) return WSAEOPNOTSUPP;
    if (r.shut_wr) return WSAESHUTDOWN;
    // Linux answers an unconnected TCP send with EPIPE; Windows says "not connected".
    if (r.type == WS_SOCK_STREAM && r.state != SockState::connected) return WSAENOTCONN;
    return 0;
}

int32_t check_recv(const SocketRecord& r, const char* buf, int len, int flags) {
    if (len < 0 || (!buf && len > 0)) return WSAEFAULT;
    if (flags & ~kRecvFlags) return WSAEOPNOTSUPP;
    if (r.shut_rd) return WSAESHUTDOWN;   // Linux would return 0
    if (r.type == WS_SOCK_STREAM && r.state != SockState::connected) return WSAENOTCONN;
    return 0;
}

using Clock = std::chrono::steady_clock;

// When a blocking send must give up: SO_SNDTIMEO from now, or never when it is 0. Read at the first
// wait, so a send that never waits costs no extra call.
std::optional<Clock::time_point> send_deadline(int fd) {
    timeval tv{};
    socklen_t len = sizeof tv;
    if (::getsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, &len) < 0 || (tv.tv_sec == 0 && tv.tv_usec == 0))
        return std::nullopt;
    return Clock::now() + std::chrono::seconds(tv.tv_sec) + std::chrono::microseconds(tv.tv_usec);
}

// Waits until `fd` has room (or an error that the next send reports). 0, WSAETIMEDOUT once `deadline`
// has passed, or the WSA error of poll. Signals only shorten a wait.
int32_t wait_for_room(int fd, const std::optional<Clock::time_point>& deadline) {
    for (;;) {
        int wait_ms = -1;
        if (deadline) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
            if (left <= 0) return WSAETIMEDOUT;
            wait_ms = left > INT32_MAX ? INT32_MAX : static_cast<int>(left);
        }
        pollfd p{fd, POLLOUT, 0};
        const int rc = ::poll(&p, 1, wait_ms);
        if (rc > 0) return 0;
        if (rc < 0 && errno != EINTR) return wsa_from_errno(errno);
    }
}

// A blocking socket's send: all `len` bytes, or SOCKET_ERROR (what went before the failure is not
// reported, as on Windows, where the connection is then in an indeterminate state).
int send_all(SocketRecord& r, const char* buf, int len, int flags, const sockaddr* to, socklen_t tolen) {
    const size_t total = static_cast<size_t>(len);
    size_t sent = 0;
    bool waited = false;
    std::optional<Clock::time_point> deadline;
    for (;;) {
        const ssize_t n = ::sendto(r.fd.get(), buf + sent, total - sent, flags | MSG_NOSIGNAL | MSG_DONTWAIT, to, tolen);
        if (n >= 0) {
            sent += static_cast<size_t>(n);
            if (sent == total) return len;
            continue;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return fail(send_error(r, errno));
        if (!waited) deadline = send_deadline(r.fd.get());
        waited = true;
        if (const int32_t error = wait_for_room(r.fd.get(), deadline)) return fail(error);
    }
}

// One send on a non-blocking socket: what the system takes now, or WSAEWOULDBLOCK.
int send_some(SocketRecord& r, const char* buf, int len, int flags, const sockaddr* to, socklen_t tolen) {
    ssize_t n;
    do {
        n = ::sendto(r.fd.get(), buf, static_cast<size_t>(len), flags | MSG_NOSIGNAL, to, tolen);
    } while (n < 0 && errno == EINTR);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EAGAIN) {
        after_send_would_block(r);   // the next FD_WRITE comes when room is back
        return fail(WSAEWOULDBLOCK);
    }
    return fail(send_error(r, errno));
}

int transmit(SocketRecord& r, const char* buf, int len, int flags, const sockaddr* to, socklen_t tolen) {
    return r.nonblocking ? send_some(r, buf, len, flags, to, tolen) : send_all(r, buf, len, flags, to, tolen);
}

}  // namespace
}  // namespace detail

int send(SOCKET s, const char* buf, int len, int flags) {
    using namespace detail;
    SocketRecord* r = find_socket(s);
    if (!r) return SOCKET_ERROR;
    if (const int32_t bad = check_send(*r, buf, len, flags)) return fail(bad);
    return transmit(*r, buf, len, flags, nullptr, 0);
}

int sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int tolen) {
    using namespace detail;
    SocketRecord* r = find_socket(s);
    if (!r) return SOCKET_ERROR;
    if (r->type == WS_SOCK_STREAM) return send(s, buf, len, flags);   // the address is ignored, as on Windows
    if (const int32_t bad = check_send(*r, buf, len, flags)) return fail(bad);
    sockaddr_in address{};
    const sockaddr* target = nullptr;
    socklen_t target_len = 0;
    if (to) {
        if (const int32_t bad = check_address(to, tolen)) return fail(bad);
        address = read_address(to);
        target = reinterpret_cast<const sockaddr*>(&address);
        target_len = sizeof address;
    }
    const int result = transmit(*r, buf, len, flags, target, target_len);
    if (result != SOCKET_ERROR && !r->bound) {
        r->bound = true;   // the system picked a local address
        if (r->state == SockState::fresh) r->state = SockState::bound;
    }
    return result;
}

int recv(SOCKET s, char* buf, int len, int flags) {
    using namespace detail;
    SocketRecord* r = find_socket(s);
    if (!r) return SOCKET_ERROR;
    if (const int32_t bad = check_recv(*r, buf, len, flags)) {
        after_recv(*r, -1, len, flags);   // any call re-enables, even a failing one
        return fail(bad);
    }
    ssize_t n;
    do {
        n = ::recv(r->fd.get(), buf, static_cast<size_t>(len), flags);
    } while (n < 0 && errno == EINTR);
    const int e = n < 0 ? errno : 0;
    after_recv(*r, static_cast<int>(n), len, flags);
    if (n < 0) return fail(recv_error(*r, e, flags));
    // After a reset Linux hands out the queued data, one ECONNRESET, then 0; Windows keeps failing.
    if (n == 0 && len > 0 && r->sticky_error != 0) return fail(r->sticky_error);
    return static_cast<int>(n);
}

int recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromlen) {
    using namespace detail;
    SocketRecord* r = find_socket(s);
    if (!r) return SOCKET_ERROR;
    if (r->type == WS_SOCK_STREAM) return recv(s, buf, len, flags);   // the address is not filled in
    if (from && (!fromlen || *fromlen < static_cast<int>(sizeof(sockaddr_in)))) return fail(WSAEFAULT);
    if (const int32_t bad = check_recv(*r, buf, len, flags)) {
        after_recv(*r, -1, len, flags);
        return fail(bad);
    }
    sockaddr_in sender{};
    iovec part{buf, static_cast<size_t>(len)};
    msghdr message{};
    message.msg_name = &sender;
    message.msg_namelen = sizeof sender;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    ssize_t n;
    do {
        n = ::recvmsg(r->fd.get(), &message, flags);
    } while (n < 0 && errno == EINTR);
    const int e = n < 0 ? errno : 0;
    after_recv(*r, static_cast<int>(n), len, flags);
    if (n < 0) return fail(recv_error(*r, e, flags));
    if (from) copy_address_out(sender, from, fromlen);
    // Windows fails a truncated datagram with WSAEMSGSIZE; the buffer holds its first part.
    if (message.msg_flags & MSG_TRUNC) return fail(WSAEMSGSIZE);
    return static_cast<int>(n);
}

}  // namespace wsock
