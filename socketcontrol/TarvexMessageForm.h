// TarvexMessageForm.h: the hidden form whose window receives every Windows Sockets notification and
// host-lookup reply of the thread. Its window procedure is replaced (sub-classed) by SubclassWindowProc,
// which only queues the three socket messages and posts a wake-up to QueueForm: no user code runs inside
// the window procedure. Everything else goes on to the previous window procedure.
//
// The user32 calls the control makes are reproduced here for these per-thread windows.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

// A window procedure: (hWnd, uMsg, wParam, lParam) -> result.
using WindowProc = int32_t (*)(int32_t hWnd, uint32_t uMsg, int32_t wParam, int32_t lParam);
constexpr int32_t GWL_WNDPROC = -4;

class TarvexMessageForm final {
public:
    ~TarvexMessageForm();
    TarvexMessageForm(const TarvexMessageForm&) = delete;
    TarvexMessageForm& operator=(const TarvexMessageForm&) = delete;

    int32_t hWnd() const noexcept { return hwnd_; }  // target of WSAAsyncSelect and the host lookups
    WindowProc window_proc() const noexcept { return proc_; }

    // The form's own window procedure: handles nothing and answers 0 (DefWindowProc).
    static int32_t DefaultWindowProc(int32_t hWnd, uint32_t uMsg, int32_t wParam, int32_t lParam);

private:
    friend void load_forms();
    friend WindowProc SetWindowLongA(int32_t, int32_t, WindowProc) noexcept;
    TarvexMessageForm() = default;
    void load();

    int32_t hwnd_ = 0;
    WindowProc proc_ = &DefaultWindowProc;  // replaced by SetWindowLongA
};

// This thread's loaded MessageForm, or nullptr.
std::shared_ptr<TarvexMessageForm> MessageForm() noexcept;

// SetWindowLongA(hWnd, GWL_WNDPROC, proc): installs `proc` on a window of this thread and returns the
// previous procedure; nullptr on failure (unknown window or index), with GetLastError() telling why.
WindowProc SetWindowLongA(int32_t hWnd, int32_t nIndex, WindowProc proc) noexcept;
// Calls `proc` as the window procedure of hWnd.
int32_t CallWindowProcA(WindowProc proc, int32_t hWnd, uint32_t uMsg, int32_t wParam, int32_t lParam);
// The last Windows error of this thread (1400 ERROR_INVALID_WINDOW_HANDLE, 1413 ERROR_INVALID_INDEX).
int32_t GetLastError() noexcept;

// The window procedure installed on the message form (see TarvexMessageForm.cpp).
int32_t SubclassWindowProc(int32_t hWnd, uint32_t uMsg, int32_t wParam, int32_t lParam);

// ---- the thread's notification window: start-up and shut-down steps the control runs ----

// Loads QueueForm, then MessageForm (no-op for a form already loaded).
void load_forms();
// Installs SubclassWindowProc on MessageForm and keeps the previous procedure. False when SetWindowLongA
// failed (GetLastError() has the code); the sub-classed flag is then left clear.
bool subclass_message_form() noexcept;
// Puts the previous procedure back and clears the flag; false when SetWindowLongA failed.
bool restore_message_form() noexcept;
bool message_form_subclassed() noexcept;
// Drops every queued message undispatched, first to last.
void empty_message_queue() noexcept;
// Unloads and forgets MessageForm, then QueueForm. Timers stop ticking; queued messages stay queued.
void unload_forms() noexcept;
