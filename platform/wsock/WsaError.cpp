// WsaError.cpp: the errno -> Windows Sockets error table and the getaddrinfo result mapping.
//
// One table, in the libuv manner: each row names a WSA code, its Windows text and the Linux errno values
// that turn into it, so the mapping and the texts cannot drift apart. Context-dependent cases (EPIPE after
// a local shutdown, EINVAL from recv(MSG_OOB), ECONNABORTED from accept) are decided by the caller,
// which knows the context, before it reaches for this table.
#include "platform/wsock/WsaError.h"

#include <netdb.h>

#include <cerrno>

namespace wsock {
namespace {

struct ErrorRow {
    int32_t code;
    const char* name;
    const char* text;
    int errnos[3];   // Linux values mapping here; 0 ends the list
};

constexpr ErrorRow kErrors[] = {
    {WSAEINTR, "WSAEINTR", "Interrupted function call", {EINTR}},
    {WSAEBADF, "WSAEBADF", "File handle is not valid", {}},
    {WSAEACCES, "WSAEACCES", "Permission denied", {EACCES, EPERM}},
    {WSAEFAULT, "WSAEFAULT", "Bad address", {EFAULT}},
    {WSAEINVAL, "WSAEINVAL", "Invalid argument", {EINVAL}},
    {WSAEMFILE, "WSAEMFILE", "Too many open files", {EMFILE, ENFILE}},
    {WSAEWOULDBLOCK, "WSAEWOULDBLOCK", "Resource temporarily unavailable", {EAGAIN, EINPROGRESS}},
    {WSAEINPROGRESS, "WSAEINPROGRESS", "Operation now in progress", {}},
    {WSAEALREADY, "WSAEALREADY", "Operation already in progress", {EALREADY}},
    {WSAENOTSOCK, "WSAENOTSOCK", "Socket operation on nonsocket", {ENOTSOCK, EBADF}},
    {WSAEDESTADDRREQ, "WSAEDESTADDRREQ", "Destination address required", {EDESTADDRREQ}},
    {WSAEMSGSIZE, "WSAEMSGSIZE", "Message too long", {EMSGSIZE}},
    {WSAEPROTOTYPE, "WSAEPROTOTYPE", "Protocol wrong type for socket", {EPROTOTYPE}},
    {WSAENOPROTOOPT, "WSAENOPROTOOPT", "Bad protocol option", {ENOPROTOOPT}},
    {WSAEPROTONOSUPPORT, "WSAEPROTONOSUPPORT", "Protocol not supported", {EPROTONOSUPPORT}},
    {WSAESOCKTNOSUPPORT, "WSAESOCKTNOSUPPORT", "Socket type not supported", {ESOCKTNOSUPPORT}},
    {WSAEOPNOTSUPP, "WSAEOPNOTSUPP", "Operation not supported", {EOPNOTSUPP}},
    {WSAEPFNOSUPPORT, "WSAEPFNOSUPPORT", "Protocol family not supported", {EPFNOSUPPORT}},
    {WSAEAFNOSUPPORT, "WSAEAFNOSUPPORT", "Address family not supported by protocol family", {EAFNOSUPPORT}},
    {WSAEADDRINUSE, "WSAEADDRINUSE", "Address already in use", {EADDRINUSE}},
    {WSAEADDRNOTAVAIL, "WSAEADDRNOTAVAIL", "Cannot assign requested address", {EADDRNOTAVAIL}},
    {WSAENETDOWN, "WSAENETDOWN", "Network is down", {ENETDOWN}},
    {WSAENETUNREACH, "WSAENETUNREACH", "Network is unreachable", {ENETUNREACH}},
    {WSAENETRESET, "WSAENETRESET", "Network dropped connection on reset", {ENETRESET}},
    {WSAECONNABORTED, "WSAECONNABORTED", "Software caused connection abort", {ECONNABORTED}},
    // EPIPE without a local shutdown means the peer reset the connection.
    {WSAECONNRESET, "WSAECONNRESET", "Connection reset by peer", {ECONNRESET, EPIPE}},
    {WSAENOBUFS, "WSAENOBUFS", "No buffer space available", {ENOBUFS, ENOMEM}},
    {WSAEISCONN, "WSAEISCONN", "Socket is already connected", {EISCONN}},
    {WSAENOTCONN, "WSAENOTCONN", "Socket is not connected", {ENOTCONN}},
    {WSAESHUTDOWN, "WSAESHUTDOWN", "Cannot send after socket shutdown", {ESHUTDOWN}},
    {WSAETOOMANYREFS, "WSAETOOMANYREFS", "Too many references", {ETOOMANYREFS}},
    {WSAETIMEDOUT, "WSAETIMEDOUT", "Connection timed out", {ETIMEDOUT}},
    {WSAECONNREFUSED, "WSAECONNREFUSED", "Connection refused", {ECONNREFUSED}},
    {WSAELOOP, "WSAELOOP", "Cannot translate name", {ELOOP}},
    {WSAENAMETOOLONG, "WSAENAMETOOLONG", "Name too long", {ENAMETOOLONG}},
    {WSAEHOSTDOWN, "WSAEHOSTDOWN", "Host is down", {EHOSTDOWN}},
    {WSAEHOSTUNREACH, "WSAEHOSTUNREACH", "No route to host", {EHOSTUNREACH}},
    {WSASYSNOTREADY, "WSASYSNOTREADY", "Network subsystem is unavailable", {}},
    {WSAVERNOTSUPPORTED, "WSAVERNOTSUPPORTED", "Winsock.dll version out of range", {}},
    {WSANOTINITIALISED, "WSANOTINITIALISED", "Successful WSAStartup not yet performed", {}},
    {WSATYPE_NOT_FOUND, "WSATYPE_NOT_FOUND", "Class type not found", {}},
    {WSAHOST_NOT_FOUND, "WSAHOST_NOT_FOUND", "Host not found", {}},
    {WSATRY_AGAIN, "WSATRY_AGAIN", "Nonauthoritative host not found", {}},
    {WSANO_RECOVERY, "WSANO_RECOVERY", "This is a nonrecoverable error", {}},
    {WSANO_DATA, "WSANO_DATA", "Valid name, no data record of requested type", {}},
};

const ErrorRow* find_code(int32_t code) noexcept {
    for (const ErrorRow& row : kErrors)
        if (row.code == code) return &row;
    return nullptr;
}

struct GaiRow {
    int gai;
    int32_t code;
};

// getaddrinfo/getnameinfo results; EAI_SYSTEM is handled by the caller through errno.
constexpr GaiRow kGaiErrors[] = {
    {EAI_NONAME, WSAHOST_NOT_FOUND}, {EAI_AGAIN, WSATRY_AGAIN},      {EAI_FAIL, WSANO_RECOVERY},
    {EAI_NODATA, WSANO_DATA},        {EAI_ADDRFAMILY, WSANO_DATA},   {EAI_MEMORY, WSAENOBUFS},
    {EAI_FAMILY, WSAEAFNOSUPPORT},   {EAI_SOCKTYPE, WSAESOCKTNOSUPPORT}, {EAI_BADFLAGS, WSAEINVAL},
    {EAI_SERVICE, WSATYPE_NOT_FOUND}, {EAI_OVERFLOW, WSAENOBUFS},
};

}  // namespace

int32_t wsa_from_errno(int errno_value) noexcept {
    if (errno_value == 0) return 0;
    for (const ErrorRow& row : kErrors)
        for (int e : row.errnos) {
            if (e == 0) break;
            if (e == errno_value) return row.code;
        }
    return WSAEINVAL;
}

int32_t wsa_from_gai(int gai_result, int errno_value) noexcept {
    if (gai_result == 0) return 0;
    if (gai_result == EAI_SYSTEM) return errno_value != 0 ? wsa_from_errno(errno_value) : WSANO_RECOVERY;
    for (const GaiRow& row : kGaiErrors)
        if (row.gai == gai_result) return row.code;
    return WSANO_RECOVERY;
}

const char* wsa_error_text(int32_t code) noexcept {
    const ErrorRow* row = find_code(code);
    return row ? row->text : "Unknown error";
}

const char* wsa_error_name(int32_t code) noexcept {
    const ErrorRow* row = find_code(code);
    return row ? row->name : "";
}

}  // namespace wsock
