// RASHelper.h: the thread's relay of dial notifications. Every dialer of a thread listens to the one
// RASHelper of that thread; BroadCast raises StateChanged to all of them, and each dialer keeps only
// what concerns its own connection. Notifications reach BroadCast on the dialers' thread: the dial
// callback (which runs on a thread of the dial service) posts them to that thread's message loop.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "socketcontrol/MemberInfo.h"
#include "socketcontrol/ObjectCounts.h"

// Event interface of RASHelper.
class RASHelperEvents {
public:
    virtual ~RASHelperEvents() = default;
    virtual void StateChanged(int32_t Handle, int32_t State, int32_t ErrorCode, int32_t ExtErrorCode) = 0;
};

class RASHelper final : public std::enable_shared_from_this<RASHelper> {
public:
    RASHelper() = default;
    RASHelper(const RASHelper&) = delete;
    RASHelper& operator=(const RASHelper&) = delete;

    // Raises StateChanged with the same values to every listener, in the order they started listening.
    void BroadCast(int32_t Handle, int32_t State, int32_t ErrorCode, int32_t ExtErrorCode);

    // Listeners are held weakly: a dialer that has gone simply hears nothing.
    void bind_events(std::weak_ptr<RASHelperEvents> sink);
    void unbind_events(const RASHelperEvents* sink);

    static std::span<const MemberInfo> members();
    static std::span<const MemberInfo> events();

private:
    std::vector<std::weak_ptr<RASHelperEvents>> sinks_;
    LiveCount counted_{&ObjectCounts::RASHelperCount};
};

// The thread's RASHelper, created on first use and kept until the thread ends.
std::shared_ptr<RASHelper> thread_ras_helper();
