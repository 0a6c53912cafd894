// VBTimer.cpp: the timer's tick, its setters, its late-bound members and its clock.
#include "socketcontrol/VBTimer.h"

#include <array>
#include <climits>
#include <ctime>

#include "common/ComError.h"
#include "common/Conversions.h"
#include "socketcontrol/ErrorLog.h"
#include "socketcontrol/VBQueueForm.h"

namespace {
constexpr MemberInfo kMembers[] = {
    {"AlarmTime", 0x68030003, "The time when the alarm event will fire (once at specific time timers only)"},
    {"AlarmType", 0x68030002, "The type of timer (cyclic or once at a specified time)"},
    {"Enabled", 0x68030001, "Enables and disables the timer."},
    {"Interval", 0x68030000, "The timer interval in 1/10s of a second."},
    {"Reset", 0x60030006, "Reset the timer. This restarts the timer at the start of it's cycle."},
};
constexpr MemberInfo kEvents[] = {{"Alarm", 1, "Fires when the timer matures."}};

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
long long days_from_civil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}
constexpr long long kDays1899To1970 = 25569;  // 30 December 1899 to 1 January 1970
constexpr int32_t kInitFailure = 20001;         // the control's usage error number

// Assignments take what VB would convert to the member's type.
Variant put_value(std::vector<Variant>& args) { return argument(args, args.size() - 1, "VBTimer"); }
void require(bool ok) {
    if (!ok) throw vb_error(kErrNoMember, "VBTimer");
}

const DispatchTable<VBTimer>& dispatch_table() {
    using K = InvokeKind;
    static const DispatchTable<VBTimer> table(
        "VBTimer",
        {
            {"AlarmTime",
             [](VBTimer& t, K k, std::vector<Variant>& a) -> Variant {
                 require(k != K::Method);
                 if (k == K::PropertyGet) return Variant::date(t.AlarmTime());
                 t.AlarmTime(vb::to_date(put_value(a)));
                 return {};
             }},
            {"AlarmType",
             [](VBTimer& t, K k, std::vector<Variant>& a) -> Variant {
                 require(k != K::Method);
                 if (k == K::PropertyGet) return Variant(t.AlarmType());
                 t.AlarmType(vb::to_int32(put_value(a)));
                 return {};
             }},
            {"Enabled",
             [](VBTimer& t, K k, std::vector<Variant>& a) -> Variant {
                 require(k != K::Method);
                 if (k == K::PropertyGet) return Variant(t.Enabled());
                 t.Enabled(vb::to_bool(put_value(a)));
                 return {};
             }},
            {"Interval",
             [](VBTimer& t, K k, std::vector<Variant>& a) -> Variant {
                 require(k != K::Method);
                 if (k == K::PropertyGet) return Variant(t.Interval());
                 t.Interval(vb::to_int32(put_value(a)));
                 return {};
             }},
            {"Reset",
             [](VBTimer& t, K k, std::vector<Variant>&) -> Variant {
                 require(k == K::Method);
                 t.Reset();
                 return {};
             }},
        });
    return table;
}
}  // namespace

std::shared_ptr<VBTimer> VBTimer::create() {
    // Without the thread's forms there is no tick to subscribe to; the original failed reading
    // QueueForm.BaseTimer of an unloaded form, with run-time error 91.
    const std::shared_ptr<VBQueueForm> form = QueueForm();
    if (!form)
        throw ComError(kInitFailure, "VBTimer",
                       "VBTimer Class_Initialize failure. 91 Object variable or With block variable not set");
    std::shared_ptr<VBTimer> timer(new VBTimer());
    const std::weak_ptr<VBTimer> weak = timer;
    timer->t = form->BaseTimer().subscribe([weak] {
        if (const auto self = weak.lock()) self->tick();  // pinned: an Alarm handler may drop the timer
    });
    timer->alarm_time_ = now();
    return timer;
}

VBTimer::~VBTimer() = default;

void VBTimer::AlarmType(int32_t value) {
    if (value != VBTTCyclic && value != VBTtOnceAtSpecificTime) throw ComError(kErrInvalidCall, "VBTimer", "Invalid alarm type");
    alarm_type_ = value;
    enabled_ = false;  // setting the type always stops the timer
}

void VBTimer::Enabled(bool value) {
    if (value) countdown_ = interval_;
    enabled_ = value;
}

// One tick of BaseTimer. The Alarm handler's failures have nobody to go to: they are written to the
// error log, and the timer's own bookkeeping after the event still happens.
void VBTimer::tick() {
    if (!enabled_) return;
    const auto alarm = [this] {
        try {
            events_.raise([](VBTimerEvents& sink) { sink.Alarm(); });
        } catch (const ComError& e) {
            WriteErrorLog("VBTimer.Alarm Code: " + std::to_string(e.number()) + " Source: " + e.source() +
                          " Desc: " + e.description());
        } catch (const std::exception& e) {
            WriteErrorLog(std::string("VBTimer.Alarm Code: 440 Source: TarvexV3 Desc: ") + e.what());
        }
    };
    if (alarm_type_ == VBTTCyclic) {
        // With Interval 0 or less the countdown passes 0 and never fires; it stops at the lowest value
        // instead of overflowing.
        if (countdown_ > INT32_MIN) --countdown_;
        if (countdown_ == 0) {
            alarm();
            countdown_ = interval_;
        }
    } else if (alarm_type_ == VBTtOnceAtSpecificTime) {
        if (alarm_time_ <= now()) {
            alarm();
            enabled_ = false;
        }
    }
}

Variant VBTimer::Invoke(std::string_view name, InvokeKind kind, std::vector<Variant> args) {
    const auto self = shared_from_this();
    return dispatch_table().invoke(*this, name, kind, args);
}

std::span<const MemberInfo> VBTimer::members() { return kMembers; }
std::span<const MemberInfo> VBTimer::events() { return kEvents; }

double VBTimer::now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm local{};
    localtime_r(&ts.tv_sec, &local);
    const long long days = days_from_civil(local.tm_year + 1900LL, static_cast<unsigned>(local.tm_mon + 1),
                                           static_cast<unsigned>(local.tm_mday)) +
                           kDays1899To1970;
    const double seconds = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + ts.tv_nsec / 1e9;
    return static_cast<double>(days) + seconds / 86400.0;
}
