// VBQueueForm_test.cpp: the notification window and the dispatcher: queueing, deferred and non-nested
// dispatch, events frozen, failures written to the error log, and other window messages.
#include "socketcontrol/VBQueueForm.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "WSocketTestSupport.h"
#include "common/ComError.h"
#include "socketcontrol/ErrorLog.h"
#include "socketcontrol/Helper.h"
#include "socketcontrol/TarvexMessageForm.h"
#include "socketcontrol/VBTimer.h"

namespace {

// Posts a socket notification for `core` to the message form, as Windows Sockets would.
void post_notification(const WSocket& core, int32_t event, int32_t error = 0) {
    msgloop::post_message(static_cast<msgloop::Hwnd>(MessageForm()->hWnd()), kMsgSocketNotify,
                          static_cast<uint32_t>(core.SocketHandle()), wsock::WSAMAKESELECTREPLY(event, error));
}

struct FreezeSwitch : HelperEvents {
    bool frozen = false;
    void AreEventsFrozen(bool& Result) override { Result = frozen; }
};

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Whether `lines` is exactly the given texts, each on a line of its own that starts with a time stamp
// "M/d/yyyy h:mm:ss AM" and ends with CR LF.
bool is_log(const std::string& lines, const std::vector<std::string>& texts) {
    size_t at = 0;
    for (const std::string& text : texts) {
        const size_t end = lines.find("\r\n", at);
        if (end == std::string::npos) return false;
        const std::string line = lines.substr(at, end - at);
        at = end + 2;
        int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0, used = 0;
        char half[3] = {};
        if (std::sscanf(line.c_str(), "%d/%d/%d %d:%2d:%2d %2[AP]M %n", &month, &day, &year, &hour, &minute, &second,
                        half, &used) != 7)
            return false;
        if (month < 1 || month > 12 || day < 1 || day > 31 || hour < 1 || hour > 12) return false;
        if (line.substr(static_cast<size_t>(used)) != text) return false;
    }
    return at == lines.size();
}

class DispatcherTest : public ::testing::Test {
protected:
    // A registered core without notifications: only the messages a test posts reach it.
    void SetUp() override {
        core_ = make_core(QXStream, false);
        core_->SetState(WSSS_Connected);
        core_->bind_events(events_);
    }
    void TearDown() override { thread_helper()->unbind_events(); }

    ScopedTempDir dir_;
    ControlThread thread_;
    std::shared_ptr<WSocket> core_;
    std::shared_ptr<CoreRecorder> events_ = std::make_shared<CoreRecorder>();
};

TEST_F(DispatcherTest, MessagesAreDispatchedInOrderAndUnknownOnesDropped) {
    post_notification(*core_, wsock::FD_WRITE);
    msgloop::post_message(static_cast<msgloop::Hwnd>(MessageForm()->hWnd()), kMsgSocketNotify, 987654321,
                          wsock::FD_READ);  // no such socket
    msgloop::post_message(static_cast<msgloop::Hwnd>(MessageForm()->hWnd()), kMsgNameLookupDone, 987654321, 0);
    post_notification(*core_, wsock::FD_ACCEPT);
    ASSERT_TRUE(pump_until([&] { return events_->events.size() == 2 && message_queue().empty(); }));
    EXPECT_EQ(events_->events, (std::vector<std::string>{"ReadyToSend", "NewConnection"}));
    EXPECT_EQ(object_counts().WinMessCount, 0);  // every record was released
}

TEST_F(DispatcherTest, FrozenEventsStayQueuedAndFollowInOrderAfterwards) {
    auto freeze = std::make_shared<FreezeSwitch>();
    freeze->frozen = true;
    thread_helper()->bind_events(freeze);
    post_notification(*core_, wsock::FD_WRITE);
    post_notification(*core_, wsock::FD_OOB);
    post_notification(*core_, wsock::FD_ACCEPT);
    // Let several runs happen (wake-ups and EventTimer ticks) while frozen.
    auto clock = VBTimer::create();
    clock->Interval(3);
    clock->Enabled(true);
    struct Alarms : VBTimerEvents {
        int n = 0;
        void Alarm() override { ++n; }
    };
    auto alarms = std::make_shared<Alarms>();
    clock->bind_events(alarms);
    ASSERT_TRUE(pump_until([&] { return alarms->n >= 1; }));
    EXPECT_TRUE(events_->events.empty());
    EXPECT_EQ(message_queue().size(), 3u);
    EXPECT_FALSE(QueueForm()->busy());

    freeze->frozen = false;
    ASSERT_TRUE(pump_until([&] { return events_->events.size() == 3; }));
    EXPECT_EQ(events_->events, (std::vector<std::string>{"ReadyToSend", "OOBDataArrived", "NewConnection"}));
}

// A handler that pumps lets wake-ups and timer ticks through, but no second run starts: what arrived
// meanwhile is dispatched by the outer run after the handler returns, still in order.
TEST_F(DispatcherTest, HandlerThatPumpsDoesNotNestDispatch) {
    int depth = 0;
    int deepest = 0;
    events_->hook = [&](const std::string& e) {
        ++depth;
        deepest = std::max(deepest, depth);
        if (e == "ReadyToSend") {
            post_notification(*core_, wsock::FD_OOB);
            post_notification(*core_, wsock::FD_ACCEPT);
            const int32_t ticks_before = 0;
            int ticks = ticks_before;
            auto tick = QueueForm()->EventTimer().subscribe([&] { ++ticks; });
            EXPECT_TRUE(pump_until([&] { return message_queue().size() >= 3 && ticks >= 1; }));
            EXPECT_EQ(events_->events.size(), 1u);  // nothing was dispatched inside
        }
        --depth;
    };
    post_notification(*core_, wsock::FD_WRITE);
    ASSERT_TRUE(pump_until([&] { return events_->events.size() == 3; }));
    EXPECT_EQ(events_->events, (std::vector<std::string>{"ReadyToSend", "OOBDataArrived", "NewConnection"}));
    EXPECT_EQ(deepest, 1);
    EXPECT_TRUE(message_queue().empty());
}

// An Error handler that throws: the core's own catch reports it through Error again, and when that
// throws too the failure reaches the dispatcher, which logs it with step 6, drops that message and
// lets the next run dispatch the rest.
TEST_F(DispatcherTest, FailureEscapingAHandlerIsLoggedAndTheRestStillDispatched) {
    events_->hook = [&](const std::string& e) {
        if (e.rfind("Error", 0) == 0 && events_->count("ReadyToSend") == 0) throw ComError(77, "Owner", "boom");
    };
    post_notification(*core_, wsock::FD_CLOSE, 10054);
    post_notification(*core_, wsock::FD_WRITE);
    ASSERT_TRUE(pump_until([&] { return events_->has("ReadyToSend"); }));
    EXPECT_EQ(events_->events, (std::vector<std::string>{
                                   "Error 10054 Socket error",
                                   "Error 77 WSocket.ProcessWinMess. Failure processing message type: 32 boom",
                                   "ReadyToSend"}));
    const std::string log = read_file(dir_.path() / "TarvexErrors.log");
    EXPECT_TRUE(is_log(log, {"QueueForm.ProcessMessages State: 6 Code: 77 Source: Owner Desc: boom"})) << log;
    EXPECT_TRUE(message_queue().empty());
    EXPECT_FALSE(QueueForm()->busy());
}

TEST_F(DispatcherTest, HandlerThrowingSomethingOtherThanAnErrorIsLoggedToo) {
    bool thrown = false;
    events_->hook = [&](const std::string& e) {
        if (e == "ReadyToSend" && !thrown) {
            thrown = true;
            throw 42;
        }
    };
    post_notification(*core_, wsock::FD_WRITE);
    post_notification(*core_, wsock::FD_WRITE);
    ASSERT_TRUE(pump_until([&] { return events_->count("ReadyToSend") == 2; }));
    const std::string log = read_file(dir_.path() / "TarvexErrors.log");
    EXPECT_TRUE(is_log(log, {"QueueForm.ProcessMessages State: 6 Code: 440 Source: TarvexV3 Desc: an exception of "
                             "unknown type"}))
        << log;
    EXPECT_TRUE(message_queue().empty());
}

TEST_F(DispatcherTest, OtherWindowMessagesReachThePreviousProcedure) {
    static int32_t seen_wparam = 0;
    const WindowProc recording = [](int32_t, uint32_t msg, int32_t wparam, int32_t lparam) -> int32_t {
        seen_wparam = wparam;
        return msg == 0x1234 ? lparam * 2 : -1;
    };
    ASSERT_TRUE(restore_message_form());
    const int32_t hwnd = MessageForm()->hWnd();
    ASSERT_NE(SetWindowLongA(hwnd, GWL_WNDPROC, recording), nullptr);
    ASSERT_TRUE(subclass_message_form());
    EXPECT_EQ(msgloop::MessageLoop::current().send_message(static_cast<msgloop::Hwnd>(hwnd), 0x1234, 9, 21), 42);
    EXPECT_EQ(seen_wparam, 9);
    // The socket messages stop at the sub-classed procedure: queued, answered 0.
    EXPECT_EQ(msgloop::MessageLoop::current().send_message(static_cast<msgloop::Hwnd>(hwnd), kMsgSocketNotify,
                                                           static_cast<uint32_t>(core_->SocketHandle()), wsock::FD_WRITE),
              0);
    EXPECT_EQ(message_queue().size(), 1u);
    EXPECT_EQ(seen_wparam, 9);
    // Without the queue form the window procedure lets them through as well.
    ASSERT_TRUE(restore_message_form());
    EXPECT_EQ(SetWindowLongA(0, GWL_WNDPROC, recording), nullptr);
    EXPECT_EQ(GetLastError(), 1400);
}

TEST(ErrorLog, LineHasShortDateLongTimeThenText) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    struct Case {
        long long t;
        const char* expected;
    };
    const Case cases[] = {
        {1765063445, "12/6/2025 11:24:05 PM QueueForm.ProcessMessages State: 6"},
        {1767225600, "1/1/2026 12:00:00 AM QueueForm.ProcessMessages State: 6"},
        {1767268800, "1/1/2026 12:00:00 PM QueueForm.ProcessMessages State: 6"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(error_log_line(c.t, "QueueForm.ProcessMessages State: 6"), c.expected);
    }
    ScopedTempDir dir;
    WriteErrorLog("first");
    WriteErrorLog("second");
    const std::string log = read_file(dir.path() / "TarvexErrors.log");
    EXPECT_TRUE(is_log(log, {"first", "second"})) << log;
}

}  // namespace
