// WSocket.h: the socket core of the control: one IPv4 Windows Sockets socket with properties, operations
// and events. Socket and TextSocket each own one (their TheSocket) and pass its members and events on.
//
// Notifications arrive asynchronously: the core asks Windows Sockets to post them to the message form's
// window, the dispatcher (VBQueueForm::ProcessMessages) finds the core through the socket registry and
// calls ProcessWinMess, HostNameLookupDone or HostAddressResolved, which raise the core's events.
// Operations raise ComError (source "WSocket") to their caller; the three handlers never do: they
// report through the Error event. Every entry point that can run an owner's handler pins the core, so
// an owner may release it from inside a handler.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/Variant.h"
#include "platform/object/EventSource.h"
#include "socketcontrol/MemberInfo.h"
#include "socketcontrol/ObjectCounts.h"
#include "socketcontrol/SocketEnums.h"
#include "socketcontrol/VBWinMess.h"

class VBTimer;

// Event interface of WSocket, in the order of the events' positions (Socket mirrors them one for one).
// Each has an empty default, so an owner overrides only what it handles.
class WSocketEvents {
public:
    virtual ~WSocketEvents() = default;
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

// Error number of every misuse the core reports.
constexpr int32_t kUsageError = 20001;

class WSocket final : public std::enable_shared_from_this<WSocket> {
public:
    // A new core without a Windows socket: State 99, handle -1, ResolveHost true, both addresses
    // 0.0.0.0:0, and an inactivity timer (disabled). Raises the VBTimer's construction error when the
    // thread's QueueForm is not loaded.
    static std::shared_ptr<WSocket> create();
    ~WSocket();
    WSocket(const WSocket&) = delete;
    WSocket& operator=(const WSocket&) = delete;

    void bind_events(std::weak_ptr<WSocketEvents> sink) { events_.bind(std::move(sink)); }
    void unbind_events() { events_.unbind(); }

    // ---- public members, in the order of the class table ----
    std::shared_ptr<WSocket> Accept();
    void AsyncSelect(int32_t Events);
    void Bind();
    int32_t BytesAvailable();
    void CloseSocket();
    // With ResolveHost, a non-blocking core looks HostName up first (State 3) and connects when the reply
    // comes; a blocking one resolves and connects before it returns.
    void Connect();
    bool DataWaiting() const noexcept { return data_waiting_; }
    void GetHostByAddr(const std::string& IPAddress);
    void GetHostByName(const std::string& HostName);
    void GetLocalSocketName();
    void GetRemoteSocketName();
    const std::string& HostName() const noexcept { return host_name_; }
    void HostName(const std::string& value) { host_name_ = value; }
    void IoctlSocket(int32_t Command, int32_t& Data);
    static bool LingerOnOff(int32_t LingerSettings) noexcept { return (LingerSettings & 0xFFFF) != 0; }
    static Variant LingerStruct(bool OnOff, int16_t TimeoutSecs);
    static int16_t LingerTimeout(int32_t LingerSettings) noexcept {
        return static_cast<int16_t>((LingerSettings >> 16) & 0xFFFF);
    }
    void Listen();
    std::string LocalIpAddress() const;
    void LocalIpAddress(const std::string& value);
    int16_t LocalPort() const noexcept;
    void LocalPort(int16_t value) noexcept;
    // Reads up to Length bytes into Data (at least Length bytes long); returns the count (0: peer closed).
    int32_t ReceiveBytes(uint8_t* Data, int32_t Length, int32_t IOFlags = 0);
    Variant ReceiveDatagram(int32_t Length, bool ReturnBytes = false, int32_t IOFlags = 0);
    Variant ReceiveStream(int32_t Length, bool ReturnBytes = false, int32_t IOFlags = 0);
    // Data becomes Length characters: the ones received, then spaces; returns the count received.
    int32_t ReceiveString(std::string& Data, int32_t Length, int32_t IOFlags = 0);
    std::string RemoteIPAddress() const;
    void RemoteIPAddress(const std::string& value);
    int16_t RemotePort() const noexcept;
    void RemotePort(int16_t value) noexcept;
    bool ResolveHost() const noexcept { return resolve_host_; }
    void ResolveHost(bool value);
    bool SendBlocked() const noexcept { return send_blocked_; }
    // The send members return the bytes Windows Sockets took (possibly fewer) or -1 when it would block.
    int32_t SendBytes(const uint8_t* Data, int32_t Length, int32_t IOFlags = 0);
    int32_t SendDatagram(const Variant& Data, int32_t IOFlags = 0);
    int32_t SendStream(const Variant& Data, int32_t IOFlags = 0);
    int32_t SendString(const std::string& Data, int32_t IOFlags = 0);
    void Shutdown(int32_t ShutdownType);
    int32_t SocketHandle() const noexcept { return handle_; }
    int32_t SocketOption(int32_t OptionName);
    void SocketOption(int32_t OptionName, int32_t Value);
    int32_t State() const noexcept { return state_; }

    // ---- internal operations (the control, Socket, TextSocket, the dispatcher) ----
    void CreateHandle(int32_t SocketType);  // socket(AF_INET, type, 0); State becomes 0
    void AttachHandle(int32_t Handle);      // State unchanged
    void SetState(int32_t State) noexcept { state_ = State; }
    int32_t AsyncTaskHandle() const noexcept { return task_handle_; }
    void StartHostNameLookup(const std::string& Name);
    int32_t GetTimeout() const noexcept { return timeout_; }
    void SetTimeout(int32_t Value);
    void ProcessWinMess(const VBWinMess& Message);       // message 0x401
    void HostNameLookupDone(const VBWinMess& Message);   // message 0x402
    void HostAddressResolved(const VBWinMess& Message);  // message 0x403

    // SendString / ReceiveStream(Length, false, 0) on Windows-1252 bytes, for callers that keep their
    // text as bytes already (TextSocket): same checks, errors, and SendBlocked/timer effects; receive_ansi
    // leaves DataWaiting as it was (the text socket never reads it).
    int32_t send_ansi(std::string_view bytes, int32_t IOFlags = 0);
    std::string receive_ansi(int32_t Length);  // "" when nothing was read
    int32_t receive_ansi(char* buffer, int32_t Length);  // into the caller's storage; the count read

    // Whether FD_READ asks Windows Sockets how many bytes wait, for DataArrived's ByteCount (on by
    // default). A sink that reads all it can on each arrival anyway (the text socket) switches it off:
    // the question is a system call per arrival, and DataArrived then carries kUncounted.
    void counts_arrivals(bool value) noexcept { counts_arrivals_ = value; }
    static constexpr int32_t kUncounted = -1;

    // The inactivity timer (pTimer), for owners that need to look at it.
    const std::shared_ptr<VBTimer>& pTimer() const noexcept { return timer_; }

    // Event positions and names, for callers that mirror them (Socket).
    static std::span<const MemberInfo> events();

private:
    struct SockAddrIn {  // sockaddr_in as Windows Sockets lays it out: 16 bytes
        int16_t family = 2;
        uint16_t port_be = 0;  // network byte order
        uint32_t addr_be = 0;  // network byte order
        uint8_t zero[8] = {};
    };
    static_assert(sizeof(SockAddrIn) == 16, "Windows Sockets passes 16 bytes");
    class TimerSink;

    WSocket();
    // Checks shared by the members; each raises its usage error (or the SocketOption error).
    void check_stream();
    void check_datagram();
    void check_connected(const char* description) const;
    [[noreturn]] void raise_winsock(const char* description) const;
    [[noreturn]] static void raise_usage(const char* description);
    static uint32_t message_window();  // MessageForm's window; 91 when the form is not loaded
    int32_t send_bytes(const void* data, int32_t length, int32_t flags, bool to_remote, const char* description);
    int32_t receive_into(void* buffer, int32_t length, int32_t flags, bool from_any, const char* description);
    int32_t receive_raw(void* buffer, int32_t length, int32_t flags, bool from_any, const char* description);
    Variant receive_value(int32_t Length, bool ReturnBytes, int32_t IOFlags, bool from_any);
    void refresh_data_waiting();
    void set_handle(int32_t handle);
    void set_task_handle(int32_t task);
    void end_lookup() noexcept;
    void resolve_now(const std::string& name);  // a blocking socket's Connect: the lookup without the pump
    void handle_notification(int event, int error);
    void name_lookup_done(const VBWinMess& Message);
    void address_lookup_done(const VBWinMess& Message);
    void raise_error(int32_t number, const std::string& description);  // may throw what the owner's handler throws
    template <class F>
    void raise(F&& fn) { events_.raise(std::forward<F>(fn)); }

    int32_t handle_ = -1;            // the Windows socket (INVALID_SOCKET: none)
    SockAddrIn local_;               // given to bind, filled by getsockname
    SockAddrIn remote_;              // given to connect/sendto, filled by getpeername and recvfrom
    std::vector<uint8_t> lookup_buffer_;  // 10001 bytes while a host lookup is pending, 1 after
    int16_t lookup_pending_ = 0;     // 10000 while a host lookup is outstanding
    int32_t task_handle_ = 0;        // of the last asynchronous host lookup
    bool resolve_host_ = true;
    std::string host_name_;
    int32_t state_ = WSSS_Closed;
    bool blocking_ = true;           // no AsyncSelect or FIONBIO has made the Windows socket non-blocking
    bool send_blocked_ = false;
    bool data_waiting_ = false;
    bool counts_arrivals_ = true;
    int32_t timeout_ = 0;            // inactivity time-out in tenths of a second; 0 = off
    std::shared_ptr<VBTimer> timer_;          // pTimer: its Alarm raises TimedOut
    std::shared_ptr<TimerSink> timer_sink_;   // binds pTimer's Alarm to this core without owning it
    EventSource<WSocketEvents> events_;
    LiveCount counted_{&ObjectCounts::WSocketCount};
};
