// VBQueueForm.h: the hidden form that runs the dispatcher. It receives the wake-up message the window
// procedure posts, and carries two 100 ms timers: BaseTimer (the tick of every VBTimer) and EventTimer
// (runs the dispatcher, so a queued message waits at most about a tick even when its wake-up was lost).
//
// The dispatcher hands each queued message to its socket core outside the window procedure, oldest first.
// It does not nest: an owner's handler that pumps messages starts no second run, and the outer run goes
// on with whatever arrived meanwhile. While the container reports events frozen, messages stay queued.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>

#include "socketcontrol/FormTimer.h"
#include "socketcontrol/VBWinMess.h"

class VBQueueForm final : public std::enable_shared_from_this<VBQueueForm> {
public:
    ~VBQueueForm();
    VBQueueForm(const VBQueueForm&) = delete;
    VBQueueForm& operator=(const VBQueueForm&) = delete;

    int32_t hWnd() const noexcept { return hwnd_; }  // target of the wake-up message
    FormTimer& BaseTimer() noexcept { return base_timer_; }
    FormTimer& EventTimer() noexcept { return event_timer_; }

    // Runs the dispatcher once (see VBQueueForm.cpp). Never throws: a failure is written to the error
    // log, the message being dispatched is dropped and the run ends.
    void ProcessMessages() noexcept;
    bool busy() const noexcept { return busy_; }

private:
    friend void load_queue_form();
    VBQueueForm() = default;
    void load();  // makes the window and starts both timers
    int dispatch_one(const std::shared_ptr<VBWinMess>& record, int& step);

    int32_t hwnd_ = 0;
    bool busy_ = false;  // a run is active further up the call stack
    FormTimer base_timer_;
    FormTimer event_timer_;
    FormTimer::Subscription event_run_;  // EventTimer -> ProcessMessages
    struct Impl;
    std::unique_ptr<Impl> impl_;  // the window and the tick of the message loop
};

// This thread's loaded QueueForm, or nullptr (also once the thread's state has ended).
std::shared_ptr<VBQueueForm> QueueForm() noexcept;

// Loads this thread's QueueForm (no-op when loaded) / unloads and forgets it. load_forms() and
// unload_forms() (TarvexMessageForm.h) are what the control calls.
void load_queue_form();
void unload_queue_form() noexcept;

// This thread's message queue (first in, first out, part of its ThreadState); raises 91 once the
// thread's state has ended.
std::deque<std::shared_ptr<VBWinMess>>& message_queue();
