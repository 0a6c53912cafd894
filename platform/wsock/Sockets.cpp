// Sockets.cpp: creating, binding, listening, accepting, connecting, shutting down and closing sockets,
// and their names, with Windows Sockets 1.1 results over Linux calls.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "platform/wsock/SocketAddress.h"
#include "platform/wsock/ThreadSockets.h"

namespace wsock {
namespace detail {
namespace {

// The outcome of a blocking connect that a signal interrupted: Linux goes on connecting in the
// background, and connect must not be called again, so wait for the socket to become writable.
int32_t wait_for_connect(int fd) {
    pollfd p{fd, POLLOUT, 0};
    while (::poll(&p, 1, -1) < 0)
        if (errno != EINTR) return wsa_from_errno(errno);
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) return wsa_from_errno(errno);
    return wsa_from_errno(err);
}

// Connect failures that Windows reports through FD_CONNECT for a selected socket, not from connect.
bool is_connect_outcome(int e) {
    return e == ECONNREFUSED || e == ENETUNREACH || e == EHOSTUNREACH || e == ETIMEDOUT;
}

}  // namespace
}  // namespace detail

SOCKET socket(int af, int type, int protocol) {
    using namespace detail;
    if (!started()) return INVALID_SOCKET;
    if (af != WS_AF_INET) return fail(WSAEAFNOSUPPORT), INVALID_SOCKET;
    if (type != WS_SOCK_STREAM && type != WS_SOCK_DGRAM) return fail(WSAESOCKTNOSUPPORT), INVALID_SOCKET;
    const bool protocol_ok = protocol == 0 || (type == WS_SOCK_STREAM && protocol == IPPROTO_TCP) ||
                             (type == WS_SOCK_DGRAM && protocol == IPPROTO_UDP);
    if (!protocol_ok) return fail(WSAEPROTONOSUPPORT), INVALID_SOCKET;
    UniqueFd fd(::socket(AF_INET, (type == WS_SOCK_STREAM ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, protocol));
    if (!fd.valid()) return fail(wsa_from_errno(errno)), INVALID_SOCKET;
    if (type == WS_SOCK_STREAM) {
        // Windows lets a restarted server bind its port at once; Linux needs SO_REUSEADDR for that while
        // old connections sit in TIME_WAIT. On Linux it never lets two live sockets share a port.
        const int on = 1;
        ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    auto record = std::make_unique<SocketRecord>();
    record->handle = next_socket_handle();
    record->fd = std::move(fd);
    record->type = type;
    const SOCKET handle = record->handle;
    thread_sockets().sockets.emplace(handle, std::move(record));
    return handle;
}

int bind(SOCKET s, const sockaddr* name, int namelen) {
    using namespace detail;
    SocketRecord* r = find_socket(s);
    if (!r) return SOCKET_ERROR;
    if (const int32_t bad = check_address(name, namelen)) return fail(bad);
    if (r->bound) return fail(WSAEINVAL);
    sockaddr_in address = read_address(name);
    if (::bind(r->fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0)
        return fail(wsa_from_errno(errno));
    r->bound = true;
    if (r->state == SockState::fresh) r->state = SockState::bound;
    update_interest(*r, false);
    return 0;
}

int listen(SOCKET s, int backlog) {
    using namespace detail;
    SocketRecord* r = find_socket(s);
    if (!r) return SOCKET_ERROR;
    if (r->type != WS_SOCK_STREAM) return fail(WSAEOPNOTSUPP);
    if (!r->bound) return fail(WSAEINVAL);   // Windows does not bind implicitly here
    if (r->state == SockState::connected || r->state == SockState::connecting) return fail(WSAEISCONN);
    const int depth = backlog >= WS_SOMAXCONN ? SOMAXCONN : (backlog < 1 ? 1 : backlog);
    if (::listen(r->fd.get(), depth) < 0) return fail(wsa_from_errno(errno));
    r->state = SockState::listening;
    update_interest(*r, false);
    return 0;
}

SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen) {
    using namespace detail;
    SocketRecord* listener = find_socket(s);
    if (!listener) return INVALID_SOCKET;
    if (listener->state != SockState::listening) return fail(WSAEINVAL), INVALID_SOCKET;
    if (addr && (!addrlen || *addrlen < static_cast<int>(sizeof(sockaddr_in)))) return fail(WSAEFAULT), INVALID_SOCKET;
    sockaddr_in peer{};
    socklen_t peer_len = sizeof peer;
    const int flags = SOCK_CLOEXEC | (listener->nonblocking ? SOCK_NONBLOCK : 0);
    int fd;
    do {
        fd = ::accept4(listener->fd.get(), reinterpret_cast<sockaddr*>(&peer), &peer_len, flags);
    } while (fd < 0 && errno == EINTR);
    const int accept_errno = fd < 0 ? errno : 0;
    after_accept(*listener, accept_errno == EMFILE || accept_errno == ENFILE);
    if (fd < 0) {
        // A connection the peer aborted before we took it: Windows calls that a reset.
        return fail(accept_errno == ECONNABORTED ? WSAECONNRESET : wsa_from_errno(accept_errno)), INVALID_SOCKET;
    }
    auto record = std::make_unique<SocketRecord>();
    record->handle = next_socket_handle();
    record->fd.reset(fd);
    record->type = WS_SOCK_STREAM;
    record->state = SockState::connected;
    record->bound = true;
    record->nonblocking = listener->nonblocking;
    // The accepted socket inherits the listener's selection, and its first FD_WRITE.
    record->hwnd = listener->hwnd;
    record->msg = listener->msg;
    record->mask = listener->mask;
    SocketRecord& accepted = *record;
    const SOCKET handle = record->handle;
    thread_sockets().sockets.emplace(handle, std::move(record));
    post_event(accepted, FD_WRITE, 0);
    update_interest(accepted, false);
    if (addr) {
        std::memcpy(addr, &peer, sizeof peer);
        *addrlen = sizeof peer;
    } else if (addrlen) {
        *addrlen = sizeof peer;
    }
    return handle;
}

int connect(SOCKET s, const sockaddr* name, int namelen) {
    using namespace detail;
    SocketRecord* r = find_socket(s);
    if (!r) return SOCKET_ERROR;
    if (const int32_t bad = check_address(name, namelen)) return fail(bad);
    if (r->state == SockState::listening) return fail(WSAEINVAL);
    const sockaddr_in address = read_address(name);
    if (::connect(r->fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        r->bound = true;
        if (r->type == WS_SOCK_DGRAM) {
            if (r->state == SockState::fresh) r->state = SockState::bound;
            return 0;
        }
        if (r->state != SockState::connected) connect_finished(*r, 0);   // posts FD_CONNECT, FD_WRITE if selected
        return 0;
    }
    const int e = errno;
    if (r->type == WS_SOCK_DGRAM) return fail(wsa_from_errno(e));
    if (!r->nonblocking && e == EINTR) {
        const int32_t outcome = wait_for_connect(r->fd.get());
        if (outcome != 0) return r->state = SockState::connect_failed, fail(outcome);
        r->state = SockState::connected;
        r->bound = true;
        return 0;
    }
    if (e == EINPROGRESS || e == EINTR) {
        r->state = SockState::connecting;
        r->bound = true;
        update_interest(*r, false);
        return fail(WSAEWOULDBLOCK);
    }
    if (e == EISCONN) {
        if (r->state == SockState::connecting) connect_finished(*r, 0);
        return fail(WSAEISCONN);
    }
    if (r->nonblocking && r->mask != 0 && r->state != SockState::connecting && is_connect_outcome(e)) {
        // Windows reports even a refusal that is known at once through FD_CONNECT.
        connect_finished(*r, wsa_from_errno(e));
        return fail(WSAEWOULDBLOCK);
    }
    if (r->state == SockState::connecting && e != EALREADY) r->state = SockState::connect_failed;
    return fail(wsa_from_errno(e));
}

int shutdown(SOCKET s, int how) {
    using namespace detail;
    SocketRecord* r = find_socket(s);
    if (!r) return SOCKET_ERROR;
    if (how != SD_RECEIVE && how != SD_SEND && how != SD_BOTH) return fail(WSAEINVAL);
    if (r->type == WS_SOCK_STREAM && r->state != SockState::connected) return fail(WSAENOTCONN);
    if (::shutdown(r->fd.get(), how) < 0) return fail(wsa_from_errno(errno));
    if (how != SD_SEND) r->shut_rd = true;
    if (how != SD_RECEIVE) r->shut_wr = true;
    update_interest(*r, true);   // drops input interest after SD_RECEIVE (see AsyncSelect.cpp)
    return 0;
}

int closesocket(SOCKET s) {
    using namespace detail;
    SocketRecord* r = find_socket(s);
    if (!r) return SOCKET_ERROR;
    forget_interest(*r);   // no more posts; messages already queued stay queued
    thread_sockets().sockets.erase(s);
    return 0;
}

int getsockname(SOCKET s, sockaddr* name, int* namelen) {
    using namespace detail;
    SocketRecord* r = find_socket(s);
    if (!r) return SOCKET_ERROR;
    if (!r->bound) return fail(WSAEINVAL);   // Linux would answer 0.0.0.0:0
    sockaddr_in address{};
    socklen_t len = sizeof address;
    if (::getsockname(r->fd.get(), reinterpret_cast<sockaddr*>(&address), &len) < 0) return fail(wsa_from_errno(errno));
    return fail_or_zero(copy_address_out(address, name, namelen));
}

int getpeername(SOCKET s, sockaddr* name, int* namelen) {
    using namespace detail;
    SocketRecord* r = find_socket(s);
    if (!r) return SOCKET_ERROR;
    sockaddr_in address{};
    socklen_t len = sizeof address;
    if (::getpeername(r->fd.get(), reinterpret_cast<sockaddr*>(&address), &len) < 0) return fail(wsa_from_errno(errno));
    return fail_or_zero(copy_address_out(address, name, namelen));
}

}  // namespace wsock
