// ThreadState_test.cpp: the end of a thread's socket library state. A program may keep the control and
// its objects in holders that outlive that state (a thread_local touched before the library was first
// used, or static storage, which ends after every thread_local of the main thread); ending them
// afterwards must be a quiet no-op. Each case runs in a fresh child process, whose exit code tells
// whether the sanitizers found a use after free or a double free on the way out.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <thread>

#include "ControlTestSupport.h"
#include "socketcontrol/VBTimer.h"

namespace {

// What a program might keep: the control, a connected pair of text sockets, a blocking socket connected
// to a plain listener, a datagram socket with a host lookup outstanding, and a running timer.
struct Holder {
    std::optional<Quellox> control;
    std::optional<TextPair> pair;
    std::optional<RawListener> raw_listener;
    std::shared_ptr<Socket> blocking, looking_up;
    std::shared_ptr<VBTimer> timer;

    // False when the objects could not be set up (the child then exits with code 3).
    bool fill() {
        control.emplace();
        pair.emplace();
        if (!pair->open(*control) || !pair->client->SendLine("queued for the server, never read")) return false;
        raw_listener.emplace();
        blocking = control->CreateSocket(QXStream, false);
        blocking->ResolveHost(false);
        blocking->RemoteIPAddress("127.0.0.1");
        blocking->RemotePort(raw_listener->port);
        blocking->Connect();
        looking_up = control->CreateSocket(QXDatagram);
        looking_up->ResolveHost(false);
        looking_up->GetHostByName("localhost");
        timer = control->CreateTimer();
        timer->Enabled(true);
        return blocking->State() == WSSS_Connected && Quellox::Count() == 5;  // three text sockets, two sockets
    }
};

// Fills a holder that was first touched before the library's thread state existed (so it ends after
// that state), on a new thread, then lets the thread end.
void run_thread_with_thread_local_holder() {
    std::thread worker([] {
        thread_local std::unique_ptr<Holder> holder;
        holder = std::make_unique<Holder>();
        if (!holder->fill()) std::_Exit(3);
        msgloop::run_for(std::chrono::milliseconds(50));  // some notifications still queued at exit
    });
    worker.join();
}

class ThreadStateEnd : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }  // a fresh process each
    ScopedTempDir dir_;
};

TEST_F(ThreadStateEnd, ThreadLocalHoldersEndQuietlyAfterTheirThread) {
    EXPECT_EXIT(
        {
            run_thread_with_thread_local_holder();
            run_thread_with_thread_local_holder();  // a second thread after the first one's state ended
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(ThreadStateEnd, StaticHoldersEndQuietlyAfterTheMainThread) {
    EXPECT_EXIT(
        {
            static Holder holder;  // destroyed after every thread_local of this thread
            if (!holder.fill()) std::_Exit(3);
            msgloop::run_for(std::chrono::milliseconds(50));
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
