// ObjectCounts.h: the per-thread counts of live objects that the control publishes for diagnostics
// (WSocketCount, TimerCount, ...). Each class counts itself on the thread where it is made and destroyed.
#pragma once

#include <cstdint>

struct ObjectCounts {
    int32_t DialerCount = 0;
    int32_t HelperCount = 0;
    int32_t RASHelperCount = 0;
    int32_t SocketCount = 0;
    int32_t TextSocketCount = 0;
    int32_t TimerCount = 0;
    int32_t WinMessCount = 0;
    int32_t WSocketCount = 0;
};

// This thread's counts (part of its ThreadState).
ObjectCounts& object_counts() noexcept;

// A member that counts its object in for as long as the object lives:
//     LiveCount counted_{&ObjectCounts::SocketCount};
// Copying an object makes a second live object, so a copy counts itself in too.
class LiveCount {
public:
    explicit LiveCount(int32_t ObjectCounts::*count) noexcept : count_(count) { ++(object_counts().*count_); }
    LiveCount(const LiveCount& other) noexcept : LiveCount(other.count_) {}
    LiveCount& operator=(const LiveCount&) noexcept { return *this; }  // the object stays counted once
    ~LiveCount() { --(object_counts().*count_); }

private:
    int32_t ObjectCounts::*count_;
};
