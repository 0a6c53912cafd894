// Quellox.cpp: the control: factory methods, per-thread start-up and shut-down, object counts.
#include "socketcontrol/Quellox.h"

#include <string>

#include "common/ComError.h"
#include "platform/wsock/WinSock.h"
#include "socketcontrol/Dialer.h"
#include "socketcontrol/ErrorLog.h"
#include "socketcontrol/Helper.h"
#include "socketcontrol/ObjectCounts.h"
#include "socketcontrol/Socket.h"
#include "socketcontrol/SocketRegistry.h"
#include "socketcontrol/TarvexMessageForm.h"
#include "socketcontrol/TextSocket.h"
#include "socketcontrol/ThreadState.h"
#include "socketcontrol/VBTimer.h"
#include "socketcontrol/WSocket.h"

namespace {

constexpr MemberInfo kMembers[] = {
    {"DialerCount", 0x6803000D, ""},
    {"HelperCount", 0x6803000B, ""},
    {"RASHelperCount", 0x6803000A, ""},
    {"SocketCount", 0x68030009, ""},
    {"TextSocketCount", 0x68030008, ""},
    {"TimerCount", 0x68030007, ""},
    {"WinMessCount", 0x68030006, ""},
    {"WSocketCount", 0x68030005, ""},
    {"Count", 0x68030004, "The current number of sockets."},
    {"CreateDialer", 0x6003000E, ""},
    {"CreateSocket", 0x6003000F, "Creates a Socket object."},
    {"CreateTextSocket", 0x60030010, ""},
    {"CreateTimer", 0x60030011, ""},
};

constexpr uint16_t kWinsockVersion = 0x0101;  // Windows Sockets 1.1
constexpr const char* kLoadSource = "SocketFactory.ReadProperties";
constexpr const char* kEndSource = "SocketFactory.Terminate";

std::string failure_line(const char* prefix, const ComError& e) {
    return std::string(prefix) + std::to_string(e.number()) + " Source: " + e.source() + " Desc: " + e.description();
}

}  // namespace

// Answers the thread Helper's question for the instance that started the thread. It holds the instance
// by plain pointer: the instance owns the sink and unbinds it before it goes.
class Quellox::HelperSink final : public HelperEvents {
public:
    explicit HelperSink(const Quellox* control) : control_(control) {}
    void AreEventsFrozen(bool& Result) override { Result = control_->events_frozen_; }

private:
    const Quellox* control_;
};

Quellox::Quellox() noexcept { ReadProperties(); }

Quellox::~Quellox() {
    Terminate();
    if (Myhelper) Myhelper->unbind_events();  // with this instance goes the events-frozen answer
}

std::span<const MemberInfo> Quellox::members() { return kMembers; }
int32_t Quellox::instance_count() noexcept {
    const ThreadState* state = thread_state();
    return state == nullptr ? 0 : state->instance_count;
}

// ---- loading and ending ----

// Loading: the first instance of the thread starts the library for it; every instance that loads
// completely is counted. A failure is logged and leaves the instance uncounted; nothing reaches the
// container.
void Quellox::ReadProperties() {
    try {
        ThreadState& state = live_thread_state();
        if (state.instance_count == 0) start_thread();
        ++state.instance_count;
    } catch (const ComError& e) {
        WriteErrorLog(failure_line("Failure in ReadProperties. Code: ", e));
    } catch (const std::exception& e) {
        WriteErrorLog(failure_line("Failure in ReadProperties. Code: ", ComError(kErrAutomation, kLoadSource, e.what())));
    }
}

// Windows Sockets, then the two hidden forms, then the sub-classing of the message form, then the
// events-frozen question bound to this instance. A step that fails undoes the steps before it, so the
// thread is left as not started and the next instance to load starts cleanly.
void Quellox::start_thread() {
    const int result = wsock::WSAStartup(kWinsockVersion, &live_thread_state().wsa_data);
    if (result != 0)
        throw ComError(kUsageError, kLoadSource, "Error: " + std::to_string(result) + " Failure loading Windows Sockets DLL");
    try {
        load_forms();
        if (!subclass_message_form()) {
            const std::string code = std::to_string(GetLastError());
            WriteErrorLog("SocketFactory.ReadProperties: Failure sub-classing form code: " + code);
            throw ComError(kUsageError, kLoadSource, "SetWindowLong failed (sub-class) code: " + code);
        }
        helper_sink_ = std::make_shared<HelperSink>(this);
        Myhelper = thread_helper();
        Myhelper->bind_events(helper_sink_);
    } catch (...) {
        unload_forms();
        wsock::WSACleanup();
        throw;
    }
}

// Ending: counted off; the last instance of the thread stops the library. A failure is logged and ends
// the shut-down where it happened. An instance that ends after the thread's state (kept in static
// storage, say) has nothing left to stop.
void Quellox::Terminate() {
    try {
        ThreadState* state = thread_state();
        if (state == nullptr || state->instance_count == 0) return;
        if (--state->instance_count == 0) stop_thread();
    } catch (const ComError& e) {
        WriteErrorLog(failure_line("Failure in Terminate. Code: ", e));
    }
}

// Queued messages are dropped undispatched and the registry let go of (the cores stay open until their
// owners go); Windows Sockets is cleaned up, the message form's window procedure put back, the forms
// unloaded. Objects made by the factory live on but hear nothing more.
void Quellox::stop_thread() {
    empty_message_queue();
    SocketRegistry::current().Clear();
    wsock::WSACleanup();
    if (!restore_message_form()) {
        const std::string code = std::to_string(GetLastError());
        WriteErrorLog("SocketFactory.Terminate: Failure removing sub-classing code: " + code);
        throw ComError(kUsageError, kEndSource, "Failure removing sub-classing code: " + code);
    }
    unload_forms();
    if (Myhelper) Myhelper->unbind_events();
    Myhelper.reset();
}

// ---- counts ----

int32_t Quellox::DialerCount() noexcept { return object_counts().DialerCount; }
int32_t Quellox::HelperCount() noexcept { return object_counts().HelperCount; }
int32_t Quellox::RASHelperCount() noexcept { return object_counts().RASHelperCount; }
int32_t Quellox::SocketCount() noexcept { return object_counts().SocketCount; }
int32_t Quellox::TextSocketCount() noexcept { return object_counts().TextSocketCount; }
int32_t Quellox::TimerCount() noexcept { return object_counts().TimerCount; }
int32_t Quellox::WinMessCount() noexcept { return object_counts().WinMessCount; }
int32_t Quellox::WSocketCount() noexcept { return object_counts().WSocketCount; }
int32_t Quellox::Count() noexcept {
    const SocketRegistry* registry = SocketRegistry::current_if_alive();
    return registry == nullptr ? 0 : registry->Count();
}

// ---- factory ----

// The core is made, given its Windows socket, selected and registered before the socket object exists:
// a failure of any of these steps reaches the caller, and the half-made core closes its socket as it goes.
std::shared_ptr<Socket> Quellox::CreateSocket(int32_t SocketType, bool Asynchronous) {
    std::shared_ptr<WSocket> core = WSocket::create();
    core->CreateHandle(SocketType);
    if (Asynchronous) core->AsyncSelect(WSFDAll);
    SocketRegistry::current().Add(core);
    std::shared_ptr<Socket> socket = Socket::create();
    socket->TheSocket(std::move(core));
    return socket;
}

std::shared_ptr<TextSocket> Quellox::CreateTextSocket() {
    std::shared_ptr<WSocket> core = WSocket::create();
    core->CreateHandle(QXStream);
    core->AsyncSelect(WSFDAll);
    SocketRegistry::current().Add(core);
    return TextSocket::create_on(std::move(core));
}

std::shared_ptr<VBTimer> Quellox::CreateTimer() { return VBTimer::create(); }

std::shared_ptr<Dialer> Quellox::CreateDialer() { return Dialer::create(); }
