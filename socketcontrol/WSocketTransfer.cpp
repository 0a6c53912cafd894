// WSocketTransfer.cpp: sending and receiving on the socket core.
//
// Text crosses the socket as Windows-1252, one byte per character; the *_ansi members let a caller that
// keeps its text as those bytes already (TextSocket) skip the conversion on every arrival and send.
#include <algorithm>
#include <cstring>

#include "common/ComError.h"
#include "common/Cp1252.h"
#include "platform/wsock/WinSock.h"
#include "socketcontrol/ByteArray.h"
#include "socketcontrol/VBTimer.h"
#include "socketcontrol/WSocket.h"

namespace ws = wsock;

namespace {
constexpr int kSockAddrLength = 16;
constexpr const char* kNotConnectedReceive = "A socket must be connected before you can receive data on it!";
constexpr const char* kNotConnectedSend = "A socket must be connected before you can send data on it!";
constexpr const char* kReceiveBytesFailed = "Failure receiving bytes from remote socket!";
constexpr const char* kReceiveStringFailed = "Failure receiving string from remote socket!";
constexpr const char* kSendBytesFailed = "Failure sending bytes to remote host!";
constexpr const char* kSendStringFailed = "Failure sending string to remote host!";

// A buffer length from the caller: a negative one cannot describe any buffer.
void check_length(int32_t length) {
    if (length < 0) throw vb_error(kErrInvalidCall, "WSocket");
}
}  // namespace

// ---- receiving ----

// One recv (or recvfrom into the remote address); raises the Winsock error with `description`. After a
// successful read DataWaiting tells whether more is queued.
int32_t WSocket::receive_into(void* buffer, int32_t length, int32_t flags, bool from_any, const char* description) {
    const int32_t result = receive_raw(buffer, length, flags, from_any, description);
    refresh_data_waiting();
    return result;
}

// The read itself, without refreshing DataWaiting.
int32_t WSocket::receive_raw(void* buffer, int32_t length, int32_t flags, bool from_any, const char* description) {
    int result;
    if (from_any) {
        int address_length = kSockAddrLength;
        result = ws::recvfrom(static_cast<ws::SOCKET>(handle_), static_cast<char*>(buffer), length, flags,
                              reinterpret_cast<sockaddr*>(&remote_), &address_length);
    } else {
        result = ws::recv(static_cast<ws::SOCKET>(handle_), static_cast<char*>(buffer), length, flags);
    }
    if (result == ws::SOCKET_ERROR) raise_winsock(description);
    return result;
}

void WSocket::refresh_data_waiting() { data_waiting_ = BytesAvailable() != 0; }

int32_t WSocket::ReceiveBytes(uint8_t* Data, int32_t Length, int32_t IOFlags) {
    check_stream();
    check_connected(kNotConnectedReceive);
    check_length(Length);
    return receive_into(Data, Length, IOFlags, false, kReceiveBytesFailed);
}

int32_t WSocket::ReceiveString(std::string& Data, int32_t Length, int32_t IOFlags) {
    check_stream();
    check_connected(kNotConnectedReceive);
    check_length(Length);
    Data.assign(static_cast<size_t>(Length), ' ');
    std::string bytes(static_cast<size_t>(Length), ' ');
    const int32_t count = receive_into(bytes.data(), Length, IOFlags, false, kReceiveStringFailed);
    Data = cp1252::to_utf8(bytes);  // all Length characters: the ones received, then the spaces
    return count;
}

// ReceiveStream / ReceiveDatagram after their checks: bytes with IOFlags, or text with flags 0; empty when
// nothing was read.
Variant WSocket::receive_value(int32_t Length, bool ReturnBytes, int32_t IOFlags, bool from_any) {
    if (ReturnBytes) {
        std::vector<uint8_t> bytes(static_cast<size_t>(Length));
        const int32_t count = receive_into(bytes.data(), Length, IOFlags, from_any, kReceiveBytesFailed);
        if (count == 0) return Variant();
        bytes.resize(static_cast<size_t>(count));
        return make_byte_array(std::move(bytes));
    }
    std::string text(static_cast<size_t>(Length), ' ');
    const int32_t count = receive_into(text.data(), Length, 0, from_any, kReceiveStringFailed);
    if (count == 0) return Variant();
    text.resize(static_cast<size_t>(count));
    return Variant(cp1252::to_utf8(text));
}

Variant WSocket::ReceiveStream(int32_t Length, bool ReturnBytes, int32_t IOFlags) {
    check_stream();
    check_connected(kNotConnectedReceive);
    check_length(Length);
    return receive_value(Length, ReturnBytes, IOFlags, false);
}

Variant WSocket::ReceiveDatagram(int32_t Length, bool ReturnBytes, int32_t IOFlags) {
    check_datagram();
    check_length(Length);
    return receive_value(Length, ReturnBytes, IOFlags, true);
}

std::string WSocket::receive_ansi(int32_t Length) {
    std::string bytes(static_cast<size_t>(std::max(Length, 0)), ' ');   // a negative Length fails below
    bytes.resize(static_cast<size_t>(receive_ansi(bytes.data(), Length)));
    return bytes;
}

int32_t WSocket::receive_ansi(char* buffer, int32_t Length) {
    check_stream();
    check_connected(kNotConnectedReceive);
    check_length(Length);
    // No DataWaiting refresh: the text socket, the only caller, never reads it, and the refresh would
    // cost an ioctl per arrival.
    return receive_raw(buffer, Length, 0, false, kReceiveStringFailed);
}

// ---- sending ----

// One send (or sendto the remote address). A would-block is not an error: SendBlocked becomes true and
// the result is -1 until FD_WRITE. Every send, blocked or not, restarts the inactivity timer.
int32_t WSocket::send_bytes(const void* data, int32_t length, int32_t flags, bool to_remote, const char* description) {
    send_blocked_ = false;
    const char* bytes = static_cast<const char*>(data);
    int result = to_remote ? ws::sendto(static_cast<ws::SOCKET>(handle_), bytes, length, flags,
                                        reinterpret_cast<const sockaddr*>(&remote_), kSockAddrLength)
                           : ws::send(static_cast<ws::SOCKET>(handle_), bytes, length, flags);
    if (result == ws::SOCKET_ERROR) {
        if (ws::WSAGetLastError() != ws::WSAEWOULDBLOCK) raise_winsock(description);
        send_blocked_ = true;
        result = -1;
    }
    timer_->Reset();
    return result;
}

int32_t WSocket::SendBytes(const uint8_t* Data, int32_t Length, int32_t IOFlags) {
    check_stream();
    check_connected(kNotConnectedSend);
    return send_bytes(Data, Length, IOFlags, false, kSendBytesFailed);
}

int32_t WSocket::SendString(const std::string& Data, int32_t IOFlags) {
    return send_ansi(cp1252::from_utf8(Data), IOFlags);
}

int32_t WSocket::send_ansi(std::string_view bytes, int32_t IOFlags) {
    check_stream();
    check_connected(kNotConnectedSend);
    return send_bytes(bytes.data(), static_cast<int32_t>(bytes.size()), IOFlags, false, kSendStringFailed);
}

// A byte array goes out with flags 0, text with IOFlags, as the original did.
static bool is_sendable(const Variant& data) { return data.is_text() || byte_array_of(data) != nullptr; }

int32_t WSocket::SendStream(const Variant& Data, int32_t IOFlags) {
    check_stream();
    if (!is_sendable(Data)) raise_usage("The data to be sent must be as string or a byte array!");
    check_connected(kNotConnectedSend);
    if (const ByteArray* array = byte_array_of(Data))
        return send_bytes(array->bytes().data(), static_cast<int32_t>(array->bytes().size()), 0, false, kSendBytesFailed);
    const std::string bytes = cp1252::from_utf8(Data.as_text());
    return send_bytes(bytes.data(), static_cast<int32_t>(bytes.size()), IOFlags, false, kSendStringFailed);
}

int32_t WSocket::SendDatagram(const Variant& Data, int32_t IOFlags) {
    check_datagram();
    if (!is_sendable(Data)) raise_usage("The data to be sent must be as string or a byte array!");
    if (const ByteArray* array = byte_array_of(Data))
        return send_bytes(array->bytes().data(), static_cast<int32_t>(array->bytes().size()), 0, true, kSendBytesFailed);
    const std::string bytes = cp1252::from_utf8(Data.as_text());
    return send_bytes(bytes.data(), static_cast<int32_t>(bytes.size()), IOFlags, true, kSendStringFailed);
}
