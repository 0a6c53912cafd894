// RASHelper.cpp: the relay's listeners and the thread's RASHelper.
#include "socketcontrol/RASHelper.h"

#include <algorithm>

namespace {
constexpr MemberInfo kMembers[] = {{"BroadCast", 0x60030000, ""}};
constexpr MemberInfo kEvents[] = {{"StateChanged", 1, ""}};
}  // namespace

std::span<const MemberInfo> RASHelper::members() { return kMembers; }
std::span<const MemberInfo> RASHelper::events() { return kEvents; }

// A listener may start or stop listening, or drop the last reference to this helper, from inside its
// handler: the list is copied first and the helper pinned.
void RASHelper::BroadCast(int32_t Handle, int32_t State, int32_t ErrorCode, int32_t ExtErrorCode) {
    const auto self = shared_from_this();
    const std::vector<std::weak_ptr<RASHelperEvents>> sinks = sinks_;
    for (const auto& weak : sinks)
        if (const auto sink = weak.lock()) sink->StateChanged(Handle, State, ErrorCode, ExtErrorCode);
}

void RASHelper::bind_events(std::weak_ptr<RASHelperEvents> sink) {
    std::erase_if(sinks_, [](const auto& s) { return s.expired(); });
    sinks_.push_back(std::move(sink));
}

void RASHelper::unbind_events(const RASHelperEvents* sink) {
    std::erase_if(sinks_, [&](const auto& s) {
        const auto locked = s.lock();
        return !locked || locked.get() == sink;
    });
}

std::shared_ptr<RASHelper> thread_ras_helper() {
    thread_local std::shared_ptr<RASHelper> helper = std::make_shared<RASHelper>();
    return helper;
}
