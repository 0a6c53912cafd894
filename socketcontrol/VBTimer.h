// VBTimer.h: the control's public timer. It has no clock of its own: every VBTimer of a thread counts the
// 100 ms ticks of the thread's BaseTimer (VBQueueForm), so all timing is in whole tenths of a second.
// It raises Alarm cyclically every Interval ticks, or once at AlarmTime.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/object/Dispatch.h"
#include "platform/object/EventSource.h"
#include "socketcontrol/FormTimer.h"
#include "socketcontrol/MemberInfo.h"
#include "socketcontrol/ObjectCounts.h"

enum VBTimerType : int32_t {
    VBTTCyclic = 1,              // every Interval tenths of a second
    VBTtOnceAtSpecificTime = 2,  // once, on the first tick at or after AlarmTime
};

// Event interface of VBTimer.
class VBTimerEvents {
public:
    virtual ~VBTimerEvents() = default;
    virtual void Alarm() = 0;  // "Fires when the timer matures."
};

class VBTimer final : public Dispatch {
public:
    // A new timer subscribed to this thread's BaseTimer: Interval 1, disabled, cyclic, AlarmTime now.
    // Without a loaded QueueForm it raises 20001 "VBTimer Class_Initialize failure. 91 Object variable
    // or With block variable not set" (source "VBTimer") and no timer is made.
    static std::shared_ptr<VBTimer> create();
    ~VBTimer() override;

    // Members in the order of the default interface; AlarmTime is a date serial in local time.
    double AlarmTime() const { return alarm_time_; }
    void AlarmTime(double value) { alarm_time_ = value; }
    int32_t AlarmType() const { return alarm_type_; }
    void AlarmType(int32_t value);  // 1 or 2, else error 5 "Invalid alarm type"; always disables
    bool Enabled() const { return enabled_; }
    void Enabled(bool value);       // true reloads the countdown from Interval
    int32_t Interval() const { return interval_; }
    void Interval(int32_t value) { interval_ = value; }  // applies from the next reload
    void Reset() { countdown_ = interval_; }

    void bind_events(std::weak_ptr<VBTimerEvents> sink) { events_.bind(std::move(sink)); }

    // Late binding by member name, for callers that hold the timer as a Dispatch.
    Variant Invoke(std::string_view name, InvokeKind kind, std::vector<Variant> args) override;
    std::string type_name() const override { return "VBTimer"; }

    // Dispatch ids and help texts of the members and of the event.
    static std::span<const MemberInfo> members();
    static std::span<const MemberInfo> events();

    // The current local time as a date serial (days since 30 December 1899), to the millisecond.
    static double now();

private:
    VBTimer() = default;
    void tick();  // one BaseTimer tick

    int32_t countdown_ = 0;                  // ticks left until the next cyclic alarm
    int32_t interval_ = 1;                   // cycle length in ticks (tenths of a second)
    bool enabled_ = false;
    double alarm_time_ = 0;                  // set to now() by create()
    int32_t alarm_type_ = VBTTCyclic;
    FormTimer::Subscription t;               // the BaseTimer tick; dropped with the timer
    EventSource<VBTimerEvents> events_;
    LiveCount counted_{&ObjectCounts::TimerCount};
};
