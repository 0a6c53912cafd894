// SocketAddress.h (internal to wsock): checking and copying the 16-byte sockaddr_in that callers pass.
// Windows and Linux lay it out alike (family, port and address in network order, 8 zero bytes).
#pragma once

#include <netinet/in.h>

#include <cstring>

#include "platform/wsock/ThreadSockets.h"

namespace wsock::detail {

static_assert(sizeof(sockaddr_in) == 16);

// 0, or the WSA error for an address argument that cannot be used.
inline int32_t check_address(const sockaddr* name, int namelen) {
    if (!name || namelen < static_cast<int>(sizeof(sockaddr_in))) return WSAEFAULT;
    sa_family_t family;
    std::memcpy(&family, name, sizeof family);
    return family == AF_INET ? 0 : WSAEAFNOSUPPORT;
}

inline sockaddr_in read_address(const sockaddr* name) {
    sockaddr_in address;
    std::memcpy(&address, name, sizeof address);
    std::memset(address.sin_zero, 0, sizeof address.sin_zero);
    return address;
}

// 0, or WSAEFAULT when the caller's buffer is missing or shorter than 16 bytes.
inline int32_t copy_address_out(const sockaddr_in& address, sockaddr* out, int* outlen) {
    if (!out || !outlen || *outlen < static_cast<int>(sizeof address)) return WSAEFAULT;
    std::memcpy(out, &address, sizeof address);
    *outlen = sizeof address;
    return 0;
}

inline int fail_or_zero(int32_t wsa_error) { return wsa_error == 0 ? 0 : fail(wsa_error); }

}  // namespace wsock::detail
