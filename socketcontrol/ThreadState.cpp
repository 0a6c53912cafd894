// ThreadState.cpp: the thread's one state object and the flag that outlives it.
#include "socketcontrol/ThreadState.h"

#include "common/ComError.h"
#include "socketcontrol/Helper.h"
#include "socketcontrol/VBQueueForm.h"
#include "socketcontrol/VBWinMess.h"

namespace {
// Set when the thread's state starts to end. It has no destructor, so it stays readable by everything
// that ends after the state.
thread_local bool t_state_ended = false;
}  // namespace

ThreadState::~ThreadState() { t_state_ended = true; }

ThreadState* thread_state() noexcept {
    if (t_state_ended) return nullptr;
    thread_local ThreadState state;
    return &state;
}

ThreadState& live_thread_state() {
    ThreadState* state = thread_state();
    if (state == nullptr) throw vb_error(kErrObjectNotSet, "TarvexV3");
    return *state;
}
