// Options.cpp: getsockopt/setsockopt with the Windows option numbers, ioctlsocket and inet_addr.
//
// Options are one table: each Windows (level, name) says how its value is converted and which Linux
// option carries it, so the generic code below never grows an if-chain per option.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <cstring>

#include "platform/wsock/ThreadSockets.h"

namespace wsock {
namespace detail {
namespace {

enum class Kind {
    boolean,       // BOOL <-> int 0/1
    integer,       // int as is
    buffer_size,   // Linux doubles what is set: report half, which is what was asked for
    linger,        // 4-byte LINGER <-> struct linger
    dont_linger,   // BOOL: !l_onoff
    timeout,       // DWORD milliseconds <-> struct timeval
    error,         // SO_ERROR, mapped to a WSA number
    reuse,         // SO_REUSEADDR: every stream socket has it on Linux (see socket()); report the request
    debug,         // SO_DEBUG needs privileges on Linux: remembered, not passed on
    read_only,     // get only; set fails with WSAENOPROTOOPT
};

struct OptionRow {
    int level;         // Windows level
    int name;          // Windows name
    Kind kind;
    int linux_level;
    int linux_name;
    int only_type;     // 0 any; WS_SOCK_STREAM or WS_SOCK_DGRAM where Windows 1.1 refuses the other
};

constexpr OptionRow kOptions[] = {
    {WS_SOL_SOCKET, WS_SO_DEBUG, Kind::debug, SOL_SOCKET, SO_DEBUG, 0},
    {WS_SOL_SOCKET, WS_SO_ACCEPTCONN, Kind::read_only, SOL_SOCKET, SO_ACCEPTCONN, 0},
    {WS_SOL_SOCKET, WS_SO_REUSEADDR, Kind::reuse, SOL_SOCKET, SO_REUSEADDR, 0},
    {WS_SOL_SOCKET, WS_SO_KEEPALIVE, Kind::boolean, SOL_SOCKET, SO_KEEPALIVE, WS_SOCK_STREAM},
    {WS_SOL_SOCKET, WS_SO_DONTROUTE, Kind::boolean, SOL_SOCKET, SO_DONTROUTE, 0},
    {WS_SOL_SOCKET, WS_SO_BROADCAST, Kind::boolean, SOL_SOCKET, SO_BROADCAST, WS_SOCK_DGRAM},
    {WS_SOL_SOCKET, WS_SO_LINGER, Kind::linger, SOL_SOCKET, SO_LINGER, WS_SOCK_STREAM},
    {WS_SOL_SOCKET, WS_SO_DONTLINGER, Kind::dont_linger, SOL_SOCKET, SO_LINGER, WS_SOCK_STREAM},
    {WS_SOL_SOCKET, WS_SO_OOBINLINE, Kind::boolean, SOL_SOCKET, SO_OOBINLINE, 0},
    {WS_SOL_SOCKET, WS_SO_SNDBUF, Kind::buffer_size, SOL_SOCKET, SO_SNDBUF, 0},
    {WS_SOL_SOCKET, WS_SO_RCVBUF, Kind::buffer_size, SOL_SOCKET, SO_RCVBUF, 0},
    {WS_SOL_SOCKET, WS_SO_SNDTIMEO, Kind::timeout, SOL_SOCKET, SO_SNDTIMEO, 0},
    {WS_SOL_SOCKET, WS_SO_RCVTIMEO, Kind::timeout, SOL_SOCKET, SO_RCVTIMEO, 0},
    {WS_SOL_SOCKET, WS_SO_ERROR, Kind::error, SOL_SOCKET, SO_ERROR, 0},
    {WS_SOL_SOCKET, WS_SO_TYPE, Kind::read_only, SOL_SOCKET, SO_TYPE, 0},
    {WS_IPPROTO_TCP, WS_TCP_NODELAY, Kind::boolean, IPPROTO_TCP, TCP_NODELAY, WS_SOCK_STREAM},
};
// Not in the table, so WSAENOPROTOOPT: SO_USELOOPBACK, SO_SNDLOWAT, SO_RCVLOWAT (unsupported by
// Windows Sockets too) and every unknown name or level.

const OptionRow* find_option(int level, int name) {
    for (const OptionRow& row : kOptions)
        if (row.level == level && row.name == name) return &row;
    return nullptr;
}

// A BOOL or int argument: 4 bytes, or fewer (callers pass a 1-byte BOOL for TCP_NODELAY).
int read_int(const char* value, int len) {
    if (len >= 4) {
        int v;
        std::memcpy(&v, value, sizeof v);
        return v;
    }
    return static_cast<unsigned char>(value[0]);
}

// Writes a 4-byte value, or 1 byte where the caller offered only that (TCP_NODELAY as Windows does).
int32_t write_int(int v, char* out, int* outlen) {
    if (*outlen >= 4) {
        std::memcpy(out, &v, sizeof v);
        *outlen = 4;
    } else {
        out[0] = static_cast<char>(v != 0);
        *outlen = 1;
    }
    return 0;
}

int32_t linux_get(const SocketRecord& r, const OptionRow& row, void* value, socklen_t size) {
    socklen_t len = size;
    return ::getsockopt(r.fd.get(), row.linux_level, row.linux_name, value, &len) < 0 ? wsa_from_errno(errno) : 0;
}

int32_t linux_set(const SocketRecord& r, const OptionRow& row, const void* value, socklen_t size) {
    return ::setsockopt(r.fd.get(), row.linux_level, row.linux_name, value, size) < 0 ? wsa_from_errno(errno) : 0;
}

int32_t get_option(const SocketRecord& r, const OptionRow& row, char* out, int* outlen) {
    const int minimum = row.kind == Kind::boolean ? 1 : 4;
    if (*outlen < minimum) return WSAEFAULT;
    // A socket's type never changes and the record holds it: the socket core checks the type before every
    // send and receive, and answering here saves two system calls per round trip on a busy connection.
    if (row.linux_level == SOL_SOCKET && row.linux_name == SO_TYPE) return write_int(r.type, out, outlen);
    int v = 0;
    switch (row.kind) {
    case Kind::linger:
    case Kind::dont_linger: {
        linger l{};
        if (const int32_t e = linux_get(r, row, &l, sizeof l)) return e;
        if (row.kind == Kind::dont_linger) return write_int(l.l_onoff == 0, out, outlen);
        const LINGER w{static_cast<uint16_t>(l.l_onoff ? 1 : 0), static_cast<uint16_t>(l.l_linger)};
        std::memcpy(out, &w, sizeof w);
        *outlen = sizeof w;
        return 0;
    }
    case Kind::timeout: {
        timeval tv{};
        if (const int32_t e = linux_get(r, row, &tv, sizeof tv)) return e;
        return write_int(static_cast<int>(tv.tv_sec * 1000 + tv.tv_usec / 1000), out, outlen);
    }
    case Kind::reuse:
        return write_int(r.reuseaddr_requested, out, outlen);
    case Kind::debug:
        return write_int(r.debug_requested, out, outlen);
    default:
        break;
    }
    if (const int32_t e = linux_get(r, row, &v, sizeof v)) return e;
    if (row.kind == Kind::boolean) v = v != 0;
    if (row.kind == Kind::buffer_size) v /= 2;
    if (row.kind == Kind::error) v = wsa_from_errno(v);
    return write_int(v, out, outlen);
}

int32_t set_option(SocketRecord& r, const OptionRow& row, const char* value, int len) {
    const int minimum = row.kind == Kind::boolean || row.kind == Kind::dont_linger || row.kind == Kind::reuse ||
                                row.kind == Kind::debug
                            ? 1
                            : 4;
    if (len < minimum) return WSAEFAULT;
    switch (row.kind) {
    case Kind::read_only:
    case Kind::error:
        return WSAENOPROTOOPT;
    case Kind::debug:
        r.debug_requested = read_int(value, len) != 0;
        return 0;
    case Kind::reuse:
        r.reuseaddr_requested = read_int(value, len) != 0;
        if (r.type == WS_SOCK_STREAM) return 0;   // already on (see socket())
        break;
    case Kind::linger: {
        LINGER w;
        std::memcpy(&w, value, sizeof w);
        const linger l{w.l_onoff != 0, w.l_linger};
        return linux_set(r, row, &l, sizeof l);
    }
    case Kind::dont_linger: {
        // TRUE: close in the background. FALSE: linger with the time set before (0 = abortive close).
        linger l{};
        if (const int32_t e = linux_get(r, row, &l, sizeof l)) return e;
        l.l_onoff = read_int(value, len) == 0;
        return linux_set(r, row, &l, sizeof l);
    }
    case Kind::timeout: {
        const int ms = read_int(value, len);
        const timeval tv{ms / 1000, (ms % 1000) * 1000};
        return ms < 0 ? WSAEINVAL : linux_set(r, row, &tv, sizeof tv);
    }
    default:
        break;
    }
    int v = read_int(value, len);
    if (row.kind == Kind::boolean || row.kind == Kind::reuse) v = v != 0;
    return linux_set(r, row, &v, sizeof v);
}

// Looks the option up for socket `r`: the row, or null with the WSA error in `error`.
const OptionRow* option_for(const SocketRecord& r, int level, int name, int32_t& error) {
    const OptionRow* row = find_option(level, name);
    if (!row || (row->only_type != 0 && row->only_type != r.type)) {
        error = WSAENOPROTOOPT;
        return nullptr;
    }
    return row;
}

}  // namespace
}  // namespace detail

int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen) {
    using namespace detail;
    SocketRecord* r = find_socket(s);
    if (!r) return SOCKET_ERROR;
    if (!optval || !optlen) return fail(WSAEFAULT);
    int32_t error = 0;
    const OptionRow* row = option_for(*r, level, optname, error);
    if (!row) return fail(error);
    if (const int32_t e = get_option(*r, *row, optval, optlen)) return fail(e);
    return 0;
}

int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
    using namespace detail;
    SocketRecord* r = find_socket(s);
    if (!r) return SOCKET_ERROR;
    if (!optval) return fail(WSAEFAULT);
    int32_t error = 0;
    const OptionRow* row = option_for(*r, level, optname, error);
    if (!row) return fail(error);
    if (const int32_t e = set_option(*r, *row, optval, optlen)) return fail(e);
    return 0;
}

int ioctlsocket(SOCKET s, int32_t cmd, uint32_t* argp) {
    using namespace detail;
    SocketRecord* r = find_socket(s);
    if (!r) return SOCKET_ERROR;
    if (!argp) return fail(WSAEFAULT);
    if (cmd == WS_FIONREAD) {
        int n = 0;
        if (::ioctl(r->fd.get(), FIONREAD, &n) < 0) return fail(wsa_from_errno(errno));
        *argp = static_cast<uint32_t>(n);   // not a re-enabling call: posts nothing
        return 0;
    }
    if (cmd == WS_FIONBIO) {
        const bool want_nonblocking = *argp != 0;
        if (!want_nonblocking && r->mask != 0) return fail(WSAEINVAL);   // cancel the selection first
        const int flags = ::fcntl(r->fd.get(), F_GETFL);
        const int wanted = want_nonblocking ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
        if (flags < 0 || ::fcntl(r->fd.get(), F_SETFL, wanted) < 0) return fail(wsa_from_errno(errno));
        r->nonblocking = want_nonblocking;
        return 0;
    }
    if (cmd == WS_SIOCATMARK) {
        // Windows: TRUE when no urgent data waits to be read (Linux's SIOCATMARK means something else).
        pollfd p{r->fd.get(), POLLPRI, 0};
        const bool urgent = ::poll(&p, 1, 0) > 0 && (p.revents & POLLPRI);
        *argp = urgent ? 0 : 1;
        return 0;
    }
    return fail(WSAEINVAL);
}

uint32_t inet_addr(const char* text) {
    if (!text) {
        detail::fail(WSAEFAULT);
        return WS_INADDR_NONE;
    }
    // Windows reads a single blank as 0.0.0.0; glibc rejects it. Everything else parses alike.
    if (std::strcmp(text, " ") == 0) return 0;
    return ::inet_addr(text);
}

}  // namespace wsock
