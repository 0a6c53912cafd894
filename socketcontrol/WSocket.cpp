// WSocket.cpp: construction, the shared checks, addresses, options and the connection-setting members
// of the socket core. Sending and receiving are in WSocketTransfer.cpp; host lookups and the three
// message handlers in WSocketNotify.cpp.
#include "socketcontrol/WSocket.h"

#include <arpa/inet.h>

#include "common/ComError.h"
#include "common/Cp1252.h"
#include "platform/wsock/WinSock.h"
#include "socketcontrol/SocketRegistry.h"
#include "socketcontrol/TarvexMessageForm.h"
#include "socketcontrol/VBTimer.h"

namespace ws = wsock;

namespace {
constexpr int kSockAddrLength = 16;
constexpr int kListenBacklog = 5;

ws::SOCKET as_socket(int32_t handle) { return static_cast<ws::SOCKET>(handle); }

// Dotted text of an address in network order: the four bytes in memory order (FormatDottedQuad).
std::string dotted_quad(uint32_t addr_be) {
    const auto* b = reinterpret_cast<const uint8_t*>(&addr_be);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." + std::to_string(b[3]);
}

constexpr MemberInfo kEvents[] = {
    {"Closed", 1, ""},      {"Connected", 2, ""},      {"DataArrived", 3, ""},
    {"Error", 4, ""},       {"HostNameResolved", 5, ""}, {"NewConnection", 6, ""},
    {"OOBDataArrived", 7, ""}, {"ReadyToSend", 8, ""}, {"TimedOut", 9, ""},
};
}  // namespace

// Receives the inactivity timer's Alarm without keeping the core alive, and pins the core while the
// owner handles TimedOut.
class WSocket::TimerSink final : public VBTimerEvents {
public:
    explicit TimerSink(std::weak_ptr<WSocket> core) : core_(std::move(core)) {}
    void Alarm() override {
        if (const auto core = core_.lock()) core->raise([](WSocketEvents& sink) { sink.TimedOut(); });
    }

private:
    std::weak_ptr<WSocket> core_;
};

WSocket::WSocket() = default;

std::shared_ptr<WSocket> WSocket::create() {
    std::shared_ptr<WSocket> core(new WSocket());
    core->timer_ = VBTimer::create();  // raises when the thread's forms are not loaded
    core->timer_sink_ = std::make_shared<TimerSink>(core);
    core->timer_->bind_events(core->timer_sink_);
    return core;
}

// Failures here have nobody to go to and are ignored, as closing on destruction always was.
WSocket::~WSocket() {
    timer_.reset();
    if (handle_ != -1) ws::closesocket(as_socket(handle_));
    if (lookup_pending_ != 0) ws::WSACancelAsyncRequest(static_cast<ws::HANDLE>(task_handle_));
}

std::span<const MemberInfo> WSocket::events() { return kEvents; }

// ---- checks and errors ----

void WSocket::raise_usage(const char* description) { throw ComError(kUsageError, "WSocket", description); }

void WSocket::raise_winsock(const char* description) const {
    throw ComError(ws::WSAGetLastError(), "WSocket", description);
}

void WSocket::check_stream() {
    if (SocketOption(WSSO_Type) != QXStream) raise_usage("Function is only valid for Stream sockets!");
}

void WSocket::check_datagram() {
    if (SocketOption(WSSO_Type) != QXDatagram) raise_usage("Function is only valid for datagram (UDP) sockets!");
}

void WSocket::check_connected(const char* description) const {
    if (state_ != WSSS_Connected) raise_usage(description);
}

// The message form's window: where every notification and lookup reply of this core is posted.
uint32_t WSocket::message_window() {
    const auto form = MessageForm();
    if (!form) throw vb_error(kErrObjectNotSet, "WSocket");
    return static_cast<ws::HWND>(form->hWnd());
}

// Keeps the registry's index in step with the handle (see SocketRegistry.h).
void WSocket::set_handle(int32_t handle) {
    const int32_t old = std::exchange(handle_, handle);
    if (old == handle) return;
    if (SocketRegistry* registry = SocketRegistry::current_if_alive()) registry->handle_changed(*this, old);
}

void WSocket::set_task_handle(int32_t task) {
    const int32_t old = std::exchange(task_handle_, task);
    if (old == task) return;
    if (SocketRegistry* registry = SocketRegistry::current_if_alive()) registry->task_changed(*this, old);
}

// ---- addresses ----

std::string WSocket::LocalIpAddress() const { return dotted_quad(local_.addr_be); }
void WSocket::LocalIpAddress(const std::string& value) { local_.addr_be = ws::inet_addr(cp1252::from_utf8(value).c_str()); }
int16_t WSocket::LocalPort() const noexcept { return static_cast<int16_t>(ntohs(local_.port_be)); }
void WSocket::LocalPort(int16_t value) noexcept { local_.port_be = htons(static_cast<uint16_t>(value)); }
std::string WSocket::RemoteIPAddress() const { return dotted_quad(remote_.addr_be); }
void WSocket::RemoteIPAddress(const std::string& value) { remote_.addr_be = ws::inet_addr(cp1252::from_utf8(value).c_str()); }
int16_t WSocket::RemotePort() const noexcept { return static_cast<int16_t>(ntohs(remote_.port_be)); }
void WSocket::RemotePort(int16_t value) noexcept { remote_.port_be = htons(static_cast<uint16_t>(value)); }

void WSocket::GetLocalSocketName() {
    int length = kSockAddrLength;
    if (ws::getsockname(as_socket(handle_), reinterpret_cast<sockaddr*>(&local_), &length) == ws::SOCKET_ERROR)
        raise_winsock("Failure retrieving local socket name!");
}

void WSocket::GetRemoteSocketName() {
    int length = kSockAddrLength;
    if (ws::getpeername(as_socket(handle_), reinterpret_cast<sockaddr*>(&remote_), &length) == ws::SOCKET_ERROR)
        raise_winsock("Failure retrieving remote socket name!");
}

// ---- handle, options, ioctl ----

// A core that already holds a socket closes it first: nothing else refers to it, so keeping it open
// would only leak it.
void WSocket::CreateHandle(int32_t SocketType) {
    const ws::SOCKET s = ws::socket(ws::WS_AF_INET, SocketType, 0);
    if (s == ws::INVALID_SOCKET) raise_winsock("Failure creating socket!");
    if (handle_ != -1) ws::closesocket(as_socket(handle_));
    set_handle(static_cast<int32_t>(s));
    state_ = WSSS_Idle;
    blocking_ = true;  // as every new Windows socket
}

void WSocket::AttachHandle(int32_t Handle) {
    if (handle_ != -1 && handle_ != Handle) ws::closesocket(as_socket(handle_));
    set_handle(Handle);
}

void WSocket::CloseSocket() {
    if (ws::closesocket(as_socket(handle_)) == ws::SOCKET_ERROR) raise_winsock("Failure closing socket!");
    set_handle(-1);
    state_ = WSSS_Closed;
}

void WSocket::AsyncSelect(int32_t Events) {
    const ws::HWND window = message_window();
    if (ws::WSAAsyncSelect(as_socket(handle_), window, kMsgSocketNotify, Events) == ws::SOCKET_ERROR)
        raise_winsock("Failure switching socket into asychronous mode!");
    blocking_ = false;  // even with Events 0 the socket stays non-blocking
}

// Option -1 is the control's alias for TCP_NODELAY; every other number is a SOL_SOCKET option as is.
static void option_level(int32_t option, int& level, int& name) {
    level = option == WSSO_NagleAlg ? ws::WS_IPPROTO_TCP : ws::WS_SOL_SOCKET;
    name = option == WSSO_NagleAlg ? ws::WS_TCP_NODELAY : option;
}

int32_t WSocket::SocketOption(int32_t OptionName) {
    int level = 0, name = 0;
    option_level(OptionName, level, name);
    int32_t value = 0;
    int length = sizeof value;
    if (ws::getsockopt(as_socket(handle_), level, name, reinterpret_cast<char*>(&value), &length) == ws::SOCKET_ERROR)
        raise_winsock("Error retrieving socket option setting!");
    return value;
}

void WSocket::SocketOption(int32_t OptionName, int32_t Value) {
    int level = 0, name = 0;
    option_level(OptionName, level, name);
    if (ws::setsockopt(as_socket(handle_), level, name, reinterpret_cast<const char*>(&Value), sizeof Value) ==
        ws::SOCKET_ERROR)
        raise_winsock("Error changing socket option setting!");
}

void WSocket::IoctlSocket(int32_t Command, int32_t& Data) {
    uint32_t argument = static_cast<uint32_t>(Data);
    if (ws::ioctlsocket(as_socket(handle_), Command, &argument) != 0) raise_winsock("Failure in IoctlSocket call!");
    if (Command == WSFionbio) blocking_ = Data == 0;
    Data = static_cast<int32_t>(argument);
}

int32_t WSocket::BytesAvailable() {
    int32_t count = 0;
    IoctlSocket(WSFIonRead, count);
    return count;
}

Variant WSocket::LingerStruct(bool OnOff, int16_t TimeoutSecs) {
    const uint32_t packed = (OnOff ? 0xFFFFu : 0u) | (static_cast<uint32_t>(static_cast<uint16_t>(TimeoutSecs)) << 16);
    return Variant(static_cast<int32_t>(packed));
}

// ---- binding, listening, accepting, connecting ----

void WSocket::Bind() {
    if (state_ != WSSS_Idle) raise_usage("A socket must be idle before you can bind it!");
    if (ws::bind(as_socket(handle_), reinterpret_cast<const sockaddr*>(&local_), kSockAddrLength) == ws::SOCKET_ERROR)
        raise_winsock("Failure binding socket!");
    GetLocalSocketName();
    state_ = WSSS_Bound;
}

void WSocket::Listen() {
    check_stream();
    if (state_ != WSSS_Bound && state_ != WSSS_Idle)
        raise_usage("A socket must be bound or idle before you can start listening on it!");
    if (state_ == WSSS_Idle) Bind();
    if (ws::listen(as_socket(handle_), kListenBacklog) == ws::SOCKET_ERROR) raise_winsock("Failure starting listen on socket!");
    state_ = WSSS_Listening;
}

// The new core is neither registered nor selected here: it inherits the listener's selection, and the
// caller registers it.
std::shared_ptr<WSocket> WSocket::Accept() {
    check_stream();
    if (state_ != WSSS_Listening) raise_usage("Socket is not listening");
    SockAddrIn peer;
    int length = kSockAddrLength;
    const ws::SOCKET s = ws::accept(as_socket(handle_), reinterpret_cast<sockaddr*>(&peer), &length);
    const int accept_error = ws::WSAGetLastError();
    std::shared_ptr<WSocket> core;
    try {
        core = create();
    } catch (...) {
        if (s != ws::INVALID_SOCKET) ws::closesocket(s);  // not left open with nobody to close it
        throw;
    }
    if (s == ws::INVALID_SOCKET) {
        ws::WSASetLastError(accept_error);
        raise_winsock("Error accepting incoming connection");
    }
    core->AttachHandle(static_cast<int32_t>(s));
    core->GetLocalSocketName();
    core->remote_.addr_be = peer.addr_be;
    core->remote_.port_be = peer.port_be;
    core->SetState(WSSS_Connected);
    core->blocking_ = blocking_;  // the accepted socket inherits the listener's selection
    return core;
}

// A non-blocking socket looks the host name up in the background and connects when the reply comes
// (HostNameLookupDone). A blocking one has no pump to bring that reply, so it resolves and connects
// before returning: State 5, or a raised error with State still 0.
void WSocket::Connect() {
    if (state_ != WSSS_Idle) raise_usage("Socket must be idle to issue a connect!");
    if (resolve_host_) {
        if (host_name_.empty()) raise_usage("Host name not defined!");
        if (!blocking_) {
            StartHostNameLookup(host_name_);  // HostNameLookupDone goes on connecting
            return;
        }
        resolve_now(host_name_);
    }
    if (ws::connect(as_socket(handle_), reinterpret_cast<const sockaddr*>(&remote_), kSockAddrLength) == ws::SOCKET_ERROR) {
        if (ws::WSAGetLastError() != ws::WSAEWOULDBLOCK) raise_winsock("Failure connecting to remote socket!");
        state_ = WSSS_Connecting;  // the outcome arrives as FD_CONNECT
        return;
    }
    state_ = WSSS_Connected;  // a socket without notifications connects at once
}

void WSocket::Shutdown(int32_t ShutdownType) {
    if (ws::shutdown(as_socket(handle_), ShutdownType) == ws::SOCKET_ERROR) raise_winsock("Failure shutting socket down!");
}

void WSocket::ResolveHost(bool value) {
    if (lookup_pending_ != 0) raise_usage("Host name resolution in progress!");
    resolve_host_ = value;
}

// The inactivity timer stays cyclic: TimedOut comes every Value tenths of a second until FD_READ or a
// send resets it.
void WSocket::SetTimeout(int32_t Value) {
    timeout_ = Value;
    timer_->Interval(Value);
    timer_->Enabled(Value != 0);
}
