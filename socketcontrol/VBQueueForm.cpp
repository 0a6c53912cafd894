// VBQueueForm.cpp: the dispatcher and the form that runs it.
//
// A run takes the oldest queued message, finds its core (0x401 by socket handle, 0x402/0x403 by lookup
// task handle), asks whether events are frozen, calls the core's handler and only then removes the
// message, so a run that is cut short (events frozen, a failure) leaves the rest in order. The run keeps
// a step number that the failure line in the error log reports, to tell where it was.
#include "socketcontrol/VBQueueForm.h"

#include <string>

#include "common/ComError.h"
#include "platform/msgloop/MessageLoop.h"
#include "socketcontrol/ErrorLog.h"
#include "socketcontrol/Helper.h"
#include "socketcontrol/SocketRegistry.h"
#include "socketcontrol/ThreadState.h"
#include "socketcontrol/WSocket.h"

namespace {
constexpr msgloop::Duration kFormTimerInterval{100};  // both timer controls of the form
}  // namespace

struct VBQueueForm::Impl {
    msgloop::TimerId base_tick = 0;
    msgloop::TimerId event_tick = 0;
};

std::shared_ptr<VBQueueForm> QueueForm() noexcept {
    const ThreadState* state = thread_state();
    return state == nullptr ? nullptr : state->queue_form;
}

std::deque<std::shared_ptr<VBWinMess>>& message_queue() { return live_thread_state().queue; }

void VBQueueForm::load() {
    impl_ = std::make_unique<Impl>();
    msgloop::MessageLoop& loop = msgloop::MessageLoop::current();
    const std::weak_ptr<VBQueueForm> weak = weak_from_this();
    // The form's mouse-move handler: the wake-up that SubclassWindowProc posts runs the dispatcher.
    hwnd_ = static_cast<int32_t>(loop.create_window([weak](msgloop::Hwnd, uint32_t msg, uint32_t, int32_t) {
        if (msg == kMsgWakeUp)
            if (const auto form = weak.lock()) form->ProcessMessages();
        return int32_t{0};
    }));
    impl_->base_tick = loop.add_timer(kFormTimerInterval, [weak] {
        if (const auto form = weak.lock()) form->base_timer_.fire();
    });
    impl_->event_tick = loop.add_timer(kFormTimerInterval, [weak] {
        if (const auto form = weak.lock()) form->event_timer_.fire();
    });
    // The subscription dies with the form, so `this` cannot dangle.
    event_run_ = event_timer_.subscribe([this] { ProcessMessages(); });
}

VBQueueForm::~VBQueueForm() {
    msgloop::MessageLoop* loop = msgloop::MessageLoop::current_if_exists();
    if (loop == nullptr || !impl_) return;
    loop->remove_timer(impl_->base_tick);
    loop->remove_timer(impl_->event_tick);
    loop->destroy_window(static_cast<msgloop::Hwnd>(hwnd_));
}

// Hands one record to its core; returns 0 when the record was handled or dropped, 1 when events are
// frozen and the record must stay at the head of the queue.
int VBQueueForm::dispatch_one(const std::shared_ptr<VBWinMess>& record, int& step) {
    const SocketRegistry& registry = SocketRegistry::current();
    step = 2;
    const int32_t msg = record->Msg;
    std::shared_ptr<WSocket> core;
    if (msg == static_cast<int32_t>(kMsgSocketNotify)) {
        step = 3;
        step = 4;
        core = registry.find_by_handle(record->wParam);
    } else {
        step = 8;
        step = 9;
        core = registry.find_by_task(record->wParam);
    }
    if (!core) return 0;  // the socket or lookup is gone: dropped without notice
    const bool socket_message = msg == static_cast<int32_t>(kMsgSocketNotify);
    step = socket_message ? 5 : 10;
    if (thread_helper()->EventsAreFrozen()) return 1;
    if (socket_message) {
        step = 6;
        core->ProcessWinMess(*record);
        step = 7;
    } else {
        step = 11;
        if (record->Msg == static_cast<int32_t>(kMsgNameLookupDone)) {
            step = 12;
            core->HostNameLookupDone(*record);
            step = 13;
        } else {
            step = 14;
            core->HostAddressResolved(*record);
            step = 15;
        }
    }
    return 0;
}

void VBQueueForm::ProcessMessages() noexcept {
    if (busy_) return;  // a run is active further up the call stack; it will see the new messages
    ThreadState* state = thread_state();
    if (state == nullptr) return;  // the thread is ending
    const auto self = shared_from_this();  // a handler may end the control and unload this form
    busy_ = true;
    auto& queue = state->queue;
    int step = 0;
    const VBWinMess* current = nullptr;
    // Removes the head if it is still the record this run took (a handler may have emptied the queue).
    const auto remove_current = [&] {
        if (!queue.empty() && queue.front().get() == current) queue.pop_front();
        current = nullptr;
    };
    try {
        for (;;) {
            if (queue.empty()) {
                step = 19;
                break;
            }
            step = 1;
            std::shared_ptr<VBWinMess> record = queue.front();
            current = record.get();
            if (dispatch_one(record, step) != 0) break;  // events frozen: a later run goes on
            step = 16;
            record.reset();
            step = 17;
            remove_current();
            step = 18;
        }
    } catch (const ComError& e) {
        WriteErrorLog("QueueForm.ProcessMessages State: " + std::to_string(step) + " Code: " +
                      std::to_string(e.number()) + " Source: " + e.source() + " Desc: " + e.description());
        remove_current();
    } catch (const std::exception& e) {
        WriteErrorLog("QueueForm.ProcessMessages State: " + std::to_string(step) + " Code: " +
                      std::to_string(kErrAutomation) + " Source: TarvexV3 Desc: " + e.what());
        remove_current();
    } catch (...) {  // an owner's handler may throw anything; the run is noexcept and must not end the process
        WriteErrorLog("QueueForm.ProcessMessages State: " + std::to_string(step) + " Code: " +
                      std::to_string(kErrAutomation) + " Source: TarvexV3 Desc: an exception of unknown type");
        remove_current();
    }
    busy_ = false;
}

// ---- thread start-up and shut-down of the queue form (see TarvexMessageForm.cpp for the rest) ----

void load_queue_form() {
    ThreadState& state = live_thread_state();
    if (state.queue_form) return;
    std::shared_ptr<VBQueueForm> form(new VBQueueForm());
    form->load();
    state.queue_form = std::move(form);
}

void unload_queue_form() noexcept {
    ThreadState* state = thread_state();
    if (state == nullptr) return;
    std::shared_ptr<VBQueueForm> form = std::move(state->queue_form);
    form.reset();  // a run in progress keeps the form alive until it returns
}
