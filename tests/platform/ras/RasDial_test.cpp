// RasDial_test.cpp: dials on both backends: the notifications and their thread, status and projection
// along the way, failures, hanging up (also from inside the notifier), dropped links, and the command
// backend's processes.
#include <signal.h>

#include <gtest/gtest.h>

#include <fstream>

#include "RasTestSupport.h"

namespace {

using ras::HRASCONN;

constexpr const char* kSimulated =
    "[Ok]\nBackend=simulated\nAddress=10.0.0.2\n"
    "[Fails]\nBackend=simulated\nStates=0,1,2,3,4,5,6,8192\nError=691\nFailAt=5\n"
    "[Hangs]\nBackend=simulated\nStates=0,1\n"
    "[Slow]\nBackend=simulated\nStates=0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,8192\nStepDelay=5\n"
    "[Drops]\nBackend=simulated\nAddress=10.0.0.3\nDropAfter=0\n";

HRASCONN dial(const PhonebookFile& book, const std::string& entry, NoteLog& log, uint32_t* rc = nullptr) {
    const DialParams params = dial_params(entry);
    HRASCONN h = 0;
    const uint32_t result = ras::RasDialA(nullptr, book.path(), params.data(), 1, log.notifier(), &h);
    if (rc != nullptr) *rc = result;
    return h;
}

TEST(RasDial, SuccessfulDialReportsEveryStateOnItsOwnThreadThenProjects) {
    PhonebookFile book(kSimulated);
    NoteLog log;
    const HRASCONN h = dial(book, "Ok", log);
    ASSERT_NE(h, 0u);
    const std::vector<uint32_t> states = {0, 1, 2, 3, 4, 5, 6, 10, 14, 18, 8192};
    const auto notes = log.wait_for(states.size());
    ASSERT_EQ(notes.size(), states.size());
    for (size_t i = 0; i < states.size(); ++i) EXPECT_EQ(notes[i], (Note{states[i], 0})) << i;
    EXPECT_TRUE(log.all_on_foreign_thread_with_dial_message());
    EXPECT_EQ(connect_status(h), std::make_pair(0u, 8192u));
    EXPECT_EQ(ip_projection(h), std::make_pair(0u, std::string("10.0.0.2")));

    EXPECT_EQ(ras::RasHangUpA(h), 0u);
    EXPECT_EQ(connect_status(h).first, ras::kErrorInvalidHandle);
    EXPECT_EQ(ras::RasHangUpA(h), ras::kErrorInvalidHandle);
    EXPECT_EQ(log.notes().size(), states.size());
}

TEST(RasDial, FailedDialReportsTheStateAgainWithTheErrorAndStops) {
    PhonebookFile book(kSimulated);
    NoteLog log;
    const HRASCONN h = dial(book, "Fails", log);
    const auto notes = log.wait_for(7);
    ASSERT_EQ(notes.size(), 7u);
    EXPECT_EQ(notes[5], (Note{5, 0}));
    EXPECT_EQ(notes[6], (Note{5, 691}));
    uint32_t error = 0;
    EXPECT_EQ(connect_status(h, &error), std::make_pair(0u, 5u));   // readable until hung up
    EXPECT_EQ(error, 691u);
    EXPECT_EQ(ip_projection(h).first, ras::kErrorProjectionNotComplete);
    // A failed dial no longer holds its entry: it can be dialled again at once.
    NoteLog again;
    uint32_t rc = 1;
    const HRASCONN second = dial(book, "Fails", again, &rc);
    EXPECT_EQ(rc, 0u);
    EXPECT_NE(second, h);   // handles are never reused
    ras::RasHangUpA(h);
    ras::RasHangUpA(second);
    EXPECT_EQ(log.notes().size(), 7u);
}

TEST(RasDial, SecondDialOfABusyEntryAndBadRequestsAreRefused) {
    PhonebookFile book(kSimulated);
    NoteLog log;
    const HRASCONN h = dial(book, "Hangs", log);
    ASSERT_EQ(log.wait_for(2).size(), 2u);
    EXPECT_EQ(connect_status(h), std::make_pair(0u, 1u));
    EXPECT_EQ(ip_projection(h).first, ras::kErrorProjectionNotComplete);
    uint32_t rc = 0;
    NoteLog other;
    EXPECT_EQ(dial(book, "hangs", other, &rc), 0u);
    EXPECT_EQ(rc, ras::kErrorDialAlreadyInProgress);
    EXPECT_EQ((dial(book, "Nowhere", other, &rc), rc), ras::kErrorCannotFindPhonebookEntry);

    DialParams params = dial_params("Ok");
    HRASCONN out = 0;
    EXPECT_EQ(ras::RasDialA(nullptr, book.path(), params.data(), 2, other.notifier(), &out), ras::kErrorInvalidParameter);
    ras::record::put_u32(params.data(), 0, 1060);
    EXPECT_EQ(ras::RasDialA(nullptr, book.path(), params.data(), 1, other.notifier(), &out), ras::kErrorInvalidSize);
    params = dial_params("Ok");
    std::fill(params.begin() + 519, params.begin() + 519 + 257, 'u');   // user name without its NUL
    EXPECT_EQ(ras::RasDialA(nullptr, book.path(), params.data(), 1, other.notifier(), &out), ras::kErrorBufferInvalid);
    EXPECT_EQ(other.notes().size(), 0u);
    ras::RasHangUpA(h);
}

TEST(RasDial, NoNotificationStartsAfterHangUpReturns) {
    PhonebookFile book(kSimulated);
    NoteLog log;
    std::atomic<bool> hung_up{false};
    std::atomic<int> late{0};
    log.on_note_ = [&](uint32_t) { late += hung_up.load() ? 1 : 0; };
    const HRASCONN h = dial(book, "Slow", log);
    ASSERT_GE(log.wait_for(3).size(), 3u);
    ASSERT_EQ(ras::RasHangUpA(h), 0u);
    hung_up = true;
    const size_t seen = log.notes().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));   // the script would go on every 5 ms
    EXPECT_EQ(log.notes().size(), seen);
    EXPECT_EQ(late.load(), 0);
    EXPECT_LT(seen, 20u);
}

TEST(RasDial, HangUpFromInsideTheNotifierEndsTheDial) {
    PhonebookFile book(kSimulated);
    NoteLog log;
    std::atomic<HRASCONN> handle{0};
    std::atomic<uint32_t> result{99};
    log.on_note_ = [&](uint32_t state) {
        if (state != 2) return;
        while (handle.load() == 0) std::this_thread::yield();   // RasDialA has not returned it yet
        result = ras::RasHangUpA(handle.load());                // must not wait for itself
    };
    handle = dial(book, "Slow", log);
    ASSERT_TRUE(eventually([&] { return result.load() != 99; }));
    EXPECT_EQ(result.load(), 0u);
    EXPECT_EQ(log.notes().back().state, 2u);
    EXPECT_EQ(connect_status(handle.load()).first, ras::kErrorInvalidHandle);
}

TEST(RasDial, DroppedLinkFailsTheStatusUntilHungUp) {
    PhonebookFile book(kSimulated);
    NoteLog log;
    const HRASCONN h = dial(book, "Drops", log);
    ASSERT_EQ(log.wait_for(11).size(), 11u);
    EXPECT_TRUE(eventually([&] { return connect_status(h).first == ras::kErrorInvalidHandle; }));
    EXPECT_EQ(ras::RasHangUpA(h), 0u);   // the handle itself stays until hung up
}

// ---- the command backend ----

std::string command_entry(const std::string& name, const std::string& up, const std::string& extra = "") {
    return "[" + name + "]\nBackend=command\nUser=bob\nPassword=s3cret\nUpCommand=" + up + "\n" + extra;
}

TEST(RasCommandDial, AddressFromOutputAndCredentialsFromTheEnvironment) {
    PhonebookFile book("");
    const std::string pid_file = (book.dir() / "pid").string();
    // The address is printed only when the password came through the environment.
    book.write(command_entry("Vpn", "/bin/sh -c \"echo $$ > " + pid_file +
                                        "; test \\\"$RAS_PASSWORD\\\" = s3cret && echo IP=10.1.2.3; exec sleep 30\""));
    NoteLog log;
    const DialParams entry = dial_params("Vpn");
    DialParams params = entry;
    int32_t has_password = 0;
    ASSERT_EQ(ras::RasGetEntryDialParamsA(book.path(), params.data(), &has_password), 0u);
    HRASCONN h = 0;
    ASSERT_EQ(ras::RasDialA(nullptr, book.path(), params.data(), 1, log.notifier(), &h), 0u);
    const auto notes = log.wait_for(7);
    ASSERT_EQ(notes.size(), 7u);
    EXPECT_EQ(notes.back(), (Note{8192, 0}));
    EXPECT_EQ(ip_projection(h), std::make_pair(0u, std::string("10.1.2.3")));

    pid_t pid = 0;
    std::ifstream(pid_file) >> pid;
    ASSERT_GT(pid, 0);
    EXPECT_EQ(ras::RasHangUpA(h), 0u);
    // Hanging up ends the command's process group in the background.
    EXPECT_TRUE(eventually([&] { return ::kill(pid, 0) != 0; }));
}

TEST(RasCommandDial, FailuresMapToRasErrors) {
    struct Case {
        const char* why;
        std::string entry;
        Note last;
    };
    const Case cases[] = {
        {"mapped exit status", command_entry("E", "/bin/sh -c \"exit 1\"", "ExitErrors=1:691\n"), {2, 691}},
        {"other exit status", command_entry("E", "/bin/sh -c \"exit 3\"", "ExitErrors=1:691\n"), {2, 651}},
        {"exit 0 without an address", command_entry("E", "/bin/true"), {2, 738}},
        {"program that cannot start", command_entry("E", "/nonexistent/dialer"), {0, 633}},
        {"no link in time", command_entry("E", "/bin/sleep 30", "ConnectTimeout=1\n"), {2, 638}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        PhonebookFile book(c.entry);
        NoteLog log;
        const HRASCONN h = dial(book, "E", log);
        ASSERT_NE(h, 0u);
        ASSERT_TRUE(eventually([&] {
            const auto notes = log.notes();
            return !notes.empty() && notes.back().error != 0;
        }));
        EXPECT_EQ(log.notes().back(), c.last);
        ras::RasHangUpA(h);
    }
}

TEST(RasCommandDial, LinkIsDownOnceTheUpCommandExits) {
    PhonebookFile book(command_entry("Brief", "/bin/sh -c \"echo IP=10.9.9.9; sleep 0.3\""));
    NoteLog log;
    const HRASCONN h = dial(book, "Brief", log);
    ASSERT_EQ(log.wait_for(7).size(), 7u);
    EXPECT_TRUE(eventually([&] { return connect_status(h).first == ras::kErrorInvalidHandle; }));
    ras::RasHangUpA(h);
}

}  // namespace
