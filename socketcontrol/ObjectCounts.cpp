// ObjectCounts.cpp: the thread-local storage behind object_counts().
#include "socketcontrol/ObjectCounts.h"

ObjectCounts& object_counts() noexcept {
    thread_local ObjectCounts counts;
    return counts;
}
