// MessageLoop.h: the per-thread message pump that stands in for a Windows thread's message queue, its
// windows (receivers of posted messages) and its form timers, plus the epoll set that the socket layer
// registers its descriptors in.
//
// Model, as on Windows:
// - A "window" is a 32-bit handle with a window procedure, created on and owned by one thread.
// - post_message() only appends {window, number, wParam, lParam} to the thread's FIFO: no procedure
//   runs at post time. The pump later delivers each message to its window's procedure, oldest first.
//   A window procedure is expected to do little (queue, post a wake-up) and return.
// - Other threads (the host lookup helper, dial backends) post through a ThreadPoster, which takes a
//   mutex and wakes the pump through an eventfd.
// - Timers are periodic (or one-shot) callbacks run by the pump, like a form's timer control.
// - Descriptors registered with watch_fd() are served by the pump: their handler runs on this thread.
//
// Running: run() until stop(), run_for(), run_once() (one pass; what tests' pump_until uses), or from
// another event loop: fd() is an epoll descriptor that is readable whenever the pump has work; when it
// is, call run_once(0ms).
//
// Nothing here is locked except the cross-thread inbox. Callbacks (window procedures, timers, fd
// handlers, tasks) run on the owning thread, one at a time; they may call back into the loop (post,
// create or destroy windows and timers, even run a nested pass). An exception escaping a callback is
// caught, handed to the error sink (see set_error_sink) and the pump goes on.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace msgloop {

using Hwnd = uint32_t;        // 0 is never a valid window
using TimerId = uint32_t;     // 0 is never a valid timer
using Duration = std::chrono::milliseconds;

// Window message numbers the system uses by name.
constexpr uint32_t kWmMouseMove = 0x200;
constexpr uint32_t kWmUser = 0x400;

// A window procedure: (hWnd, uMsg, wParam, lParam) -> result, as on Windows. wParam and lParam are
// 32-bit because every user of them here (socket handles, task handles, reply words) is 32-bit.
using WindowProc = std::function<int32_t(Hwnd hwnd, uint32_t msg, uint32_t wparam, int32_t lparam)>;

// Readiness bits for watch_fd(); their values equal the epoll ones (EPOLLIN ...), so no translation
// happens on the hot path. The loop watches level-triggered (see MessageLoop.cpp for why).
namespace io {
constexpr uint32_t kIn = 0x001;       // readable / a connection to accept
constexpr uint32_t kPri = 0x002;      // urgent (out-of-band) data
constexpr uint32_t kOut = 0x004;      // writable / connect finished
constexpr uint32_t kErr = 0x008;      // error pending (always reported)
constexpr uint32_t kHup = 0x010;      // both directions finished (always reported)
constexpr uint32_t kRdHup = 0x2000;   // peer shut down its sending side
}  // namespace io

// Receives readiness of a watched descriptor. Called on the owning thread from inside a pass.
class FdHandler {
public:
    virtual void on_fd_ready(int fd, uint32_t events) = 0;

protected:
    ~FdHandler() = default;
};

enum class TimerMode { periodic, once };

struct LoopShared;   // the cross-thread inbox; private to MessageLoop.cpp

// A thread-safe way to hand work to one thread's pump from any thread. Holding one does not keep
// the loop alive: after the loop has gone, posts return false and are dropped.
class ThreadPoster {
public:
    explicit ThreadPoster(std::shared_ptr<LoopShared> shared) : shared_(std::move(shared)) {}
    // Queues a message for `hwnd` of the owning thread; delivered like a posted message (dropped then
    // if the window no longer exists). False when the loop has ended.
    bool post_message(Hwnd hwnd, uint32_t msg, uint32_t wparam, int32_t lparam) const;
    // Queues a callable that the owning thread runs in order with its messages. False when ended.
    bool post_task(std::function<void()> task) const;

private:
    std::shared_ptr<LoopShared> shared_;
};

class MessageLoop final {
public:
    // This thread's loop, created on first use and destroyed when the thread ends. Asked for by an
    // object that ends after it (during the thread's exit), it throws std::logic_error.
    static MessageLoop& current();
    // This thread's loop if it was created and has not ended, else null (does not create one).
    static MessageLoop* current_if_exists() noexcept;

    MessageLoop(const MessageLoop&) = delete;
    MessageLoop& operator=(const MessageLoop&) = delete;
    ~MessageLoop();

    // --- windows ---
    // A new window with `proc`. Handles are unique in the process and never reused.
    Hwnd create_window(WindowProc proc);
    // Forgets the window; messages still queued for it are dropped at delivery. False if unknown.
    bool destroy_window(Hwnd hwnd);
    bool is_window(Hwnd hwnd) const;
    // Replaces the window procedure (SetWindowLong GWL_WNDPROC) and returns the previous one; an empty
    // function when the window is unknown. The caller may pass messages on to the old procedure itself.
    WindowProc set_window_proc(Hwnd hwnd, WindowProc proc);
    // Calls the window procedure now (SendMessage on the owning thread); 0 if the window is unknown.
    int32_t send_message(Hwnd hwnd, uint32_t msg, uint32_t wparam, int32_t lparam);
    // Appends to the FIFO (PostMessage). Runs nothing. False (and nothing queued) if the window is unknown.
    bool post_message(Hwnd hwnd, uint32_t msg, uint32_t wparam, int32_t lparam);
    // Appends a callable to the same FIFO; it runs when its turn comes.
    void post_task(std::function<void()> task);
    // A poster for other threads.
    ThreadPoster poster() const;
    // Messages and tasks waiting in the FIFO (cross-thread posts count once they were taken in).
    size_t pending() const noexcept;

    // --- timers ---
    // `fn` runs every `interval` (or once after it) from the pump until removed. A late pump does not
    // run a periodic timer several times to catch up: like a form timer, missed ticks merge into one.
    TimerId add_timer(Duration interval, std::function<void()> fn, TimerMode mode = TimerMode::periodic);
    // Stops the timer (also from inside its own callback) and frees it at once, whether the pump runs or
    // not. False if unknown or already finished. Adding and removing cost O(log n).
    bool remove_timer(TimerId id);
    // Timers the loop holds: added and neither removed nor finished.
    size_t timer_count() const noexcept;

    // --- descriptors ---
    // Registers `fd` (level-triggered) with interest `events` (io:: bits); `handler` is called with the
    // ready bits. One registration per fd. Returns 0 or -errno.
    int watch_fd(int fd, uint32_t events, FdHandler* handler);
    // Changes the interest of a registered fd; 0 or -errno.
    int modify_fd(int fd, uint32_t events);
    // Removes the registration; readiness already collected for it in the current pass is not
    // delivered. Call before closing the fd. 0 or -errno.
    int unwatch_fd(int fd);

    // --- running ---
    // One pass: waits up to `max_wait` for work (not at all when messages are queued), then serves
    // ready descriptors, due timers and the queued messages and tasks (including those posted during
    // the pass, up to a budget so that descriptors are not starved). True if anything ran.
    bool run_once(Duration max_wait);
    // Passes until `duration` has passed or stop() was called.
    void run_for(Duration duration);
    // Passes until stop() is called.
    void run();
    // Makes the innermost run() / run_for() return after the current callback.
    void stop() noexcept;
    // The epoll descriptor: readable whenever run_once(0ms) has something to do.
    int fd() const noexcept;

    // Where exceptions that escape callbacks are reported (library code never prints). Without a sink
    // they are dropped.
    void set_error_sink(std::function<void(const std::string&)> sink);

private:
    MessageLoop();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The current thread's loop, for brevity at call sites and in tests.
inline bool run_once(Duration max_wait) { return MessageLoop::current().run_once(max_wait); }
inline void run_for(Duration duration) { MessageLoop::current().run_for(duration); }
inline bool post_message(Hwnd hwnd, uint32_t msg, uint32_t wparam, int32_t lparam) {
    return MessageLoop::current().post_message(hwnd, msg, wparam, lparam);
}

}  // namespace msgloop
