// SocketRegistry_test.cpp: the registry's indexes must give exactly the core that walking the entries in
// registration order gives, however handles and task handles change after registration.
#include "socketcontrol/SocketRegistry.h"

#include <gtest/gtest.h>

#include <random>

#include "WSocketTestSupport.h"
#include "common/ComError.h"

namespace {

class SocketRegistryTest : public ::testing::Test {
protected:
    ControlThread thread_;
    SocketRegistry& registry_ = SocketRegistry::current();

    // Every value a core has or had, plus some that none has, must answer the same both ways.
    void expect_index_matches_walk(const std::vector<int32_t>& values) {
        for (const int32_t v : values) {
            SCOPED_TRACE(v);
            EXPECT_EQ(registry_.find_by_handle(v), registry_.walk_by_handle(v));
            EXPECT_EQ(registry_.find_by_task(v), registry_.walk_by_task(v));
        }
    }
};

TEST_F(SocketRegistryTest, KeysAreUniqueAndRemovalOfAMissingKeyIsHarmless) {
    auto core = make_core(QXStream, false);
    const std::string key = std::to_string(core->SocketHandle());
    try {
        registry_.Add(core);
        FAIL() << "a duplicate key was accepted";
    } catch (const ComError& e) {
        EXPECT_EQ(e.number(), 457);
    }
    EXPECT_EQ(registry_.Count(), 1);
    EXPECT_FALSE(registry_.Remove("no such key"));
    EXPECT_TRUE(registry_.Remove(key));
    EXPECT_EQ(registry_.Count(), 0);
    EXPECT_EQ(registry_.find_by_handle(core->SocketHandle()), nullptr);
}

// The first registered core wins a tie, and a core found through a handle it no longer has must not be
// returned: CloseSocket, CreateHandle and AttachHandle after registration all move the core.
TEST_F(SocketRegistryTest, IndexFollowsHandleChangesAndBreaksTiesByRegistrationOrder) {
    auto first = make_core(QXStream, false);
    auto second = make_core(QXStream, false);
    auto third = make_core(QXStream, false);
    const int32_t second_handle = second->SocketHandle();

    third->AttachHandle(second_handle);  // two registered cores now share a handle
    EXPECT_EQ(registry_.find_by_handle(second_handle), second);
    second->CloseSocket();  // closes the shared socket; third keeps the stale number
    EXPECT_EQ(registry_.find_by_handle(second_handle), third);
    EXPECT_EQ(registry_.find_by_handle(-1), second);
    first->CloseSocket();
    EXPECT_EQ(registry_.find_by_handle(-1), first);  // registered before second
    first->CreateHandle(QXStream);
    EXPECT_EQ(registry_.find_by_handle(-1), second);
    EXPECT_EQ(registry_.find_by_handle(first->SocketHandle()), first);
    expect_index_matches_walk({second_handle, -1, first->SocketHandle(), 0});
}

// Random sequences of registrations, removals and handle changes, checked against the walk after every
// step. Handles are drawn from a small pool so that ties and stale numbers happen often.
TEST_F(SocketRegistryTest, IndexAgreesWithTheWalkOverRandomChanges) {
    std::mt19937 random(20261206);
    std::vector<std::shared_ptr<WSocket>> cores;
    for (int i = 0; i < 12; ++i) {
        auto core = WSocket::create();
        core->CreateHandle(QXStream);
        cores.push_back(core);
    }
    std::vector<int32_t> pool = {-1, 0};
    for (const auto& c : cores) pool.push_back(c->SocketHandle());
    std::vector<std::string> keys;
    for (int step = 0; step < 600; ++step) {
        SCOPED_TRACE(step);
        const auto& core = cores[random() % cores.size()];
        switch (random() % 6) {
            case 0: {  // register under a fresh key (a core may sit under several keys)
                const std::string key = "k" + std::to_string(step);
                registry_.Add(core, key);
                keys.push_back(key);
                break;
            }
            case 1:
                if (!keys.empty()) {
                    const size_t i = random() % keys.size();
                    EXPECT_TRUE(registry_.Remove(keys[i]));
                    keys.erase(keys.begin() + static_cast<long>(i));
                }
                break;
            case 2:  // take another core's number: two cores now share it
                core->AttachHandle(cores[random() % cores.size()]->SocketHandle());
                break;
            case 3:  // the number may already be closed through the other core: that error is beside the point
                try {
                    core->CloseSocket();
                } catch (const ComError&) {
                }
                break;
            case 5:  // a host lookup gives the core a new task handle (the reply is never pumped here)
                try {
                    core->SetState(WSSS_Idle);
                    core->ResolveHost(false);
                    core->GetHostByName("localhost");
                    pool.push_back(core->AsyncTaskHandle());
                } catch (const ComError&) {  // one is still pending
                }
                break;
            case 4:
                core->CreateHandle(QXStream);
                pool.push_back(core->SocketHandle());
                break;
        }
        expect_index_matches_walk(pool);
        if (HasFailure()) return;
    }
}

}  // namespace
