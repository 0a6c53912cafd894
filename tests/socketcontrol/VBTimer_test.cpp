// VBTimer_test.cpp: the timer counted on BaseTimer's ticks. Most cases drive the ticks by hand
// (BaseTimer().fire()), which makes the counting exact; one case runs on the real 100 ms tick.
#include "socketcontrol/VBTimer.h"

#include <gtest/gtest.h>

#include <functional>

#include "PumpUntil.h"
#include "common/ComError.h"

namespace {

struct AlarmLog : VBTimerEvents {
    std::vector<int> ticks;  // tick numbers at which Alarm came
    int now = 0;
    std::function<void()> hook;
    void Alarm() override {
        ticks.push_back(now);
        if (hook) hook();
    }
};

class VBTimerTest : public ::testing::Test {
protected:
    void SetUp() override {
        timer_ = VBTimer::create();
        timer_->bind_events(log_);
    }
    // Fires `n` BaseTimer ticks, running `at(tick)` before each.
    void tick(int n, const std::function<void(int)>& at = {}) {
        for (int i = 0; i < n; ++i) {
            ++log_->now;
            if (at) at(log_->now);
            QueueForm()->BaseTimer().fire();
        }
    }

    ControlThread thread_;
    std::shared_ptr<VBTimer> timer_;
    std::shared_ptr<AlarmLog> log_ = std::make_shared<AlarmLog>();
};

TEST_F(VBTimerTest, CyclicTimerCountsTicksFromEnablingOrReset) {
    struct Case {
        const char* name;
        int32_t interval;
        std::function<void(VBTimer&, int)> at;  // before tick n
        std::vector<int> expected;
    };
    const Case cases[] = {
        {"interval 1 fires every tick", 1, nullptr, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
        {"interval 5", 5, nullptr, {5, 10}},
        {"reset delays the next alarm", 5,
         [](VBTimer& t, int n) {
             if (n == 4) t.Reset();
         },
         {8}},
        {"interval change waits for the next reload", 3,
         [](VBTimer& t, int n) {
             if (n == 2) t.Interval(5);
         },
         {3, 8}},
        {"interval 0 counts past zero and never fires", 0, nullptr, {}},
        {"negative interval never fires", -2, nullptr, {}},
        {"disabled at tick 4", 2,
         [](VBTimer& t, int n) {
             if (n == 4) t.Enabled(false);
         },
         {2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log_->ticks.clear();
        log_->now = 0;
        timer_->Interval(c.interval);
        timer_->Enabled(true);
        tick(12, [&](int n) {
            if (c.at) c.at(*timer_, n);
        });
        EXPECT_EQ(log_->ticks, c.expected);
        timer_->Enabled(false);
    }
}

TEST_F(VBTimerTest, OnceAtTimeFiresOnceAndStaysOff) {
    timer_->AlarmType(VBTtOnceAtSpecificTime);
    timer_->AlarmTime(VBTimer::now() - 1.0);  // yesterday: at once
    log_->hook = [&] { timer_->Enabled(true); };  // has no effect: the timer is switched off afterwards
    timer_->Enabled(true);
    tick(3);
    EXPECT_EQ(log_->ticks, std::vector<int>{1});
    EXPECT_FALSE(timer_->Enabled());

    log_->hook = nullptr;
    timer_->AlarmTime(VBTimer::now() + 1.0);  // tomorrow
    timer_->Enabled(true);
    tick(3);
    EXPECT_EQ(log_->ticks, std::vector<int>{1});
    EXPECT_TRUE(timer_->Enabled());
}

TEST_F(VBTimerTest, AlarmTypeOutOfRangeIsRefusedAndAnyValidOneStopsTheTimer) {
    timer_->Enabled(true);
    try {
        timer_->AlarmType(3);
        FAIL() << "AlarmType 3 was accepted";
    } catch (const ComError& e) {
        EXPECT_EQ(e.number(), 5);
        EXPECT_EQ(e.source(), "VBTimer");
        EXPECT_EQ(e.description(), "Invalid alarm type");
    }
    EXPECT_EQ(timer_->AlarmType(), VBTTCyclic);
    EXPECT_TRUE(timer_->Enabled());
    timer_->AlarmType(VBTTCyclic);
    EXPECT_FALSE(timer_->Enabled());
}

TEST_F(VBTimerTest, OwnerMayReleaseTheTimerInsideAlarm) {
    const int32_t timers = object_counts().TimerCount;
    std::weak_ptr<VBTimer> watch = timer_;
    log_->hook = [&] { timer_.reset(); };
    timer_->Enabled(true);
    tick(2);
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(log_->ticks, std::vector<int>{1});
    EXPECT_EQ(object_counts().TimerCount, timers - 1);
}

TEST_F(VBTimerTest, LateBoundMembersUseTheirNames) {
    timer_->put("Interval", {Variant("3")});
    timer_->put("enabled", {Variant(true)});
    EXPECT_EQ(timer_->get("Interval"), Variant(int32_t{3}));
    tick(3);
    EXPECT_EQ(log_->ticks, std::vector<int>{3});
    timer_->call("Reset");
    try {
        timer_->call("Start");
        FAIL() << "an unknown member was accepted";
    } catch (const ComError& e) {
        EXPECT_EQ(e.number(), 438);
    }
    EXPECT_EQ(find_member_info(VBTimer::members(), "Reset")->dispid, 0x60030006);
}

TEST_F(VBTimerTest, RunsOnTheThreadsRealTick) {
    timer_->Interval(2);
    timer_->Enabled(true);
    EXPECT_TRUE(pump_until([&] { return log_->ticks.size() >= 2; }));
}

TEST(VBTimerWithoutForms, CreationFailsAndCountsNothing) {
    const int32_t timers = object_counts().TimerCount;
    try {
        VBTimer::create();
        FAIL() << "a timer was made without the thread's forms";
    } catch (const ComError& e) {
        EXPECT_EQ(e.number(), 20001);
        EXPECT_EQ(e.source(), "VBTimer");
    }
    EXPECT_EQ(object_counts().TimerCount, timers);
}

}  // namespace
