// WinSock.h: Windows Sockets 1.1 as the socket control expects it, over non-blocking POSIX sockets and
// the thread's message pump (platform/msgloop).
//
// What callers can rely on:
// - Functions keep their Windows names and signatures (32-bit handles, int lengths, SOCKET_ERROR and a
//   per-thread WSAGetLastError()). Error numbers are the WSA ones (WsaError.h).
// - State is per thread, like the socket control's: WSAStartup/WSACleanup count per thread; a socket
//   belongs to the thread that created it (other threads get WSAENOTSOCK). The last WSACleanup of a
//   thread closes that thread's sockets and cancels its host lookups, as Windows does.
// - Socket handles are synthetic: never 0, never INVALID_SOCKET, never reused in the process, so a
//   notification still queued for a closed socket can never reach a newer one. A closed handle gives
//   WSAENOTSOCK (10038).
// - Sockets start blocking (the client library's synchronous sockets use that). WSAAsyncSelect makes
//   a socket non-blocking and posts notifications to a msgloop window: wParam = socket handle,
//   lParam = event bit in the low word, WSA error in the high word, one event per message. The
//   posting and re-enabling rules are those of Windows (see AsyncSelect.cpp). Posting only queues;
//   nothing of the caller runs inside these functions. FD_CLOSE carries 0 for a graceful close and
//   WSAECONNRESET (10054, the documented value) for a reset; recv then keeps failing with 10054.
// - No call ever raises SIGPIPE.
//
// Names that Linux headers define as macros (SOL_SOCKET, SO_*, FIONREAD, MSG_*, AF_INET, INADDR_NONE,
// htons ...) carry a WS_ prefix here, with the Windows values. htons/ntohs are not wrapped: glibc makes
// them macros and their result is the same as on Windows; use ::htons / ::ntohs.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/msgloop/MessageLoop.h"
#include "platform/wsock/WsaError.h"

namespace wsock {

using SOCKET = uint32_t;
using HANDLE = uint32_t;   // asynchronous lookup task handle; 0 = none
using HWND = msgloop::Hwnd;

constexpr SOCKET INVALID_SOCKET = 0xFFFFFFFFu;
constexpr int SOCKET_ERROR = -1;

// Notification events (lEvent bits and the low word of a notification).
constexpr int32_t FD_READ = 0x01;
constexpr int32_t FD_WRITE = 0x02;
constexpr int32_t FD_OOB = 0x04;
constexpr int32_t FD_ACCEPT = 0x08;
constexpr int32_t FD_CONNECT = 0x10;
constexpr int32_t FD_CLOSE = 0x20;
constexpr int32_t FD_ALL_EVENTS = 0x3F;

// Reply words of notifications and lookup replies.
constexpr int32_t WSAMAKESELECTREPLY(int32_t event, int32_t error) {
    return static_cast<int32_t>((static_cast<uint32_t>(event) & 0xFFFFu) |
                                (static_cast<uint32_t>(error) << 16));
}
constexpr int32_t WSAGETSELECTEVENT(int32_t lparam) { return static_cast<int32_t>(lparam & 0xFFFF); }
constexpr int32_t WSAGETSELECTERROR(int32_t lparam) {
    return static_cast<int32_t>((static_cast<uint32_t>(lparam) >> 16) & 0xFFFFu);
}
constexpr int32_t WSAMAKEASYNCREPLY(int32_t buflen, int32_t error) { return WSAMAKESELECTREPLY(buflen, error); }
constexpr int32_t WSAGETASYNCBUFLEN(int32_t lparam) { return WSAGETSELECTEVENT(lparam); }
constexpr int32_t WSAGETASYNCERROR(int32_t lparam) { return WSAGETSELECTERROR(lparam); }

// Families, types, flags, shutdown modes, addresses (Windows values).
constexpr int WS_AF_INET = 2;
constexpr int WS_SOCK_STREAM = 1;
constexpr int WS_SOCK_DGRAM = 2;
constexpr int WS_MSG_OOB = 1;
constexpr int WS_MSG_PEEK = 2;
constexpr int WS_MSG_DONTROUTE = 4;
constexpr int SD_RECEIVE = 0;
constexpr int SD_SEND = 1;
constexpr int SD_BOTH = 2;
constexpr uint32_t WS_INADDR_ANY = 0;
constexpr uint32_t WS_INADDR_NONE = 0xFFFFFFFFu;
constexpr int WS_SOMAXCONN = 5;   // winsock.h 1.1: "as many as reasonable"; see listen()

// Socket options (getsockopt/setsockopt levels and names, Windows numbering).
constexpr int WS_SOL_SOCKET = 0xFFFF;
constexpr int WS_IPPROTO_TCP = 6;
constexpr int WS_TCP_NODELAY = 1;
constexpr int WS_SO_DEBUG = 0x0001;
constexpr int WS_SO_ACCEPTCONN = 0x0002;
constexpr int WS_SO_REUSEADDR = 0x0004;
constexpr int WS_SO_KEEPALIVE = 0x0008;
constexpr int WS_SO_DONTROUTE = 0x0010;
constexpr int WS_SO_BROADCAST = 0x0020;
constexpr int WS_SO_USELOOPBACK = 0x0040;
constexpr int WS_SO_LINGER = 0x0080;
constexpr int WS_SO_OOBINLINE = 0x0100;
constexpr int WS_SO_DONTLINGER = ~WS_SO_LINGER;   // -129
constexpr int WS_SO_SNDBUF = 0x1001;
constexpr int WS_SO_RCVBUF = 0x1002;
constexpr int WS_SO_SNDLOWAT = 0x1003;
constexpr int WS_SO_RCVLOWAT = 0x1004;
constexpr int WS_SO_SNDTIMEO = 0x1005;
constexpr int WS_SO_RCVTIMEO = 0x1006;
constexpr int WS_SO_ERROR = 0x1007;
constexpr int WS_SO_TYPE = 0x1008;

// ioctlsocket commands (Windows values; as signed 32-bit numbers FIONBIO is negative).
constexpr int32_t WS_FIONREAD = 0x4004667F;
constexpr int32_t WS_FIONBIO = static_cast<int32_t>(0x8004667Eu);
constexpr int32_t WS_SIOCATMARK = 0x40047307;

// The Windows LINGER record: 4 bytes (Linux's struct linger has two ints).
struct LINGER {
    uint16_t l_onoff;
    uint16_t l_linger;   // seconds
};

struct WSADATA {
    uint16_t wVersion;
    uint16_t wHighVersion;
    char szDescription[257];
    char szSystemStatus[129];
    uint16_t iMaxSockets;
    uint16_t iMaxUdpDg;
};

// Message numbers the socket control uses with this layer.
constexpr uint32_t kSocketNotifyMessage = msgloop::kWmUser + 1;   // 0x401, WSAAsyncSelect
constexpr uint32_t kNameLookupMessage = msgloop::kWmUser + 2;     // 0x402, WSAAsyncGetHostByName
constexpr uint32_t kAddressLookupMessage = msgloop::kWmUser + 3;  // 0x403, WSAAsyncGetHostByAddr

constexpr int MAXGETHOSTSTRUCT = 1024;

// --- start-up ---
// Counts one start-up on this thread; 0, or WSAVERNOTSUPPORTED when `version` asks for less than 1.1.
// `data` may be null. Every other call fails with WSANOTINITIALISED (10093) while the count is 0.
int WSAStartup(uint16_t version, WSADATA* data);
// Counts one clean-up; the last one closes the thread's sockets and cancels its lookups. 0 or
// SOCKET_ERROR (WSANOTINITIALISED).
int WSACleanup();
int WSAGetLastError() noexcept;
void WSASetLastError(int error) noexcept;

// --- sockets (Windows Sockets 1.1 semantics; failures return SOCKET_ERROR / INVALID_SOCKET and set
//     the thread's last error) ---
SOCKET socket(int af, int type, int protocol);
int bind(SOCKET s, const sockaddr* name, int namelen);
// `backlog` >= WS_SOMAXCONN (5, the 1.1 headers' SOMAXCONN, what the socket control passes) asks for the
// system's maximum backlog, as Windows reads SOMAXCONN; smaller values are kept (at least 1). A literal
// backlog of 5 on Linux would drop connection bursts that Windows accepts.
int listen(SOCKET s, int backlog);
// The new socket inherits the listener's WSAAsyncSelect (and so is non-blocking when it is).
SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen);
// Blocking sockets wait for the outcome. Async-selected sockets return SOCKET_ERROR/WSAEWOULDBLOCK and
// later post FD_CONNECT (error in the high word, e.g. WSAECONNREFUSED), then FD_WRITE on success.
int connect(SOCKET s, const sockaddr* name, int namelen);
int send(SOCKET s, const char* buf, int len, int flags);
int sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int tolen);
int recv(SOCKET s, char* buf, int len, int flags);
// A datagram longer than `len` fails with WSAEMSGSIZE; `buf` holds its first `len` bytes.
int recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromlen);
int shutdown(SOCKET s, int how);
int closesocket(SOCKET s);
int getsockname(SOCKET s, sockaddr* name, int* namelen);
int getpeername(SOCKET s, sockaddr* name, int* namelen);
// Levels WS_SOL_SOCKET and WS_IPPROTO_TCP with the WS_SO_* / WS_TCP_NODELAY names. BOOL and int options
// take 4 bytes (TCP_NODELAY also reads into a 1-byte buffer), SO_LINGER a 4-byte LINGER,
// SO_SNDTIMEO/SO_RCVTIMEO milliseconds. SO_SNDBUF/SO_RCVBUF read back what was set (not Linux's double).
// Unknown options give WSAENOPROTOOPT. The socket control's option number -1 for TCP_NODELAY is its own
// alias: it passes (WS_IPPROTO_TCP, WS_TCP_NODELAY) here.
int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen);
int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
// WS_FIONREAD (bytes a recv can return), WS_FIONBIO (non-zero = non-blocking; 0 fails with WSAEINVAL
// while async-selected), WS_SIOCATMARK (TRUE when no urgent data waits). Others: WSAEINVAL.
int ioctlsocket(SOCKET s, int32_t cmd, uint32_t* argp);
// Network-order address of dotted text; WS_INADDR_NONE for text that does not parse (no error set).
uint32_t inet_addr(const char* text);

// --- notifications ---
// Selects `events` (FD_* bits) for posting `msg` to `hwnd` (a window of this thread's msgloop); replaces
// any earlier selection and posts what already holds (except FD_CONNECT). `events` 0 stops posting;
// messages already queued stay queued. The socket becomes non-blocking either way.
int WSAAsyncSelect(SOCKET s, HWND hwnd, uint32_t msg, int32_t events);

// --- asynchronous host lookups ---
// The lookup runs on a helper thread; exactly one reply `msg` is posted to `hwnd` later (never inside
// the call): wParam = the task handle, lParam = WSAMAKEASYNCREPLY(bytes used or needed, error). On
// success `buf` holds a host entry laid out like the 32-bit Windows hostent, except that its pointers
// are byte offsets from the start of `buf` (64-bit pointers do not fit the 16-byte record):
//     0  uint32 offset of h_name (zero-terminated text)
//     4  uint32 offset of h_aliases (uint32 offsets, ended by 0)
//     8  int16  h_addrtype (2)
//    10  int16  h_length (4)
//    12  uint32 offset of h_addr_list (uint32 offsets of 4 network-order bytes each, ended by 0)
// followed by the data; parse_hostent() reads it. A buffer too small gives WSAENOBUFS with the size
// needed in the low word. Errors: WSAHOST_NOT_FOUND 11001, WSATRY_AGAIN 11002, WSANO_RECOVERY 11003,
// WSANO_DATA 11004. `buf` must stay valid until the reply or a successful cancel. An empty name is the
// local host; dotted text resolves to itself. Returns 0 (and sets the last error) if it cannot start.
HANDLE WSAAsyncGetHostByName(HWND hwnd, uint32_t msg, const char* name, char* buf, int buflen);
// `addr` points at `len` (4) address bytes in network order, `type` WS_AF_INET.
HANDLE WSAAsyncGetHostByAddr(HWND hwnd, uint32_t msg, const char* addr, int len, int type, char* buf, int buflen);
// 0: no reply will come. SOCKET_ERROR with WSAEALREADY when the reply was already posted, WSAEINVAL for
// an unknown handle.
int WSACancelAsyncRequest(HANDLE task);

// A host entry read back from a lookup buffer.
struct HostEntry {
    std::string name;                  // official name
    std::vector<std::string> aliases;
    std::vector<uint32_t> addresses;   // IPv4, network order
};
// Reads the layout above; false when the buffer does not hold a well-formed entry.
bool parse_hostent(const char* buf, int buflen, HostEntry& out);

// The blocking lookup (gethostbyname's part in Windows Sockets) for synchronous callers, who run no pump
// for a reply to arrive through: resolves `name` as WSAAsyncGetHostByName does, on the calling thread.
// 0 with `out` filled, or SOCKET_ERROR with the last error (11001 ... 11004, WSANOTINITIALISED, WSAEFAULT).
int get_host_by_name(const char* name, HostEntry& out);

}  // namespace wsock
