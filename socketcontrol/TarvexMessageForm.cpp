// TarvexMessageForm.cpp: the message form, its window procedure and the user32 stand-ins.
//
// The form's window lives in the thread's message loop; the loop calls a small adapter that hands each
// message to whatever procedure is currently installed on the form (the form's own, or
// SubclassWindowProc once the control has sub-classed it), as a sub-classed window does on Windows.
#include "socketcontrol/TarvexMessageForm.h"

#include "platform/msgloop/MessageLoop.h"
#include "socketcontrol/ThreadState.h"
#include "socketcontrol/VBQueueForm.h"
#include "socketcontrol/VBWinMess.h"

namespace {
constexpr int32_t kErrorInvalidWindowHandle = 1400;
constexpr int32_t kErrorInvalidIndex = 1413;

// Like Windows' last error, readable at any time, also after the thread's state has ended; it has no
// destructor, so it needs no place in the ThreadState.
thread_local int32_t t_last_error = 0;

bool is_socket_message(uint32_t msg) {
    return msg == kMsgSocketNotify || msg == kMsgNameLookupDone || msg == kMsgAddrLookupDone;
}
}  // namespace

std::shared_ptr<TarvexMessageForm> MessageForm() noexcept {
    const ThreadState* state = thread_state();
    return state == nullptr ? nullptr : state->message_form;
}

int32_t TarvexMessageForm::DefaultWindowProc(int32_t, uint32_t, int32_t, int32_t) { return 0; }

void TarvexMessageForm::load() {
    // The adapter finds the form through the thread's slot, so a message delivered after the form was
    // unloaded goes nowhere.
    hwnd_ = static_cast<int32_t>(msgloop::MessageLoop::current().create_window(
        [](msgloop::Hwnd hwnd, uint32_t msg, uint32_t wparam, int32_t lparam) -> int32_t {
            const auto form = MessageForm();
            if (!form || form->hwnd_ != static_cast<int32_t>(hwnd)) return 0;
            return form->proc_(static_cast<int32_t>(hwnd), msg, static_cast<int32_t>(wparam), lparam);
        }));
}

TarvexMessageForm::~TarvexMessageForm() {
    if (msgloop::MessageLoop* loop = msgloop::MessageLoop::current_if_exists(); loop != nullptr && hwnd_ != 0)
        loop->destroy_window(static_cast<msgloop::Hwnd>(hwnd_));
}

WindowProc SetWindowLongA(int32_t hWnd, int32_t nIndex, WindowProc proc) noexcept {
    const auto form = MessageForm();
    if (!form || form->hwnd_ != hWnd || hWnd == 0) {
        t_last_error = kErrorInvalidWindowHandle;
        return nullptr;
    }
    if (nIndex != GWL_WNDPROC || proc == nullptr) {
        t_last_error = kErrorInvalidIndex;
        return nullptr;
    }
    return std::exchange(form->proc_, proc);
}

int32_t CallWindowProcA(WindowProc proc, int32_t hWnd, uint32_t uMsg, int32_t wParam, int32_t lParam) {
    return proc == nullptr ? 0 : proc(hWnd, uMsg, wParam, lParam);
}

int32_t GetLastError() noexcept { return t_last_error; }

// Queues the three socket messages while QueueForm is loaded and posts one wake-up for each; no user
// code runs here. Everything else goes to the previous procedure unchanged.
int32_t SubclassWindowProc(int32_t hWnd, uint32_t uMsg, int32_t wParam, int32_t lParam) {
    ThreadState* state = thread_state();
    if (state == nullptr) return 0;  // the thread is ending: nothing is dispatched any more
    const std::shared_ptr<VBQueueForm> queue_form = state->queue_form;
    if (is_socket_message(uMsg) && queue_form) {
        auto record = std::make_shared<VBWinMess>();
        record->hWnd = hWnd;
        record->lParam = lParam;
        record->Msg = static_cast<int32_t>(uMsg);
        record->wParam = wParam;
        state->queue.push_back(std::move(record));
        msgloop::MessageLoop::current().post_message(static_cast<msgloop::Hwnd>(queue_form->hWnd()), kMsgWakeUp, 0,
                                                     0);
        return 0;
    }
    return CallWindowProcA(state->previous_proc, hWnd, uMsg, wParam, lParam);
}

void load_forms() {
    load_queue_form();
    ThreadState& state = live_thread_state();
    if (state.message_form) return;
    std::shared_ptr<TarvexMessageForm> form(new TarvexMessageForm());
    form->load();
    state.message_form = std::move(form);
}

bool subclass_message_form() noexcept {
    ThreadState* state = thread_state();
    const auto form = MessageForm();  // null once the state has ended: SetWindowLongA then fails
    const WindowProc previous = SetWindowLongA(form ? form->hWnd() : 0, GWL_WNDPROC, &SubclassWindowProc);
    if (previous == nullptr || state == nullptr) return false;
    state->previous_proc = previous;
    state->subclassed = true;
    return true;
}

bool restore_message_form() noexcept {
    ThreadState* state = thread_state();
    if (state == nullptr) return false;
    const auto form = state->message_form;
    if (SetWindowLongA(form ? form->hWnd() : 0, GWL_WNDPROC, state->previous_proc) == nullptr) return false;
    state->subclassed = false;
    return true;
}

bool message_form_subclassed() noexcept {
    const ThreadState* state = thread_state();
    return state != nullptr && state->subclassed;
}

void empty_message_queue() noexcept {
    ThreadState* state = thread_state();
    if (state == nullptr) return;
    while (!state->queue.empty()) state->queue.pop_front();
}

void unload_forms() noexcept {
    if (ThreadState* state = thread_state()) {
        std::shared_ptr<TarvexMessageForm> form = std::move(state->message_form);
        form.reset();
    }
    unload_queue_form();
}
