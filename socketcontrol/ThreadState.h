// ThreadState.h: everything the socket library keeps for one thread, in one object: the object counts,
// the control's start-up bookkeeping, the Helper, the socket registry, the message queue and the two
// hidden forms.
//
// A program may keep a control, its sockets or its timers longer than the thread's own state: in static
// storage (which ends after every thread_local of the main thread), or in a thread_local that the thread
// touched before it first used the library. Kept as separate thread_locals, the pieces would end in
// whatever order the thread first touched them, and such an object would use freed memory at exit. As
// one object, the state ends in the order of its members (the forms, the queue, the registry, the Helper, the
// counts), and from the moment it starts ending thread_state() answers null: whatever is released after
// that finds no state and does nothing (its socket was closed with the thread's Windows Sockets table).
#pragma once

#include <cstdint>
#include <deque>
#include <memory>

#include "platform/wsock/WinSock.h"
#include "socketcontrol/ObjectCounts.h"
#include "socketcontrol/SocketRegistry.h"
#include "socketcontrol/TarvexMessageForm.h"

class Helper;
class VBQueueForm;
class VBWinMess;

struct ThreadState final {
    ThreadState() = default;
    ~ThreadState();   // marks the state ended; the members then end bottom to top
    ThreadState(const ThreadState&) = delete;
    ThreadState& operator=(const ThreadState&) = delete;

    ObjectCounts counts;                      // ends last: the objects below count themselves off
    int32_t instance_count = 0;               // control instances whose start-up completed
    wsock::WSADATA wsa_data{};                // filled by the control's WSAStartup
    std::shared_ptr<Helper> helper;           // made on first use (thread_helper)
    SocketRegistry registry;
    std::deque<std::shared_ptr<VBWinMess>> queue;   // notifications waiting for the dispatcher
    std::shared_ptr<VBQueueForm> queue_form;        // loaded by the control's start-up
    std::shared_ptr<TarvexMessageForm> message_form;
    WindowProc previous_proc = nullptr;       // the message form's procedure before sub-classing
    bool subclassed = false;
};

// This thread's state, made on first use; null once it has begun to end (during the thread's exit).
ThreadState* thread_state() noexcept;
// The same for callers that cannot do without it: after the end it raises 91 (source "TarvexV3").
ThreadState& live_thread_state();
