// Dialer_test.cpp: the dialer over the simulated dial backend: the phonebook members and their errors,
// dials that succeed, fail, drop or idle, hanging up, HoldWhenDestroyed, notifications of other
// dialers, and failures inside the owner's handlers. The tests fire the thread's 100 ms tick by hand
// while pumping, so the dialer's one-second timers run in a few milliseconds.
#include "socketcontrol/Dialer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "ControlTestSupport.h"
#include "platform/ras/RasRecords.h"
#include "socketcontrol/ErrorLog.h"
#include "socketcontrol/RASHelper.h"

namespace {

constexpr const char* kPhonebook =
    "[Office]\nBackend=simulated\nUser=alice\nPassword=secret\nDomain=CORP\nAddress=10.0.0.2\n"
    "[Fails]\nBackend=simulated\nStates=0,1,2,3,4,5,6,8192\nError=691\nFailAt=5\n"
    "[Drops]\nBackend=simulated\nAddress=10.0.0.3\nDropAfter=0\n"
    "[Hangs]\nBackend=simulated\nStates=0,1\n";

struct DialerLog : DialerEvents {
    std::vector<std::string> events;
    bool foreign_thread = false;
    std::function<void(const std::string&)> hook;
    const std::thread::id thread = std::this_thread::get_id();

    void add(const std::string& e) {
        foreign_thread |= std::this_thread::get_id() != thread;
        events.push_back(e);
        if (hook) hook(e);
    }
    void Progress(int32_t State) override { add("Progress " + std::to_string(State)); }
    void Error(int32_t ErrCode, const std::string& ErrDesc) override { add("Error " + std::to_string(ErrCode) + " " + ErrDesc); }
    void Connected(const std::string& LocalIpAddress) override { add("Connected " + LocalIpAddress); }
    void DisConnected() override { add("DisConnected"); }
    void TimedOut() override { add("TimedOut"); }
    bool has(const std::string& e) const { return std::find(events.begin(), events.end(), e) != events.end(); }
};

// One tick of the thread's BaseTimer, after serving what the loop has (the posted notifications).
void tick() {
    msgloop::run_once(std::chrono::milliseconds(1));
    QueueForm()->BaseTimer().fire();
}

bool tick_until(const std::function<bool()>& done, int limit = 2000) {
    for (int i = 0; i < limit && !done(); ++i) tick();
    return done();
}

void ticks(int n) {
    for (int i = 0; i < n; ++i) tick();
}

uint32_t link_status(int32_t handle) {
    std::array<uint8_t, ras::kConnStatusSize> status{};
    ras::record::put_u32(status.data(), 0, ras::kConnStatusSize);
    return ras::RasGetConnectStatusA(static_cast<ras::HRASCONN>(handle), status.data());
}

class DialerTest : public ::testing::Test {
protected:
    void SetUp() override {
        phonebook_ = (dir_.path() / "phonebook.ini").string();
        std::ofstream(phonebook_) << kPhonebook;
        ::setenv("RAS_PHONEBOOK", phonebook_.c_str(), 1);
    }
    void TearDown() override { ::unsetenv("RAS_PHONEBOOK"); }

    // A dialer on `entry` whose events go to `log`.
    std::shared_ptr<Dialer> dialer_on(const std::string& entry, const std::shared_ptr<DialerLog>& log) {
        auto d = control_->CreateDialer();
        d->bind_events(log);
        d->CurrentEntryName(entry);
        return d;
    }

    ScopedTempDir dir_;
    std::optional<Quellox> control_{std::in_place};
    std::string phonebook_;
};

TEST_F(DialerTest, EntriesAreListedSelectedAndTheirFieldsBounded) {
    auto d = control_->CreateDialer();
    EXPECT_EQ(d->EntryCount(), 4);
    const std::function<void()> unselected[] = {
        [&] { d->CurrentEntryUserId(); },       [&] { d->CurrentEntryUserId("x"); },
        [&] { d->CurrentEntryDomain(); },       [&] { d->CurrentEntryDomain("x"); },
        [&] { d->CurrentEntryPassword("x"); },  [&] { d->CurrentEntryName(); },
    };
    for (const auto& call : unselected) {
        const ComError e = error_of(call);
        EXPECT_EQ(e.number(), 21001);
        EXPECT_EQ(e.source(), "VBDialer");
        EXPECT_EQ(e.description(), "Current DUN entry no defined");
    }
    for (const int16_t n : {int16_t{0}, int16_t{5}, int16_t{-1}}) {
        const ComError e = error_of([&] { d->EntryName(n); });
        EXPECT_EQ(e.number(), 21001) << n;
        EXPECT_EQ(e.description(), "Invalid DUN entry number");
    }
    EXPECT_EQ(d->EntryName(1), "Office");
    EXPECT_EQ(d->CurrentEntryName(), "Office");
    EXPECT_EQ(d->CurrentEntryUserId(), "alice");
    EXPECT_EQ(d->CurrentEntryDomain(), "CORP");
    EXPECT_EQ(d->get("EntryName", {Variant(int16_t{4})}).as_text(), "Hangs");   // by name, too

    d->CurrentEntryUserId(std::string(300, 'u'));
    EXPECT_EQ(d->CurrentEntryUserId(), std::string(256, 'u'));
    d->CurrentEntryDomain("ABCDEFGHIJKLMNOPQ");
    EXPECT_EQ(d->CurrentEntryDomain(), "ABCDEFGHIJKLMNO");

    const ComError e = error_of([&] { d->CurrentEntryName("Nowhere"); });
    EXPECT_EQ(e.number(), 623);
    EXPECT_EQ(e.description(), "Failure setting current DUN entryNowhere");
    EXPECT_NO_THROW(d->CurrentEntryUserId());   // an entry is still selected

    d->Timeout(2.5);
    EXPECT_EQ(d->Timeout(), 2.5);
    d->put("Timeout", {Variant(0.25)});   // 2.5 tenths: halves go to even
    EXPECT_EQ(d->get("Timeout").as_double(), 0.2);
}

TEST_F(DialerTest, MissingPhonebookHasNoEntriesAndACorruptOneFailsCreation) {
    ::setenv("RAS_PHONEBOOK", (dir_.path() / "absent.ini").c_str(), 1);
    EXPECT_EQ(control_->CreateDialer()->EntryCount(), 0);

    std::ofstream(phonebook_) << "[Broken]\nBackend=teleport\n";
    ::setenv("RAS_PHONEBOOK", phonebook_.c_str(), 1);
    const int32_t dialers = Quellox::DialerCount();
    const ComError e = error_of([&] { control_->CreateDialer(); });
    EXPECT_EQ(e.number(), 625);
    EXPECT_EQ(e.description(), "Failure retrieving list of entries in DUN phonebook");
    EXPECT_EQ(Quellox::DialerCount(), dialers);
}

TEST_F(DialerTest, SuccessfulDialRaisesProgressConnectedThenProgress8192AndDisConnectIsSilent) {
    const int32_t dialers = Quellox::DialerCount();
    auto log = std::make_shared<DialerLog>();
    auto d = dialer_on("Office", log);
    EXPECT_EQ(Quellox::DialerCount(), dialers + 1);
    EXPECT_GE(Quellox::RASHelperCount(), 1);
    d->Connect();
    ASSERT_NE(d->Handle(), 0);
    ASSERT_TRUE(tick_until([&] { return log->has("Progress 8192"); }));
    const std::vector<std::string> expected = {"Progress 0",  "Progress 1",  "Progress 2",  "Progress 3",
                                               "Progress 4",  "Progress 5",  "Progress 6",  "Progress 10",
                                               "Progress 14", "Progress 18", "Connected 10.0.0.2", "Progress 8192"};
    EXPECT_EQ(log->events, expected);
    EXPECT_FALSE(log->foreign_thread);
    EXPECT_TRUE(d->IsConnected());
    EXPECT_EQ(d->IPAddress(), "10.0.0.2");

    ticks(40);   // the link watch runs; with Timeout 0 there is no TimedOut
    EXPECT_EQ(log->events.size(), expected.size());
    const int32_t handle = d->Handle();
    d->DisConnect();
    EXPECT_FALSE(d->IsConnected());
    EXPECT_EQ(d->Handle(), 0);
    EXPECT_EQ(d->IPAddress(), "");
    EXPECT_EQ(link_status(handle), ras::kErrorInvalidHandle);
    ticks(40);
    EXPECT_EQ(log->events.size(), expected.size());   // DisConnect raises nothing

    d.reset();
    EXPECT_EQ(Quellox::DialerCount(), dialers);
}

TEST_F(DialerTest, FailedDialRaisesErrorWithTheRasTextAndHangsUp) {
    auto log = std::make_shared<DialerLog>();
    auto d = dialer_on("Fails", log);
    d->Connect();
    const int32_t handle = d->Handle();
    ASSERT_TRUE(tick_until([&] { return !log->events.empty() && log->events.back().rfind("Error", 0) == 0; }));
    EXPECT_EQ(log->events.back(),
              "Error 691 Access denied because the user name, password, or both is not valid on the domain.. "
              "Failure connecting to Fails");
    EXPECT_EQ(log->events.size(), 7u);   // Progress 0 ... 5 before it
    EXPECT_EQ(link_status(handle), ras::kErrorInvalidHandle);
    EXPECT_EQ(d->Handle(), handle);   // kept after a failed dial
    EXPECT_FALSE(d->IsConnected());

    auto unselected = control_->CreateDialer();
    const ComError e = error_of([&] { unselected->Connect(); });
    EXPECT_EQ(e.number(), 623);
    EXPECT_EQ(e.description(), "Failure attempting connection to ");
}

TEST_F(DialerTest, DroppedLinkRaisesDisConnected) {
    auto log = std::make_shared<DialerLog>();
    auto d = dialer_on("Drops", log);
    d->Connect();
    ASSERT_TRUE(tick_until([&] { return log->has("DisConnected"); }));
    EXPECT_TRUE(log->has("Connected 10.0.0.3"));
    EXPECT_FALSE(d->IsConnected());
    EXPECT_EQ(d->Handle(), 0);
}

TEST_F(DialerTest, IdleTimeOutRaisesTimedOutUnlessResetAndLeavesTheLinkUp) {
    auto log = std::make_shared<DialerLog>();
    auto d = dialer_on("Office", log);
    d->Timeout(1);   // ten ticks
    d->Connect();
    ASSERT_TRUE(tick_until([&] { return log->has("Progress 8192"); }));
    for (int i = 0; i < 40; ++i) {   // only these ticks count: the loop is not pumped meanwhile
        if (i % 5 == 0) d->Reset();
        QueueForm()->BaseTimer().fire();
    }
    EXPECT_FALSE(log->has("TimedOut"));
    ASSERT_TRUE(tick_until([&] { return log->has("TimedOut"); }));
    EXPECT_TRUE(d->IsConnected());
    EXPECT_EQ(link_status(d->Handle()), 0u);
}

TEST_F(DialerTest, NotificationsForAnotherDialersHandleChangeNothing) {
    auto log = std::make_shared<DialerLog>(), other_log = std::make_shared<DialerLog>();
    auto d = dialer_on("Office", log);
    auto other = dialer_on("Hangs", other_log);
    d->Connect();
    ASSERT_TRUE(tick_until([&] { return log->has("Progress 8192"); }));
    EXPECT_TRUE(other_log->events.empty());
    EXPECT_EQ(other->Handle(), 0);

    other->Connect();
    thread_ras_helper()->BroadCast(d->Handle() + 1000, 691, 691, 0);   // nobody's connection
    thread_ras_helper()->BroadCast(other->Handle(), 1, 0, 0);          // the other's only
    ASSERT_TRUE(tick_until([&] { return other_log->events.size() >= 3; }));
    ticks(20);
    EXPECT_EQ(log->events.size(), 12u);
    EXPECT_TRUE(d->IsConnected());
}

TEST_F(DialerTest, HoldWhenDestroyedDecidesWhetherTheLinkOutlivesTheDialer) {
    for (const bool hold : {true, false}) {
        SCOPED_TRACE(hold);
        auto log = std::make_shared<DialerLog>();
        auto d = dialer_on("Office", log);
        d->HoldWhenDestroyed(hold);
        d->Connect();
        ASSERT_TRUE(tick_until([&] { return d->IsConnected(); }));
        const int32_t handle = d->Handle();
        d.reset();
        EXPECT_EQ(link_status(handle), hold ? 0u : ras::kErrorInvalidHandle);
        ras::RasHangUpA(static_cast<ras::HRASCONN>(handle));
    }
}

TEST_F(DialerTest, HandlerFailuresShowTheMessageBoxAndTheQueueGoesOn) {
    auto log = std::make_shared<DialerLog>();
    log->hook = [](const std::string& e) {
        if (e == "Progress 2") throw ComError(5, "Owner", "boom");
        if (e == "Connected 10.0.0.2") throw ComError(7, "Owner", "bang");
    };
    auto d = dialer_on("Office", log);
    d->Connect();
    ASSERT_TRUE(tick_until([&] { return log->has("Connected 10.0.0.2"); }));
    EXPECT_TRUE(log->has("Progress 3"));   // the records after a failing one are still handled
    EXPECT_TRUE(d->IsConnected());
    std::stringstream text;
    text << std::ifstream(dir_.path() / kErrorLogFile).rdbuf();
    EXPECT_NE(text.str().find("Dialer Error: 5 Source: Owner Desc: boom State: 5\r\n"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("Dialer Error: 7 Source: Owner Desc: bang State: 22\r\n"), std::string::npos);
}

TEST_F(DialerTest, EventsWaitWhileTheContainerFreezesThem) {
    auto log = std::make_shared<DialerLog>();
    auto d = dialer_on("Office", log);
    control_->set_events_frozen(true);
    d->Connect();
    ticks(60);
    EXPECT_TRUE(log->events.empty());
    control_->set_events_frozen(false);
    ASSERT_TRUE(tick_until([&] { return log->has("Progress 8192"); }));
    EXPECT_EQ(log->events.front(), "Progress 0");
}

}  // namespace
