// AsyncSelect.cpp: WSAAsyncSelect and the rules that turn socket readiness into notification messages.
//
// The rules, as Windows applies them:
// - FD_READ: posted when data is queued and no FD_READ is outstanding; recv/recvfrom re-enable it (any
//   call, even a failing one) and re-post at once when data is still queued (level behaviour).
// - FD_WRITE: after FD_CONNECT, on an accepted socket, at select time when writable; after that only
//   when a send failed with WSAEWOULDBLOCK and room came back (successful sends post nothing).
// - FD_OOB: like FD_READ, for urgent data (SO_OOBINLINE off).
// - FD_ACCEPT: posted when a connection is pending and none is outstanding; accept re-enables.
// - FD_CONNECT: once, with the outcome (error in the high word, e.g. WSAECONNREFUSED).
// - FD_CLOSE: once per connection when the peer's FIN or a reset arrives (error 0 for FIN,
//   WSAECONNRESET for a reset), after an FD_READ for data still queued.
// - One message per event; posting only queues on the thread's pump.
//
// epoll is level-triggered (see msgloop). The interest set follows the flags above lazily: calls of the
// application only ever add bits, and a bit is removed only when it fires while already unwanted (an
// FD_READ that nobody has answered by the next pass). When the application reads within the same pass
// as its FD_READ (the normal case) the interest never changes, so a busy connection costs no epoll_ctl.
//
// Limitation: after a local shutdown(SD_RECEIVE or SD_BOTH) Linux reports the socket as at end of
// input, which is not the peer closing; such sockets stop watching for input, so no FD_CLOSE follows.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/wsock/ThreadSockets.h"

namespace wsock {
namespace detail {
namespace {

namespace io = msgloop::io;

bool selected(const SocketRecord& r, int32_t event) { return r.hwnd != 0 && (r.mask & event) != 0; }

int32_t pending_socket_error(const SocketRecord& r) noexcept {
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(r.fd.get(), SOL_SOCKET, SO_ERROR, &err, &len) < 0) return wsa_from_errno(errno);
    return wsa_from_errno(err);
}

// The epoll interest that the current flags call for.
uint32_t wanted(const SocketRecord& r) {
    if (r.hwnd == 0 || r.mask == 0) return 0;
    switch (r.state) {
    case SockState::listening:
        return selected(r, FD_ACCEPT) && !r.accept_posted && !r.accept_backoff ? io::kIn : 0;
    case SockState::connecting:
        return io::kOut;
    case SockState::connect_failed:
        return 0;
    case SockState::fresh:
    case SockState::bound:
        if (r.type == WS_SOCK_STREAM) return 0;   // an unconnected TCP socket reports EPOLLOUT|EPOLLHUP
        break;
    case SockState::connected:
        break;
    }
    uint32_t bits = r.write_armed ? io::kOut : 0;
    if (r.type == WS_SOCK_DGRAM) return bits | (selected(r, FD_READ) && !r.read_posted ? io::kIn : 0);
    if (r.eof_seen || r.shut_rd) return bits;
    bits |= io::kRdHup;
    if (selected(r, FD_READ) && !r.read_posted) bits |= io::kIn;
    if (selected(r, FD_OOB) && !r.oob_posted) bits |= io::kPri;
    return bits;
}

void apply_interest(SocketRecord& r, uint32_t bits) {
    msgloop::MessageLoop& loop = msgloop::MessageLoop::current();
    if (bits == 0) {
        forget_interest(r);
        return;
    }
    if (!r.watched) {
        if (loop.watch_fd(r.fd.get(), bits, &r) != 0) return;   // only on exhaustion; the socket stays quiet
        r.watched = true;
    } else if (loop.modify_fd(r.fd.get(), bits) != 0) {
        return;
    }
    r.registered = bits;
}

bool urgent_data_waiting(const SocketRecord& r) {
    pollfd p{r.fd.get(), POLLPRI, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLPRI);
}

// End of input (FIN, or both directions finished): a last FD_READ for data still queued, then FD_CLOSE.
void input_ended(SocketRecord& r) {
    if (!r.eof_seen && !r.shut_rd) {
        if (selected(r, FD_READ) && !r.read_posted && bytes_available(r) > 0) {
            post_event(r, FD_READ, 0);
            r.read_posted = true;
        }
        r.eof_seen = true;
    }
    if (!r.close_posted && !r.shut_rd) {
        post_event(r, FD_CLOSE, r.sticky_error);
        r.close_posted = true;
    }
    if (r.shut_rd) r.eof_seen = true;   // local shutdown: nothing to announce, stop watching input
}

void serve_connected(SocketRecord& r, uint32_t events) {
    if (events & io::kErr) {
        const int32_t error = pending_socket_error(r);
        if (r.type == WS_SOCK_STREAM) {
            r.sticky_error = error != 0 ? error : WSAECONNRESET;
            input_ended(r);
            return;
        }
        // Datagram: an ICMP error for an earlier send; nothing to post, the kernel error is consumed.
    }
    if ((events & io::kPri) && selected(r, FD_OOB) && !r.oob_posted) {
        post_event(r, FD_OOB, 0);
        r.oob_posted = true;
    }
    if ((events & io::kIn) && selected(r, FD_READ) && !r.read_posted && !r.eof_seen) {
        // Without a FIN in the same report, EPOLLIN on a stream means data; with one, ask.
        const bool data = r.type == WS_SOCK_DGRAM || !(events & (io::kRdHup | io::kHup)) || bytes_available(r) > 0;
        if (data) {
            post_event(r, FD_READ, 0);
            r.read_posted = true;
        }
    }
    if ((events & io::kOut) && r.write_armed) {
        r.write_armed = false;
        post_event(r, FD_WRITE, 0);
    }
    if (r.type == WS_SOCK_STREAM && (events & (io::kRdHup | io::kHup))) input_ended(r);
}

}  // namespace

void post_event(SocketRecord& r, int32_t event, int32_t error) {
    if (!selected(r, event)) return;
    msgloop::MessageLoop::current().post_message(r.hwnd, r.msg, r.handle, WSAMAKESELECTREPLY(event, error));
}

void update_interest(SocketRecord& r, bool exact) {
    const uint32_t bits = wanted(r);
    if (exact ? bits != r.registered : (bits & ~r.registered) != 0) apply_interest(r, exact ? bits : bits | r.registered);
}

int bytes_available(const SocketRecord& r) noexcept {
    int n = 0;
    if (::ioctl(r.fd.get(), FIONREAD, &n) < 0) return 0;
    return n;
}

void connect_finished(SocketRecord& r, int32_t error) {
    if (error == 0) {
        r.state = SockState::connected;
        r.bound = true;
        post_event(r, FD_CONNECT, 0);
        if (selected(r, FD_WRITE)) post_event(r, FD_WRITE, 0);
    } else {
        r.state = SockState::connect_failed;
        post_event(r, FD_CONNECT, error);   // no FD_WRITE and no FD_CLOSE follow a failed connect
    }
    update_interest(r, true);
}

void SocketRecord::on_fd_ready(int, uint32_t events) {
    SocketRecord& r = *this;
    const uint32_t before = wanted(r);
    switch (r.state) {
    case SockState::connecting:
        if (events & (io::kOut | io::kErr | io::kHup)) connect_finished(r, pending_socket_error(r));
        return;
    case SockState::listening:
        if ((events & io::kIn) && selected(r, FD_ACCEPT) && !r.accept_posted && !r.accept_backoff) {
            post_event(r, FD_ACCEPT, 0);
            r.accept_posted = true;
        }
        break;
    default:
        serve_connected(r, events);
        break;
    }
    // Lazy narrowing: a bit that fired while it was already unwanted is dropped now; one that fired and
    // was served stays registered, since the application normally re-enables it within this pass.
    const uint32_t stale = events & r.registered & ~before;
    const uint32_t next = (r.registered & ~stale) | wanted(r);
    if (next != r.registered) apply_interest(r, next);
}

void after_recv(SocketRecord& r, int result, int len, int flags) {
    if (r.mask == 0) return;
    r.read_posted = false;
    r.oob_posted = false;
    // Data may remain: after a peek, when the buffer was filled, or after the end of input (the socket is
    // no longer watched then). Otherwise the level-triggered watch reports any data that arrives.
    const bool may_remain = result > 0 && r.type == WS_SOCK_STREAM &&
                            ((flags & WS_MSG_PEEK) || result == len || r.eof_seen);
    if (may_remain && selected(r, FD_READ) && bytes_available(r) > 0) {
        post_event(r, FD_READ, 0);
        r.read_posted = true;
    }
    if (r.eof_seen && selected(r, FD_OOB) && urgent_data_waiting(r)) {
        post_event(r, FD_OOB, 0);
        r.oob_posted = true;
    }
    update_interest(r, false);
}

void after_send_would_block(SocketRecord& r) {
    if (r.mask == 0) return;
    r.write_armed = true;
    update_interest(r, false);
}

void after_accept(SocketRecord& listener, bool out_of_descriptors) {
    listener.accept_posted = false;
    if (out_of_descriptors && !listener.accept_backoff) {
        // The pending connection would re-post FD_ACCEPT on every pass while accept keeps failing:
        // wait one tick before listening again.
        listener.accept_backoff = true;
        const SOCKET handle = listener.handle;
        msgloop::MessageLoop::current().add_timer(
            std::chrono::milliseconds(100),
            [handle] {
                ThreadSockets* state = thread_sockets_if_alive();
                if (state == nullptr) return;
                const auto it = state->sockets.find(handle);
                if (it == state->sockets.end()) return;
                it->second->accept_backoff = false;
                update_interest(*it->second, false);
            },
            msgloop::TimerMode::once);
    }
    update_interest(listener, false);
}

}  // namespace detail

int WSAAsyncSelect(SOCKET s, HWND hwnd, uint32_t msg, int32_t events) {
    using namespace detail;
    SocketRecord* r = find_socket(s);
    if (!r) return SOCKET_ERROR;
    events &= FD_ALL_EVENTS;
    if (events != 0 && !msgloop::MessageLoop::current().is_window(hwnd)) return fail(WSAEINVAL);
    if (!r->nonblocking) {
        const int flags = ::fcntl(r->fd.get(), F_GETFL);
        if (flags < 0 || ::fcntl(r->fd.get(), F_SETFL, flags | O_NONBLOCK) < 0) return fail(wsa_from_errno(errno));
        r->nonblocking = true;
    }
    if (r->state == SockState::connecting && !r->watched) {
        // A connect started without a selection may have finished meanwhile; its outcome is not
        // re-posted (Windows posts FD_CONNECT only for a connect made while selected).
        pollfd p{r->fd.get(), POLLOUT, 0};
        if (::poll(&p, 1, 0) > 0) {
            const int32_t error = pending_socket_error(*r);
            r->state = error == 0 ? SockState::connected : SockState::connect_failed;
            if (error == 0) r->bound = true;
        }
    }
    r->hwnd = events != 0 ? hwnd : 0;
    r->msg = msg;
    r->mask = events;
    // Re-evaluate every condition: what holds now is posted again through the watch (FD_READ for queued
    // data, FD_ACCEPT for a pending connection, FD_OOB, FD_CLOSE for a peer that already closed) or
    // directly (FD_WRITE when writable).
    r->read_posted = r->oob_posted = r->accept_posted = false;
    r->close_posted = false;
    if (r->eof_seen && !r->shut_rd) {
        r->eof_seen = false;   // the watch sees the end of input again and posts FD_CLOSE once more
    }
    const bool can_write = r->state == SockState::connected || r->type == WS_SOCK_DGRAM;
    r->write_armed = can_write && (events & FD_WRITE) != 0;
    update_interest(*r, true);
    return 0;
}

}  // namespace wsock
