// WsaError.h: the Windows Sockets error numbers and the one table that maps Linux errno values (and
// getaddrinfo results) to them, with the short Windows description of each.
#pragma once

#include <cstdint>

namespace wsock {

enum WsaError : int32_t {
    WSAEINTR = 10004,
    WSAEBADF = 10009,
    WSAEACCES = 10013,
    WSAEFAULT = 10014,
    WSAEINVAL = 10022,
    WSAEMFILE = 10024,
    WSAEWOULDBLOCK = 10035,
    WSAEINPROGRESS = 10036,
    WSAEALREADY = 10037,
    WSAENOTSOCK = 10038,
    WSAEDESTADDRREQ = 10039,
    WSAEMSGSIZE = 10040,
    WSAEPROTOTYPE = 10041,
    WSAENOPROTOOPT = 10042,
    WSAEPROTONOSUPPORT = 10043,
    WSAESOCKTNOSUPPORT = 10044,
    WSAEOPNOTSUPP = 10045,
    WSAEPFNOSUPPORT = 10046,
    WSAEAFNOSUPPORT = 10047,
    WSAEADDRINUSE = 10048,
    WSAEADDRNOTAVAIL = 10049,
    WSAENETDOWN = 10050,
    WSAENETUNREACH = 10051,
    WSAENETRESET = 10052,
    WSAECONNABORTED = 10053,
    WSAECONNRESET = 10054,
    WSAENOBUFS = 10055,
    WSAEISCONN = 10056,
    WSAENOTCONN = 10057,
    WSAESHUTDOWN = 10058,
    WSAETOOMANYREFS = 10059,
    WSAETIMEDOUT = 10060,
    WSAECONNREFUSED = 10061,
    WSAELOOP = 10062,
    WSAENAMETOOLONG = 10063,
    WSAEHOSTDOWN = 10064,
    WSAEHOSTUNREACH = 10065,
    WSASYSNOTREADY = 10091,
    WSAVERNOTSUPPORTED = 10092,
    WSANOTINITIALISED = 10093,
    WSATYPE_NOT_FOUND = 10109,
    WSAHOST_NOT_FOUND = 11001,
    WSATRY_AGAIN = 11002,
    WSANO_RECOVERY = 11003,
    WSANO_DATA = 11004,
};

// The WSA number for a Linux errno value (EAGAIN and EINPROGRESS -> 10035, EBADF -> 10038, ...).
// Values without an entry map to WSAEINVAL (10022): Windows has no number for them.
int32_t wsa_from_errno(int errno_value) noexcept;

// The WSA number for a getaddrinfo/getnameinfo result (EAI_NONAME -> 11001, EAI_AGAIN -> 11002, ...);
// EAI_SYSTEM takes `errno_value`.
int32_t wsa_from_gai(int gai_result, int errno_value) noexcept;

// Short Windows description ("Connection refused"); "Unknown error" for numbers not in the table.
const char* wsa_error_text(int32_t code) noexcept;

// Symbolic name ("WSAECONNREFUSED"); "" for numbers not in the table.
const char* wsa_error_name(int32_t code) noexcept;

}  // namespace wsock
