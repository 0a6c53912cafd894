// MessageLoop_test.cpp: the pump's ordering and wake-up promises, its timers, descriptor watching and
// its use from another event loop.
#include "platform/msgloop/MessageLoop.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/msgloop/UniqueFd.h"

using namespace std::chrono_literals;
using msgloop::Hwnd;
using msgloop::MessageLoop;

namespace {

bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds limit = 3s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        msgloop::run_once(10ms);
    }
    return true;
}

struct Received {
    Hwnd hwnd;
    uint32_t msg;
    uint32_t wparam;
    int32_t lparam;
    bool operator==(const Received&) const = default;
};

// A window that records what it is given; destroyed with the fixture object.
class RecordingWindow {
public:
    explicit RecordingWindow(std::vector<Received>& log) {
        hwnd_ = MessageLoop::current().create_window([&log](Hwnd h, uint32_t m, uint32_t w, int32_t l) {
            log.push_back({h, m, w, l});
            return 0;
        });
    }
    ~RecordingWindow() { MessageLoop::current().destroy_window(hwnd_); }
    Hwnd hwnd() const { return hwnd_; }

private:
    Hwnd hwnd_;
};

// Drains whatever earlier tests left queued so that each test starts from an empty queue.
void settle() {
    while (MessageLoop::current().pending() > 0) msgloop::run_once(0ms);
}

}  // namespace

TEST(MessageLoop, PostOnlyQueuesAndDeliveryKeepsPostingOrder) {
    settle();
    std::vector<Received> log;
    RecordingWindow a(log), b(log);
    std::vector<int> tasks_run;
    auto& loop = MessageLoop::current();
    ASSERT_TRUE(loop.post_message(a.hwnd(), 0x401, 7, 0x10));
    loop.post_task([&] { tasks_run.push_back(static_cast<int>(log.size())); });
    ASSERT_TRUE(loop.post_message(b.hwnd(), 0x402, 8, -1));
    ASSERT_TRUE(loop.post_message(a.hwnd(), 0x403, 9, 0x7FFF0000));
    EXPECT_TRUE(log.empty()) << "a window procedure ran at post time";
    EXPECT_TRUE(tasks_run.empty());
    EXPECT_EQ(loop.pending(), 4u);

    ASSERT_TRUE(pump_until([&] { return log.size() == 3; }));
    const std::vector<Received> expected = {
        {a.hwnd(), 0x401, 7, 0x10}, {b.hwnd(), 0x402, 8, -1}, {a.hwnd(), 0x403, 9, 0x7FFF0000}};
    EXPECT_EQ(log, expected);
    EXPECT_EQ(tasks_run, std::vector<int>{1}) << "the task ran out of its place in the queue";
}

TEST(MessageLoop, MessagesForDestroyedOrUnknownWindowsAreDropped) {
    settle();
    std::vector<Received> log;
    auto& loop = MessageLoop::current();
    EXPECT_FALSE(loop.post_message(0, 0x401, 1, 1));
    Hwnd gone = 0;
    {
        RecordingWindow w(log);
        gone = w.hwnd();
        ASSERT_TRUE(loop.post_message(gone, 0x401, 1, 1));
    }
    EXPECT_FALSE(loop.is_window(gone));
    EXPECT_FALSE(loop.post_message(gone, 0x401, 2, 2));
    RecordingWindow after(log);
    EXPECT_NE(after.hwnd(), gone) << "window handles must not be reused";
    ASSERT_TRUE(loop.post_message(after.hwnd(), 0x401, 3, 3));
    ASSERT_TRUE(pump_until([&] { return !log.empty(); }));
    msgloop::run_once(0ms);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].wparam, 3u);
}

TEST(MessageLoop, WindowMayDestroyItselfAndPostFromItsOwnProcedure) {
    settle();
    auto& loop = MessageLoop::current();
    std::vector<uint32_t> seen;
    Hwnd self = 0;
    self = loop.create_window([&](Hwnd h, uint32_t m, uint32_t, int32_t) {
        seen.push_back(m);
        if (m == 1) loop.post_message(h, 2, 0, 0);   // delivered later in the same pass or the next
        if (m == 2) loop.destroy_window(h);           // the running procedure must survive this
        return 0;
    });
    loop.post_message(self, 1, 0, 0);
    loop.post_message(self, 3, 0, 0);   // queued before 2, so delivered before it
    ASSERT_TRUE(pump_until([&] { return seen.size() >= 3; }));
    EXPECT_EQ(seen, (std::vector<uint32_t>{1, 3, 2}));
    EXPECT_FALSE(loop.is_window(self));
}

TEST(MessageLoop, SubclassedWindowPassesOtherMessagesToThePreviousProcedure) {
    settle();
    auto& loop = MessageLoop::current();
    std::vector<uint32_t> original_saw;
    const Hwnd hwnd = loop.create_window([&](Hwnd, uint32_t m, uint32_t, int32_t) {
        original_saw.push_back(m);
        return static_cast<int32_t>(m) + 1000;
    });
    std::vector<uint32_t> queued;
    msgloop::WindowProc previous;
    previous = loop.set_window_proc(hwnd, [&](Hwnd h, uint32_t m, uint32_t w, int32_t l) -> int32_t {
        if (m >= 0x401 && m <= 0x403) {
            queued.push_back(m);
            return 0;
        }
        return previous(h, m, w, l);
    });
    ASSERT_TRUE(previous);
    EXPECT_EQ(loop.send_message(hwnd, 0x10, 0, 0), 0x10 + 1000);
    EXPECT_EQ(loop.send_message(hwnd, 0x402, 0, 0), 0);
    EXPECT_EQ(original_saw, std::vector<uint32_t>{0x10});
    EXPECT_EQ(queued, std::vector<uint32_t>{0x402});
    EXPECT_FALSE(loop.set_window_proc(0xFFFFFFF0u, [](Hwnd, uint32_t, uint32_t, int32_t) { return 0; }));
    loop.destroy_window(hwnd);
}

TEST(MessageLoop, PostFromAnotherThreadWakesABlockedPass) {
    settle();
    std::vector<Received> log;
    RecordingWindow w(log);
    const msgloop::ThreadPoster poster = MessageLoop::current().poster();
    const pid_t owner_tid = ::gettid();
    std::atomic<bool> posting{false};
    std::thread helper([&] {
        // Post only once the owner sleeps inside its pass, so that the post can only be noticed
        // through the wake-up and not by the inbox check at the start of a pass.
        const std::string stat_path = "/proc/self/task/" + std::to_string(owner_tid) + "/stat";
        for (;;) {
            std::ifstream stat(stat_path);
            std::string line;
            std::getline(stat, line);
            const auto close = line.rfind(')');
            if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'S') break;
            std::this_thread::yield();
        }
        posting = true;
        poster.post_message(w.hwnd(), 0x402, 42, 5);
    });
    // Each pass may wait 10 s; the pass during which the helper posts must return with the message
    // delivered. Without the wake-up it would time out with nothing taken in.
    while (!posting.load()) MessageLoop::current().run_once(10s);
    helper.join();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], (Received{w.hwnd(), 0x402, 42, 5}));
}

TEST(MessageLoop, ManyThreadsPostingKeepEachThreadsOrder) {
    settle();
    std::vector<Received> log;
    RecordingWindow w(log);
    const msgloop::ThreadPoster poster = MessageLoop::current().poster();
    constexpr int kThreads = 4, kEach = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) poster.post_message(w.hwnd(), 0x401, static_cast<uint32_t>(t), i);
        });
    for (auto& t : threads) t.join();
    ASSERT_TRUE(pump_until([&] { return log.size() == kThreads * kEach; }));
    std::vector<int32_t> last(kThreads, -1);
    for (const Received& r : log) {
        EXPECT_EQ(r.lparam, last[r.wparam] + 1) << "thread " << r.wparam;
        last[r.wparam] = r.lparam;
    }
}

TEST(MessageLoop, PosterOutlivingItsLoopReportsFailure) {
    msgloop::ThreadPoster poster(nullptr);
    std::thread owner([&] { poster = MessageLoop::current().poster(); });
    owner.join();   // the thread's loop is destroyed with the thread
    EXPECT_FALSE(poster.post_message(1, 0x401, 0, 0));
    EXPECT_FALSE(poster.post_task([] {}));
}

TEST(MessageLoop, PeriodicTimerTicksUntilRemovedEvenFromItsOwnCallback) {
    settle();
    auto& loop = MessageLoop::current();
    int ticks = 0;
    msgloop::TimerId id = 0;
    id = loop.add_timer(5ms, [&] {
        if (++ticks == 3) loop.remove_timer(id);
    });
    int once = 0;
    loop.add_timer(1ms, [&] { ++once; }, msgloop::TimerMode::once);
    ASSERT_TRUE(pump_until([&] { return ticks == 3 && once == 1; }));
    // Give both timers time to misbehave: several more periods must not change the counts.
    const int later_ticks_needed = 4;
    int witness = 0;
    const auto witness_id = loop.add_timer(5ms, [&] { ++witness; });
    ASSERT_TRUE(pump_until([&] { return witness >= later_ticks_needed; }));
    loop.remove_timer(witness_id);
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(once, 1);
    EXPECT_FALSE(loop.remove_timer(id));
}

// A thread that never pumps (synchronous sockets only) still adds and removes timers as controls come
// and go: each removal must free its timer at once.
TEST(MessageLoop, RemovedTimersAreFreedAtOnceWithoutAPass) {
    auto& loop = MessageLoop::current();
    const size_t before = loop.timer_count();
    const auto captured = std::make_shared<int>(0);
    for (int cycle = 0; cycle < 5000; ++cycle) {
        const auto periodic = loop.add_timer(100ms, [captured] {});
        const auto once = loop.add_timer(100ms, [captured] {}, msgloop::TimerMode::once);
        ASSERT_TRUE(loop.remove_timer(once));
        ASSERT_TRUE(loop.remove_timer(periodic));
        ASSERT_FALSE(loop.remove_timer(periodic));
    }
    EXPECT_EQ(loop.timer_count(), before);
    EXPECT_EQ(captured.use_count(), 1) << "a removed timer still holds its callback";
}

// Timers due in the same pass: a callback may remove a later one (which then does not run), itself, or
// a one-shot timer that has already finished.
TEST(MessageLoop, TimerCallbacksMayRemoveTimersDueInTheSamePass) {
    settle();
    auto& loop = MessageLoop::current();
    const size_t before = loop.timer_count();
    std::vector<std::string> ran;
    msgloop::TimerId first = 0, second = 0, third = 0, fourth = 0;
    first = loop.add_timer(1ms, [&] {
        ran.push_back("first");
        EXPECT_TRUE(loop.remove_timer(second));
        EXPECT_TRUE(loop.remove_timer(first));
    });
    second = loop.add_timer(1ms, [&] { ran.push_back("second"); });
    third = loop.add_timer(1ms, [&] {
        ran.push_back("third");
        EXPECT_FALSE(loop.remove_timer(third));   // a one-shot timer has finished before it runs
        EXPECT_TRUE(loop.remove_timer(fourth));
        loop.add_timer(1ms, [&] { ran.push_back("added"); }, msgloop::TimerMode::once);
    }, msgloop::TimerMode::once);
    fourth = loop.add_timer(1ms, [&] { ran.push_back("fourth"); });
    const auto all_due = std::chrono::steady_clock::now() + 2ms;
    while (std::chrono::steady_clock::now() < all_due) {
    }
    loop.run_once(0ms);
    EXPECT_EQ(ran, (std::vector<std::string>{"first", "third"}));
    ASSERT_TRUE(pump_until([&] { return ran.size() == 3; }));
    EXPECT_EQ(ran.back(), "added");
    EXPECT_EQ(loop.timer_count(), before);
}

TEST(MessageLoop, SelfRepostingWindowDoesNotStarveTimersOrDescriptors) {
    settle();
    auto& loop = MessageLoop::current();
    bool keep_going = true;
    long deliveries = 0;
    const Hwnd spinner = loop.create_window([&](Hwnd h, uint32_t, uint32_t, int32_t) {
        ++deliveries;
        if (keep_going) loop.post_message(h, 1, 0, 0);
        return 0;
    });
    loop.post_message(spinner, 1, 0, 0);
    bool ticked = false;
    const auto id = loop.add_timer(1ms, [&] { ticked = true; });
    EXPECT_TRUE(pump_until([&] { return ticked; }));
    keep_going = false;
    loop.remove_timer(id);
    settle();
    loop.destroy_window(spinner);
    EXPECT_GT(deliveries, 0);
}

TEST(MessageLoop, ExceptionsFromCallbacksGoToTheSinkAndThePumpGoesOn) {
    settle();
    auto& loop = MessageLoop::current();
    std::vector<std::string> sunk;
    loop.set_error_sink([&](const std::string& text) { sunk.push_back(text); });
    std::vector<Received> log;
    RecordingWindow w(log);
    const Hwnd thrower = loop.create_window([](Hwnd, uint32_t, uint32_t, int32_t) -> int32_t {
        throw std::runtime_error("handler failed");
    });
    loop.post_message(thrower, 1, 0, 0);
    loop.post_task([] { throw std::logic_error("task failed"); });
    loop.post_message(w.hwnd(), 2, 0, 0);
    ASSERT_TRUE(pump_until([&] { return log.size() == 1; }));
    EXPECT_EQ(sunk, (std::vector<std::string>{"handler failed", "task failed"}));
    loop.set_error_sink(nullptr);
    loop.destroy_window(thrower);
}

TEST(MessageLoop, NestedPassDeliversLaterMessagesOnceAndOuterPassContinues) {
    settle();
    auto& loop = MessageLoop::current();
    std::vector<uint32_t> order;
    const Hwnd hwnd = loop.create_window([&](Hwnd, uint32_t m, uint32_t, int32_t) {
        order.push_back(m);
        if (m == 1) loop.run_once(0ms);   // a handler that pumps (a modal dialog)
        return 0;
    });
    for (uint32_t m = 1; m <= 4; ++m) loop.post_message(hwnd, m, 0, 0);
    ASSERT_TRUE(pump_until([&] { return order.size() >= 4; }));
    msgloop::run_once(0ms);
    EXPECT_EQ(order, (std::vector<uint32_t>{1, 2, 3, 4}));
    loop.destroy_window(hwnd);
}

namespace {
struct PipeReader final : msgloop::FdHandler {
    std::vector<uint32_t> calls;
    std::function<void()> on_ready;
    void on_fd_ready(int fd, uint32_t events) override {
        calls.push_back(events);
        char buf[64];
        (void)!::read(fd, buf, sizeof buf);
        if (on_ready) on_ready();
    }
};
struct Pipe {
    UniqueFd r, w;
    Pipe() {
        int fds[2];
        if (::pipe(fds) == 0) {
            r.reset(fds[0]);
            w.reset(fds[1]);
        }
    }
};
}  // namespace

TEST(MessageLoop, WatchedDescriptorsReportReadinessAndUnwatchStopsItAtOnce) {
    settle();
    auto& loop = MessageLoop::current();
    Pipe p1, p2;
    ASSERT_TRUE(p1.r.valid() && p2.r.valid());
    PipeReader first, second;
    // Whichever runs first unwatches the other: readiness already collected for it in the same pass
    // must not be delivered.
    first.on_ready = [&] { loop.unwatch_fd(p2.r.get()); loop.unwatch_fd(p1.r.get()); };
    second.on_ready = [&] { loop.unwatch_fd(p1.r.get()); loop.unwatch_fd(p2.r.get()); };
    ASSERT_EQ(loop.watch_fd(p1.r.get(), msgloop::io::kIn, &first), 0);
    ASSERT_EQ(loop.watch_fd(p2.r.get(), msgloop::io::kIn, &second), 0);
    EXPECT_EQ(loop.watch_fd(p1.r.get(), msgloop::io::kIn, &first), -EEXIST);
    ASSERT_EQ(::write(p1.w.get(), "x", 1), 1);
    ASSERT_EQ(::write(p2.w.get(), "y", 1), 1);
    ASSERT_TRUE(pump_until([&] { return first.calls.size() + second.calls.size() >= 1; }));
    for (int i = 0; i < 5; ++i) msgloop::run_once(0ms);
    EXPECT_EQ(first.calls.size() + second.calls.size(), 1u);
    const auto& calls = first.calls.empty() ? second.calls : first.calls;
    EXPECT_TRUE(calls[0] & msgloop::io::kIn);
    EXPECT_EQ(loop.modify_fd(p1.r.get(), msgloop::io::kIn), -ENOENT);
}

TEST(MessageLoop, OuterLoopSeesWorkThroughTheDescriptor) {
    settle();
    auto& loop = MessageLoop::current();
    UniqueFd outer(::epoll_create1(EPOLL_CLOEXEC));
    ASSERT_TRUE(outer.valid());
    epoll_event ev{};
    ev.events = EPOLLIN;
    ASSERT_EQ(::epoll_ctl(outer.get(), EPOLL_CTL_ADD, loop.fd(), &ev), 0);
    auto outer_wait = [&](int ms) {
        epoll_event out{};
        return ::epoll_wait(outer.get(), &out, 1, ms);
    };
    std::vector<Received> log;
    RecordingWindow w(log);

    struct Case {
        const char* what;
        std::function<void()> make_work;
    };
    msgloop::TimerId timer = 0;
    const msgloop::ThreadPoster poster = loop.poster();
    const Case cases[] = {
        {"post from the owning thread", [&] { loop.post_message(w.hwnd(), 1, 0, 0); }},
        {"post from another thread", [&] { std::thread([&] { poster.post_message(w.hwnd(), 2, 0, 0); }).join(); }},
        {"timer falls due", [&] { timer = loop.add_timer(20ms, [&] { log.push_back({0, 3, 0, 0}); }, msgloop::TimerMode::once); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        while (outer_wait(0) > 0) loop.run_once(0ms);   // nothing pending before the case
        const size_t before = log.size();
        c.make_work();
        // Only the outer loop waits here; the pump runs when the outer loop says its fd is readable.
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        while (log.size() == before && std::chrono::steady_clock::now() < deadline)
            if (outer_wait(3000) > 0) loop.run_once(0ms);
        EXPECT_EQ(log.size(), before + 1);
    }
    EXPECT_FALSE(loop.remove_timer(timer));
}
