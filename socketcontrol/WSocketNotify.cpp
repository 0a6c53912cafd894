// WSocketNotify.cpp: host lookups and the three message handlers of the socket core.
//
// The handlers run from the dispatcher, which has no caller to report to, so they never raise: a
// failure (including one thrown back out of an owner's event handler) becomes the Error event with the
// handler's prefix. If the owner's Error handler itself throws, that reaches the dispatcher, which logs
// it. Each handler pins the core, so an owner may release it from inside any event.
#include "common/ComError.h"
#include "common/Cp1252.h"
#include "platform/wsock/WinSock.h"
#include "socketcontrol/VBTimer.h"
#include "socketcontrol/WSocket.h"

namespace ws = wsock;

namespace {
constexpr int kSockAddrLength = 16;
constexpr int16_t kLookupPending = 10000;
constexpr int kLookupBufferLength = 10000;  // what Windows Sockets is told; the buffer has one byte more
constexpr const char* kResolutionFailed = "Host name resolution failed";

// What escaped an event handler, as number and description (a ComError keeps its own).
struct Failure {
    int32_t number;
    std::string description;
};
Failure failure_of(const std::exception& e) {
    if (const auto* com = dynamic_cast<const ComError*>(&e)) return {com->number(), com->description()};
    return {kErrAutomation, e.what()};
}
}  // namespace

// ---- starting lookups ----

void WSocket::end_lookup() noexcept {
    lookup_buffer_.assign(1, 0);  // indices 0 to 0
    lookup_pending_ = 0;
}

void WSocket::StartHostNameLookup(const std::string& Name) {
    if (lookup_pending_ != 0) raise_usage("Cannot start a host name lookup whilst one is alread in progress!");
    const uint32_t window = message_window();
    host_name_ = Name;
    lookup_buffer_.assign(kLookupBufferLength + 1, 0);
    lookup_pending_ = kLookupPending;
    const std::string name = cp1252::from_utf8(Name);
    const ws::HANDLE task = ws::WSAAsyncGetHostByName(window, kMsgNameLookupDone, name.c_str(),
                                                      reinterpret_cast<char*>(lookup_buffer_.data()), kLookupBufferLength);
    set_task_handle(static_cast<int32_t>(task));
    if (task == 0) {
        end_lookup();
        raise_winsock("Failure initiating asynchronous host name look up");
    }
    state_ = WSSS_ResolvingHost;
}

void WSocket::resolve_now(const std::string& name) {
    ws::HostEntry entry;
    if (ws::get_host_by_name(cp1252::from_utf8(name).c_str(), entry) == ws::SOCKET_ERROR)
        raise_winsock(kResolutionFailed);
    remote_.addr_be = entry.addresses.front();  // never empty: no address is WSANO_DATA
}

void WSocket::GetHostByName(const std::string& HostName) {
    if (resolve_host_) raise_usage("Cannot use this function whilst the ResolveHost property is TRUE!");
    if (state_ != WSSS_Idle) raise_usage("Socket must be idle to use GetHostByName!");
    StartHostNameLookup(HostName);
}

void WSocket::GetHostByAddr(const std::string& IPAddress) {
    if (lookup_pending_ != 0) raise_usage("Cannot to start a host name lookup whilst one is alread in progress!");
    const uint32_t window = message_window();
    lookup_buffer_.assign(kLookupBufferLength + 1, 0);
    const uint32_t address = ws::inet_addr(cp1252::from_utf8(IPAddress).c_str());  // no validity test
    const ws::HANDLE task =
        ws::WSAAsyncGetHostByAddr(window, kMsgAddrLookupDone, reinterpret_cast<const char*>(&address), 4, ws::WS_AF_INET,
                                  reinterpret_cast<char*>(lookup_buffer_.data()), kLookupBufferLength);
    if (task == 0) {
        end_lookup();
        raise_winsock("Failure initiating host name lookup!");
    }
    set_task_handle(static_cast<int32_t>(task));
    lookup_pending_ = kLookupPending;
}

// ---- lookup replies ----

// The lookup is over once its reply is here, whatever happens next: the pending flag and the buffer
// are cleared (and the state settled) before any event, so the owner can start a connect or another
// lookup from HostNameResolved, and a reply whose handling fails does not leave the core believing a
// lookup is still running.
void WSocket::name_lookup_done(const VBWinMess& Message) {
    const int32_t code = Message.high_word();
    if (code != 0) {
        end_lookup();  // State stays 3
        raise([&](WSocketEvents& sink) { sink.HostNameResolved(code, kResolutionFailed); });
        return;
    }
    ws::HostEntry entry;
    const bool parsed = ws::parse_hostent(reinterpret_cast<const char*>(lookup_buffer_.data()), kLookupBufferLength, entry) &&
                        !entry.addresses.empty();
    end_lookup();
    if (!parsed) throw ComError(ws::WSANO_DATA, "WSocket", "The host entry holds no address");
    remote_.addr_be = entry.addresses.front();
    if (resolve_host_) {  // the lookup came from Connect: go on connecting
        if (ws::connect(static_cast<ws::SOCKET>(handle_), reinterpret_cast<const sockaddr*>(&remote_), kSockAddrLength) !=
            ws::SOCKET_ERROR) {
            state_ = WSSS_Connected;  // a socket without notifications connects at once, as in Connect
            return;
        }
        const int32_t error = ws::WSAGetLastError();
        state_ = WSSS_Connecting;
        if (error != ws::WSAEWOULDBLOCK) raise_error(error, "Failure initating connect to remote host!");
        return;
    }
    state_ = WSSS_Idle;  // the lookup came from GetHostByName
    const std::string dotted = RemoteIPAddress();
    raise([&](WSocketEvents& sink) { sink.HostNameResolved(0, dotted); });
}

void WSocket::address_lookup_done(const VBWinMess& Message) {
    const int32_t code = Message.high_word();
    if (code != 0) {
        end_lookup();
        raise([&](WSocketEvents& sink) { sink.HostNameResolved(code, kResolutionFailed); });
        return;
    }
    ws::HostEntry entry;
    const bool parsed = ws::parse_hostent(reinterpret_cast<const char*>(lookup_buffer_.data()), kLookupBufferLength, entry);
    end_lookup();
    if (!parsed) throw ComError(ws::WSANO_DATA, "WSocket", "The host entry holds no name");
    const std::string name = cp1252::to_utf8(entry.name);
    raise([&](WSocketEvents& sink) { sink.HostNameResolved(0, name); });
}

void WSocket::HostNameLookupDone(const VBWinMess& Message) {
    const auto self = shared_from_this();
    try {
        name_lookup_done(Message);
    } catch (const std::exception& e) {
        const Failure f = failure_of(e);
        raise_error(f.number, "WSocket HostNameResolved. " + f.description);
    }
}

void WSocket::HostAddressResolved(const VBWinMess& Message) {
    const auto self = shared_from_this();
    try {
        address_lookup_done(Message);
    } catch (const std::exception& e) {
        const Failure f = failure_of(e);
        raise_error(f.number, "WSocket HostAddressResolved. " + f.description);
    }
}

// ---- socket notifications ----

void WSocket::raise_error(int32_t number, const std::string& description) {
    raise([&](WSocketEvents& sink) { sink.Error(number, description); });
}

// What each notification does, by its FD_ bit.
void WSocket::handle_notification(int event, int error) {
    if (error != 0) {
        state_ = WSSS_AsyncError;
        raise_error(error, "Socket error");
        return;
    }
    struct Action {
        int event;
        void (*run)(WSocket&);
    };
    static constexpr Action kActions[] = {
        {ws::FD_READ,
         [](WSocket& c) {
             c.data_waiting_ = true;
             c.timer_->Reset();
             const int32_t count = c.counts_arrivals_ ? c.BytesAvailable() : kUncounted;
             c.raise([&](WSocketEvents& sink) { sink.DataArrived(count); });
         }},
        {ws::FD_WRITE,
         [](WSocket& c) {
             c.send_blocked_ = false;
             c.raise([](WSocketEvents& sink) { sink.ReadyToSend(); });
         }},
        {ws::FD_OOB,
         [](WSocket& c) {
             c.data_waiting_ = true;
             c.raise([](WSocketEvents& sink) { sink.OOBDataArrived(); });
         }},
        {ws::FD_ACCEPT, [](WSocket& c) { c.raise([](WSocketEvents& sink) { sink.NewConnection(); }); }},
        {ws::FD_CONNECT,
         [](WSocket& c) {
             c.state_ = WSSS_Connected;
             c.GetLocalSocketName();
             c.raise([](WSocketEvents& sink) { sink.Connected(); });
         }},
        {ws::FD_CLOSE,
         [](WSocket& c) {
             c.raise([](WSocketEvents& sink) { sink.Closed(); });
             c.state_ = WSSS_Closed;  // the handle stays open until CloseSocket or destruction
         }},
    };
    for (const Action& action : kActions)
        if (action.event == event) return action.run(*this);
}

void WSocket::ProcessWinMess(const VBWinMess& Message) {
    const auto self = shared_from_this();
    if (state_ == WSSS_Closed) return;
    const int event = Message.low_word();
    try {
        handle_notification(event, Message.high_word());
    } catch (const std::exception& e) {
        const Failure f = failure_of(e);
        raise_error(f.number, "WSocket.ProcessWinMess. Failure processing message type: " + std::to_string(event) + " " +
                                  f.description);
    }
}
