// ObjectCounts.cpp: where object_counts() keeps the thread's counts.
#include "socketcontrol/ObjectCounts.h"

#include "socketcontrol/ThreadState.h"

// Objects that end after the thread's state count themselves off in a scratch record nobody reads.
ObjectCounts& object_counts() noexcept {
    if (ThreadState* state = thread_state()) return state->counts;
    thread_local ObjectCounts after_the_end;   // no destructor: usable however late
    return after_the_end;
}
