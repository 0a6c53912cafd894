// Quellox_test.cpp: the control: per-thread start-up and shut-down by its instances, the factory and
// the object counts, objects that outlive the last instance, and events held back while frozen.
#include "socketcontrol/Quellox.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "ControlTestSupport.h"
#include "socketcontrol/VBQueueForm.h"
#include "socketcontrol/VBTimer.h"

namespace {

struct SocketEventCounter : SocketEvents {
    int data_arrived = 0;
    void DataArrived(int32_t) override { ++data_arrived; }
};

struct AlarmCounter : VBTimerEvents {
    int alarms = 0;
    void Alarm() override { ++alarms; }
};

bool thread_started() { return QueueForm() != nullptr && MessageForm() != nullptr && message_form_subclassed(); }

TEST(Quellox, FirstInstanceStartsTheThreadAndTheLastStopsIt) {
    ScopedTempDir dir;
    ASSERT_EQ(Quellox::instance_count(), 0);
    auto first = std::make_optional<Quellox>();
    EXPECT_TRUE(thread_started());
    auto second = std::make_optional<Quellox>();
    EXPECT_EQ(Quellox::instance_count(), 2);

    first.reset();  // the instance that started the thread goes; the library keeps running
    EXPECT_EQ(Quellox::instance_count(), 1);
    EXPECT_TRUE(thread_started());
    // Only the starting instance answered the events-frozen question; from now on it is "not frozen".
    second->set_events_frozen(true);
    {
        TextPair pair;
        ASSERT_TRUE(pair.open(*second));
        ASSERT_TRUE(pair.client->SendLine("still served"));
        ASSERT_TRUE(pump_until([&] { return pair.server_events->lines.size() == 1; }));
    }

    second.reset();
    EXPECT_EQ(Quellox::instance_count(), 0);
    EXPECT_FALSE(thread_started());
}

// A client thread with blocking sockets only never pumps; starting and stopping controls there must
// leave nothing behind in the thread's loop.
TEST(Quellox, StartingAndStoppingWithoutAPumpLeavesNoTimersBehind) {
    ScopedTempDir dir;
    ASSERT_EQ(Quellox::instance_count(), 0);
    const msgloop::MessageLoop& loop = msgloop::MessageLoop::current();
    const size_t timers = loop.timer_count();
    for (int cycle = 0; cycle < 1000; ++cycle) {
        Quellox control;
        auto blocking = control.CreateSocket(QXStream, false);
    }
    EXPECT_EQ(loop.timer_count(), timers);
}

class QuelloxTest : public ::testing::Test {
protected:
    ScopedTempDir dir_;
    std::optional<Quellox> control_{std::in_place};
};

TEST_F(QuelloxTest, FactoryObjectsAreRegisteredCountedAndLetGo) {
    const int32_t registered = Quellox::Count(), cores = Quellox::WSocketCount(), sockets = Quellox::SocketCount();
    RawListener peer_listener;
    {
        // A blocking socket without events: connecting succeeds at once.
        auto blocking = control_->CreateSocket(QXStream, false);
        EXPECT_EQ(Quellox::Count(), registered + 1);
        EXPECT_EQ(Quellox::WSocketCount(), cores + 1);
        EXPECT_EQ(Quellox::SocketCount(), sockets + 1);
        blocking->ResolveHost(false);
        blocking->RemoteIPAddress("127.0.0.1");
        blocking->RemotePort(peer_listener.port);
        blocking->Connect();
        EXPECT_EQ(blocking->State(), WSSS_Connected);
        EXPECT_EQ(blocking->SendString("x"), 1);

        // Datagram sockets with the default (all) notifications.
        auto receiver = control_->CreateSocket(QXDatagram);
        auto counter = std::make_shared<SocketEventCounter>();
        receiver->bind_events(counter);
        receiver->LocalIpAddress("127.0.0.1");
        receiver->Bind();
        auto sender = control_->CreateSocket(QXDatagram);
        sender->RemoteIPAddress("127.0.0.1");
        sender->RemotePort(receiver->LocalPort());
        EXPECT_EQ(sender->SendDatagram(Variant("datagram")), 8);
        ASSERT_TRUE(pump_until([&] { return counter->data_arrived > 0; }));
        EXPECT_EQ(receiver->ReceiveDatagram(100), Variant("datagram"));
    }
    EXPECT_EQ(Quellox::Count(), registered);
    EXPECT_EQ(Quellox::WSocketCount(), cores);
    EXPECT_EQ(Quellox::SocketCount(), sockets);

    const int32_t timers = Quellox::TimerCount();
    auto timer = control_->CreateTimer();
    EXPECT_EQ(Quellox::TimerCount(), timers + 1);
    auto alarms = std::make_shared<AlarmCounter>();
    timer->bind_events(alarms);
    timer->Enabled(true);
    ASSERT_TRUE(pump_until([&] { return alarms->alarms >= 2; }));
}

TEST_F(QuelloxTest, ObjectsOutliveTheLastInstanceQuietly) {
    const int32_t text_sockets = Quellox::TextSocketCount(), cores = Quellox::WSocketCount();
    {
        TextPair pair;
        ASSERT_TRUE(pair.open(*control_));
        control_.reset();  // the thread's shut-down: queue and registry emptied, Windows Sockets cleaned up
        EXPECT_FALSE(thread_started());
        EXPECT_EQ(Quellox::Count(), 0);
        EXPECT_EQ(Quellox::TextSocketCount(), text_sockets + 3);
        // The objects still answer; what needs Windows Sockets fails with an error instead of crashing.
        EXPECT_EQ(pair.client->ReceiveBufferSize(), 0);
        EXPECT_NE(error_of([&] { pair.client->SendLine("after shut-down"); }).number(), 0);
    }  // destroying them after the shut-down raises nothing
    EXPECT_EQ(Quellox::TextSocketCount(), text_sockets);
    EXPECT_EQ(Quellox::WSocketCount(), cores);

    // A new instance starts the thread again from scratch.
    control_.emplace();
    TextPair pair;
    ASSERT_TRUE(pair.open(*control_));
    ASSERT_TRUE(pair.client->SendLine("again"));
    ASSERT_TRUE(pump_until([&] { return pair.server_events->lines.size() == 1; }));
}

TEST_F(QuelloxTest, FrozenEventsWaitInTheQueueUntilThawed) {
    auto listener_events = std::make_shared<TextRecorder>();
    auto listener = make_text_listener(*control_, listener_events);
    control_->set_events_frozen(true);
    auto client_events = std::make_shared<TextRecorder>();
    auto client = make_text_client(*control_, listener->LocalPort(), client_events);
    ASSERT_TRUE(pump_until([] { return message_queue().size() >= 2; }));  // connect and accept notifications
    for (int pass = 0; pass < 5; ++pass) msgloop::run_once(std::chrono::milliseconds(20));
    EXPECT_TRUE(client_events->events.empty());
    EXPECT_TRUE(listener_events->events.empty());

    control_->set_events_frozen(false);
    ASSERT_TRUE(pump_until([&] {
        return client_events->count("Connected") == 1 && listener_events->accepted.size() == 1;
    }));
}

}  // namespace
