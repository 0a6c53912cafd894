// Socket.h: the control's general-purpose socket object, a stream or datagram socket with or without
// events. It is the public face of one socket core (TheSocket): nearly every member passes straight to
// the core member of the same name and every core event is passed on. What it adds: Accept makes a new
// Socket for the accepted connection, the peer-close handling lets the owner read what is still unread
// before Closed, and the object's own bookkeeping (SocketCount, the socket registry, closing on
// destruction; there is no close member).
//
// Sockets are made by Quellox::CreateSocket and by Accept, and live as long as their owner holds them.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "common/Variant.h"
#include "platform/object/EventSource.h"
#include "socketcontrol/MemberInfo.h"
#include "socketcontrol/ObjectCounts.h"
#include "socketcontrol/SocketEnums.h"

class WSocket;
class Quellox;

// Events of Socket (source interface __Socket), in dispatch id order. Empty defaults: an owner
// overrides what it handles, and the others go nowhere.
class SocketEvents {
public:
    virtual ~SocketEvents() = default;
    virtual void Closed() {}
    virtual void Connected() {}
    virtual void DataArrived(int32_t /*ByteCount*/) {}
    virtual void Error(int32_t /*ErrorCode*/, const std::string& /*ErrorDesc*/) {}
    virtual void HostNameResolved(int32_t /*Status*/, const std::string& /*Result*/) {}
    virtual void NewConnection() {}
    virtual void OOBDataArrived() {}
    virtual void ReadyToSend() {}
    virtual void TimedOut() {}
};

class Socket final : public std::enable_shared_from_this<Socket> {
public:
    // A socket without a core; every member that needs one raises 91 until the control attaches one.
    static std::shared_ptr<Socket> create();
    // Takes the core out of the socket registry and closes it; errors are ignored.
    ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    void bind_events(std::weak_ptr<SocketEvents> sink) { events_.bind(std::move(sink)); }
    void unbind_events() { events_.unbind(); }

    // ---- the members of _Socket, in slot order (behaviour and errors are the core's) ----
    // Accepts a waiting connection: a new Socket on a new, registered core.
    std::shared_ptr<Socket> Accept();
    void AsyncSelect(int32_t Events);
    void Bind();
    int32_t BytesAvailable();
    void Connect();
    bool DataWaiting();
    void GetHostByAddr(const std::string& IPAddress);
    void GetHostByName(const std::string& HostName);
    void GetLocalSocketName();
    void GetRemoteSocketName();
    std::string HostName();
    void HostName(const std::string& value);
    void IoctlSocket(int32_t Command, int32_t& Data);
    // The three LINGER helpers need no socket.
    static bool LingerOnOff(int32_t LingerSettings) noexcept { return (LingerSettings & 0xFFFF) != 0; }
    static Variant LingerStruct(bool OnOff, int16_t TimeoutSecs);
    static int16_t LingerTimeout(int32_t LingerSettings) noexcept;
    void Listen();
    std::string LocalIpAddress();
    void LocalIpAddress(const std::string& value);
    int16_t LocalPort();
    void LocalPort(int16_t value);
    int32_t ReceiveBytes(uint8_t* Data, int32_t Length, int32_t IOFlags = 0);
    Variant ReceiveDatagram(int32_t Length, bool ReturnBytes = false, int32_t IOFlags = 0);
    Variant ReceiveStream(int32_t Length, bool ReturnBytes = false, int32_t IOFlags = 0);
    int32_t ReceiveString(std::string& Data, int32_t Length, int32_t IOFlags = 0);
    std::string RemoteIPAddress();
    void RemoteIPAddress(const std::string& value);
    int16_t RemotePort();
    void RemotePort(int16_t value);
    bool ResolveHost();
    void ResolveHost(bool value);
    bool SendBlocked();
    int32_t SendBytes(const uint8_t* Data, int32_t Length, int32_t IOFlags = 0);
    int32_t SendDatagram(const Variant& Data, int32_t IOFlags = 0);
    int32_t SendStream(const Variant& Data, int32_t IOFlags = 0);
    int32_t SendString(const std::string& Data, int32_t IOFlags = 0);
    void Shutdown(int32_t ShutdownType);
    int32_t SocketHandle();
    int32_t SocketOption(int32_t OptionName);
    void SocketOption(int32_t OptionName, int32_t Value);
    int32_t State();
    // Inactivity time-out in tenths of a second (0: off); the getter returns the value last set.
    int32_t Timeout();
    void Timeout(int32_t value);

    // Dispatch ids and help strings of the members and of the events, in the type library's order.
    static std::span<const MemberInfo> members();
    static std::span<const MemberInfo> events();

    // When the peer has closed, DataArrived is raised again for as long as data stays unread; after
    // this many rounds in a row in which the owner read nothing, Closed is raised anyway.
    static constexpr int kIdleCloseRounds = 3;

private:
    friend class Quellox;
    class CoreEvents;  // receives the core's events without keeping this socket alive

    Socket() = default;
    // Internal operations of the control: read and replace the core (attaching binds its events to
    // this socket and releases the core held before).
    const std::shared_ptr<WSocket>& TheSocket() const noexcept { return TheSocket_; }
    void TheSocket(std::shared_ptr<WSocket> core);
    WSocket& core();  // the attached core; 91 when there is none

    // Handlers of the core's events.
    void core_closed();
    template <class F>
    void raise(F&& fn) { events_.raise(std::forward<F>(fn)); }

    std::shared_ptr<WSocket> TheSocket_;      // owned; the registry holds it too while registered
    std::shared_ptr<CoreEvents> core_events_; // the sink the core holds weakly
    EventSource<SocketEvents> events_;
    LiveCount counted_{&ObjectCounts::SocketCount};
};
