// Quellox.h: the socket control itself. A program places an instance on a form and uses it as the
// factory of the library's objects (CreateSocket, CreateTextSocket, CreateTimer). The instances of a
// thread also start and stop the library for that thread: the first one to load starts Windows Sockets
// and the notification window, the last one to end stops them. It publishes the thread's object counts.
//
// Constructing an instance is loading it (the container reading its properties); destroying it is
// ending it. Neither ever throws: a failed start-up or shut-down is written to the error log
// "TarvexErrors.log", and a failed start-up leaves the instance uncounted. An instance (or any object
// it made) that ends after the thread's state (ThreadState.h) does nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "socketcontrol/MemberInfo.h"
#include "socketcontrol/SocketEnums.h"

class Dialer;
class Helper;
class Socket;
class TextSocket;
class VBTimer;

class Quellox final {
public:
    Quellox() noexcept;
    ~Quellox();
    Quellox(const Quellox&) = delete;
    Quellox& operator=(const Quellox&) = delete;

    // ---- the default interface, in member order ----
    // Live objects of each class on this thread.
    static int32_t DialerCount() noexcept;
    static int32_t HelperCount() noexcept;
    static int32_t RASHelperCount() noexcept;
    static int32_t SocketCount() noexcept;
    static int32_t TextSocketCount() noexcept;
    static int32_t TimerCount() noexcept;
    static int32_t WinMessCount() noexcept;
    static int32_t WSocketCount() noexcept;
    // Cores in this thread's socket registry.
    static int32_t Count() noexcept;
    // A new dialer with the phonebook loaded (its errors reach the caller).
    std::shared_ptr<Dialer> CreateDialer();
    // A new socket (1 stream, 2 datagram) with its core registered; with Asynchronous it has all
    // notifications but out-of-band selected, without it is a plain blocking socket without events.
    // The core's errors reach the caller unchanged and no socket is made.
    std::shared_ptr<Socket> CreateSocket(int32_t SocketType, bool Asynchronous = true);
    // A new text socket on a registered stream socket with all notifications selected.
    std::shared_ptr<TextSocket> CreateTextSocket();
    std::shared_ptr<VBTimer> CreateTimer();

    // The container's "events frozen" state (true while it ignores the control's events, as in design
    // mode). The instance that started the thread answers the dispatcher's question with it; while it
    // is true, socket notifications stay queued.
    void set_events_frozen(bool frozen) noexcept { events_frozen_ = frozen; }

    // Control instances on this thread whose start-up completed.
    static int32_t instance_count() noexcept;

    // Dispatch ids and help texts of the members, in the interface's order.
    static std::span<const MemberInfo> members();

private:
    class HelperSink;  // answers Helper's AreEventsFrozen for this instance

    void ReadProperties();  // loading: thread start-up when this is the first instance, then counted
    void Terminate();       // ending: counted off, thread shut-down when this was the last
    void start_thread();
    void stop_thread();

    bool events_frozen_ = false;
    std::shared_ptr<Helper> Myhelper;            // only on the instance that did the thread's start-up
    std::shared_ptr<HelperSink> helper_sink_;    // held weakly by Myhelper
};
