// Socket.cpp: the general-purpose socket: members passed on to the core, Accept, peer close, lifetime.
#include "socketcontrol/Socket.h"

#include <string>
#include <utility>

#include "common/ComError.h"
#include "socketcontrol/SocketRegistry.h"
#include "socketcontrol/WSocket.h"

namespace {

constexpr MemberInfo kMembers[] = {
    {"Accept", 0x6003000E, "Accept an incoming connection and create a new Socket object."},
    {"AsyncSelect", 0x6003000F, "Switch asynchronous notifications on and off."},
    {"Bind", 0x60030010, "Bind a socket to the Local Ip Address and Port"},
    {"BytesAvailable", 0x6803000D, "Number of bytes available for reading"},
    {"Connect", 0x60030011,
     "Connect to the remote host identified by the Remote IpAddress and Port properties. If the ResolveHost "
     "property is true the HostName property is used to look up the Remote Ip Address."},
    {"DataWaiting", 0x6803000C, "Set to true when data is available for reading."},
    {"GetHostByAddr", 0x60030012, "Get the Domain Name of the host identified by the IP Address argument."},
    {"GetHostByName", 0x60030013,
     "Get the IP Address of the host identified by the Domain NAme argument. The resulting IP Address is stored "
     "in the Remote Ip Address property."},
    {"GetLocalSocketName", 0x60030014,
     "Get the LOcal Socket Name and store it in the Local IP Address and Port properties."},
    {"GetRemoteSocketName", 0x60030015,
     "Get the Remote Socket Name ands store it in the Remote IP Address and Port properties."},
    {"HostName", 0x6803000B, "Domain Name of the remote host."},
    {"IoctlSocket", 0x60030016, "See the Windows Sockets documentation."},
    {"LingerOnOff", 0x60030017,
     "The Linger On/Off state from a LINGER structure returned by SO_LINGER SocketOption property."},
    {"LingerStruct", 0x60030018, "Creates as LINGER structure for passing to the SO_LINGER SocketOption property."},
    {"LingerTimeout", 0x60030019,
     "Gets the Linger timeout value from a LINGER structure returned from the SO_LINGER SocketOption property."},
    {"Listen", 0x6003001A,
     "Initiates listening on a socket. If the socket is not bound, when this call is made, it is bound to the "
     "Local Ip Address and Port prior to initiating the listen."},
    {"LocalIpAddress", 0x68030009, "Local Ip Address of the socket."},
    {"LocalPort", 0x68030008, "Local Port of the socket."},
    {"ReceiveBytes", 0x6003001B, "Read data from a TCP socket into a byte array."},
    {"ReceiveDatagram", 0x6003001C, "Read data from a UDP socket into a string or a byte array."},
    {"ReceiveStream", 0x6003001D, "Read data from a TCP socket into a string or a byte array."},
    {"ReceiveString", 0x6003001E, "Read data from a TCP socket into a string."},
    {"RemoteIPAddress", 0x68030007, "IP Address of remote socket."},
    {"RemotePort", 0x68030006, "Port of the remote socket."},
    {"ResolveHost", 0x68030005,
     "When set to TRUE the Connect method will resolve the HostName to an IP Address before attempting to "
     "connect."},
    {"SendBlocked", 0x68030004, "When true the socket is unwritable (i.e. you cannot send data to it)."},
    {"SendBytes", 0x6003001F, "Send a byte array to a TCP socket."},
    {"SendDatagram", 0x60030020, "Send a string or a byte array to remote UDP socket."},
    {"SendStream", 0x60030021, "Send a string or a byte array to a remote TCP socket."},
    {"SendString", 0x60030022, "Send a string to a remote TCP socket."},
    {"Shutdown", 0x60030023, "Shutdown the socket."},
    {"SocketHandle", 0x68030003, "The underlying Windows socket handle."},
    {"SocketOption", 0x68030002,
     "A property array of socket options. These equate to using the underlying getsockopt and setsockopt "
     "functions."},
    {"State", 0x68030001, "The current state of the socket."},
    {"Timeout", 0x68030000, "Inactivity timeout in 1/10s of a second"},
};

constexpr MemberInfo kEvents[] = {
    {"Closed", 1, "Fires when the connection has been closed by the peer"},
    {"Connected", 2, "Fires when a Connect succeeds."},
    {"DataArrived", 3, "Fires when data arrives from the remote peer."},
    {"Error", 4, "Fires when an error occurs within any asynchronous processing."},
    {"HostNameResolved", 5, "Fired when a Host Name resolution completes"},
    {"NewConnection", 6,
     "Fires when a remote client connects to a listening socket. Use the Accept function to create a new socket "
     "for communicating with the  remote client."},
    {"OOBDataArrived", 7, "Fires when Out Of Bounds data arrives."},
    {"ReadyToSend", 8, "Fires when a previously unwritable socket becomes writeable."},
    {"TimedOut", 9, "Fires when the socket times out"},
};

}  // namespace

// Passes the core's events on. It holds the socket weakly (the socket owns it) and pins the socket for
// the length of each event, so the owner may release the socket from inside its handler.
class Socket::CoreEvents final : public WSocketEvents {
public:
    explicit CoreEvents(std::weak_ptr<Socket> socket) : socket_(std::move(socket)) {}

    void Closed() override {
        if (auto self = socket_.lock()) self->core_closed();
    }
    void Connected() override {
        pass([](SocketEvents& s) { s.Connected(); });
    }
    void DataArrived(int32_t ByteCount) override {
        pass([&](SocketEvents& s) { s.DataArrived(ByteCount); });
    }
    void Error(int32_t ErrorCode, const std::string& ErrorDesc) override {
        pass([&](SocketEvents& s) { s.Error(ErrorCode, ErrorDesc); });
    }
    void HostNameResolved(int32_t Status, const std::string& Result) override {
        pass([&](SocketEvents& s) { s.HostNameResolved(Status, Result); });
    }
    void NewConnection() override {
        pass([](SocketEvents& s) { s.NewConnection(); });
    }
    void OOBDataArrived() override {
        pass([](SocketEvents& s) { s.OOBDataArrived(); });
    }
    void ReadyToSend() override {
        pass([](SocketEvents& s) { s.ReadyToSend(); });
    }
    void TimedOut() override {
        pass([](SocketEvents& s) { s.TimedOut(); });
    }

private:
    template <class F>
    void pass(F&& fn) {
        if (const auto self = socket_.lock()) self->raise(std::forward<F>(fn));
    }
    std::weak_ptr<Socket> socket_;
};

std::shared_ptr<Socket> Socket::create() { return std::shared_ptr<Socket>(new Socket()); }

Socket::~Socket() {
    if (!TheSocket_) return;
    try {
        if (SocketRegistry* registry = SocketRegistry::current_if_alive())
            registry->Remove(std::to_string(TheSocket_->SocketHandle()));
        TheSocket_->unbind_events();
        TheSocket_->CloseSocket();
    } catch (...) {
        // A socket already closed (by Windows Sockets' clean-up at thread shut-down, say) is no failure here.
    }
}

std::span<const MemberInfo> Socket::members() { return kMembers; }
std::span<const MemberInfo> Socket::events() { return kEvents; }

void Socket::TheSocket(std::shared_ptr<WSocket> core) {
    if (TheSocket_) TheSocket_->unbind_events();
    if (!core_events_) core_events_ = std::make_shared<CoreEvents>(weak_from_this());
    TheSocket_ = std::move(core);
    if (TheSocket_) TheSocket_->bind_events(core_events_);
}

WSocket& Socket::core() {
    if (!TheSocket_) throw vb_error(kErrObjectNotSet, "Socket");
    return *TheSocket_;
}

// The peer has closed. Whatever it sent before is still readable, so DataArrived is raised for as long
// as data stays unread, and Closed comes last. An owner that does not read (or has no DataArrived
// handler) would keep this loop going for ever; after kIdleCloseRounds rounds in a row that read
// nothing, Closed is raised with the data left where it is. Errors of BytesAvailable end the handling
// without Closed and go back to the core, which reports them through Error.
void Socket::core_closed() {
    int idle_rounds = 0;
    for (int32_t available = core().BytesAvailable(); available != 0;) {
        raise([&](SocketEvents& s) { s.DataArrived(available); });
        const int32_t left = core().BytesAvailable();
        idle_rounds = left < available ? 0 : idle_rounds + 1;
        if (idle_rounds >= kIdleCloseRounds) break;
        available = left;
    }
    raise([](SocketEvents& s) { s.Closed(); });
}

std::shared_ptr<Socket> Socket::Accept() {
    std::shared_ptr<WSocket> accepted = core().Accept();
    auto socket = create();
    socket->TheSocket(accepted);
    SocketRegistry::current().Add(accepted);
    return socket;
}

// ---- members passed straight to the core ----

void Socket::AsyncSelect(int32_t Events) { core().AsyncSelect(Events); }
void Socket::Bind() { core().Bind(); }
int32_t Socket::BytesAvailable() { return core().BytesAvailable(); }
void Socket::Connect() { core().Connect(); }
bool Socket::DataWaiting() { return core().DataWaiting(); }
void Socket::GetHostByAddr(const std::string& IPAddress) { core().GetHostByAddr(IPAddress); }
void Socket::GetHostByName(const std::string& HostName) { core().GetHostByName(HostName); }
void Socket::GetLocalSocketName() { core().GetLocalSocketName(); }
void Socket::GetRemoteSocketName() { core().GetRemoteSocketName(); }
std::string Socket::HostName() { return core().HostName(); }
void Socket::HostName(const std::string& value) { core().HostName(value); }
void Socket::IoctlSocket(int32_t Command, int32_t& Data) { core().IoctlSocket(Command, Data); }
Variant Socket::LingerStruct(bool OnOff, int16_t TimeoutSecs) { return WSocket::LingerStruct(OnOff, TimeoutSecs); }
int16_t Socket::LingerTimeout(int32_t LingerSettings) noexcept { return WSocket::LingerTimeout(LingerSettings); }
void Socket::Listen() { core().Listen(); }
std::string Socket::LocalIpAddress() { return core().LocalIpAddress(); }
void Socket::LocalIpAddress(const std::string& value) { core().LocalIpAddress(value); }
int16_t Socket::LocalPort() { return core().LocalPort(); }
void Socket::LocalPort(int16_t value) { core().LocalPort(value); }
int32_t Socket::ReceiveBytes(uint8_t* Data, int32_t Length, int32_t IOFlags) {
    return core().ReceiveBytes(Data, Length, IOFlags);
}
Variant Socket::ReceiveDatagram(int32_t Length, bool ReturnBytes, int32_t IOFlags) {
    return core().ReceiveDatagram(Length, ReturnBytes, IOFlags);
}
Variant Socket::ReceiveStream(int32_t Length, bool ReturnBytes, int32_t IOFlags) {
    return core().ReceiveStream(Length, ReturnBytes, IOFlags);
}
int32_t Socket::ReceiveString(std::string& Data, int32_t Length, int32_t IOFlags) {
    return core().ReceiveString(Data, Length, IOFlags);
}
std::string Socket::RemoteIPAddress() { return core().RemoteIPAddress(); }
void Socket::RemoteIPAddress(const std::string& value) { core().RemoteIPAddress(value); }
int16_t Socket::RemotePort() { return core().RemotePort(); }
void Socket::RemotePort(int16_t value) { core().RemotePort(value); }
bool Socket::ResolveHost() { return core().ResolveHost(); }
void Socket::ResolveHost(bool value) { core().ResolveHost(value); }
bool Socket::SendBlocked() { return core().SendBlocked(); }
int32_t Socket::SendBytes(const uint8_t* Data, int32_t Length, int32_t IOFlags) {
    return core().SendBytes(Data, Length, IOFlags);
}
int32_t Socket::SendDatagram(const Variant& Data, int32_t IOFlags) { return core().SendDatagram(Data, IOFlags); }
int32_t Socket::SendStream(const Variant& Data, int32_t IOFlags) { return core().SendStream(Data, IOFlags); }
int32_t Socket::SendString(const std::string& Data, int32_t IOFlags) { return core().SendString(Data, IOFlags); }
void Socket::Shutdown(int32_t ShutdownType) { core().Shutdown(ShutdownType); }
int32_t Socket::SocketHandle() { return core().SocketHandle(); }
int32_t Socket::SocketOption(int32_t OptionName) { return core().SocketOption(OptionName); }
void Socket::SocketOption(int32_t OptionName, int32_t Value) { core().SocketOption(OptionName, Value); }
int32_t Socket::State() { return core().State(); }
int32_t Socket::Timeout() { return core().GetTimeout(); }
void Socket::Timeout(int32_t value) { core().SetTimeout(value); }
