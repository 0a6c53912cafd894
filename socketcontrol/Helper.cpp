// Helper.cpp: the events-frozen question and the thread's Helper.
#include "socketcontrol/Helper.h"

#include "socketcontrol/ThreadState.h"

bool Helper::EventsAreFrozen() {
    const auto self = shared_from_this();  // the handler may let go of the thread's last reference
    bool result = false;
    events_.raise([&](HelperEvents& sink) { sink.AreEventsFrozen(result); });
    return result;
}

std::shared_ptr<Helper> thread_helper() {
    ThreadState& state = live_thread_state();
    if (!state.helper) state.helper = std::make_shared<Helper>();
    return state.helper;
}
