// GatewayLimits_test.cpp: the gateway's bounds with small values: a client that never reads is closed and
// its memory freed, a connection beyond the most allowed is closed at once, the "all" bound is the
// setting's; and the open-files limit raised at start.
#include <sys/resource.h>

#include "dbcomponent/DBChannel.h"
#include "socketcontrol/ObjectCounts.h"
#include "tests/gateway/GatewayTestKit.h"

namespace {

bool starts_with(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }


}  // namespace

// 200,000 characters a reply: a client that never reads fills the kernel's buffers within a few dozen
// requests, and then the gateway's own.
TEST_F(GatewayTest, ClientThatNeverReadsIsClosedAndItsRepliesFreed) {
    gateway_->limits.max_queued_reply = 1 << 20;
    exec("CREATE TABLE big (t TEXT)");
    exec("INSERT INTO big VALUES (printf('%.200000c', 'x'))");
    const int32_t sockets_before = object_counts().TextSocketCount;
    TestClient reader(port());
    TestClient hog(port());
    hog.send_first(join({"open", "SELECT t FROM big", "3", "1"}));
    ASSERT_TRUE(pump_until([&] { return gateway_->serving() == 2; }));
    for (int i = 0; i < 2000 && gateway_->serving() == 2; ++i) {
        hog.send(join({"buff", "t"}));   // runs the statement afresh each time
        msgloop::run_once(std::chrono::milliseconds(0));
    }
    ASSERT_TRUE(pump_until([&] { return gateway_->serving() == 1; }));
    const std::string entry = debug_entry_with("closed: the client does not read its replies!");
    EXPECT_NE(entry.find("Code: 7\r\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("more than the limit of 1048576 (MaxQueuedReply)"), std::string::npos) << entry;
    EXPECT_EQ(counter(Counter::ActiveSockets), 1);
    // The worker and its socket are gone: only the reader's socket is left beside those of before.
    EXPECT_TRUE(pump_until([&] { return object_counts().TextSocketCount == sockets_before + 1; }))
        << object_counts().TextSocketCount;

    // A client that reads gets a reply larger than the limit: the limit is looked at before a request.
    reader.send_first(join({"open", "SELECT t || t || t || t || t || t AS six FROM big", "3", "1"}));
    EXPECT_EQ(reader.reply(), "ok");
    reader.send(join({"all", "six"}));
    EXPECT_EQ(reader.reply(), "ok");
    const auto rows = reader.reply();
    ASSERT_TRUE(rows.has_value());
    EXPECT_EQ(rows->size(), 1200000u);
}

TEST_F(GatewayTest, ConnectionBeyondTheMostAllowedIsClosedAtOnce) {
    gateway_->limits.max_connections = 2;
    TestClient a(port()), b(port());
    ASSERT_TRUE(pump_until([&] { return gateway_->serving() == 2; }));
    TestClient c(port());
    ASSERT_TRUE(c.closed_by_gateway());
    const std::string& entry = debug_list().front();
    EXPECT_NE(entry.find(" Server refused a connection!Code: 7\r\nSource: SSServer\r\nDesc: 2 connections are served"),
              std::string::npos)
        << entry;
    a.send_first(join({"open", "SELECT id FROM people", "0", "1"}));
    EXPECT_EQ(a.reply(), "ok");   // the two served go on
    a.close();
    ASSERT_TRUE(pump_until([&] { return gateway_->serving() == 1; }));
    TestClient d(port());   // room again
    d.send_first(join({"direct", "SELECT 1"}));
    EXPECT_EQ(d.reply(), "ok");
}

TEST_F(GatewayTest, AllTextBoundIsTheSetting) {
    struct RestoreAllLimit {
        size_t saved = DBChannel::all_limit();
        ~RestoreAllLimit() { DBChannel::set_all_limit(saved); }
    } restore;
    gateway_->limits.max_all_text = 4096;
    server_.reset();
    start_server();
    exec("CREATE TABLE wide (t TEXT)");
    exec("INSERT INTO wide SELECT printf('%.1000c', 'y') FROM people");   // 3 rows of 1,000
    exec("INSERT INTO wide SELECT t FROM wide");                          // 6
    TestClient client(port());
    client.send_first(join({"open", "SELECT t FROM wide", "3", "1"}));
    EXPECT_EQ(client.reply(), "ok");
    client.send(join({"all", "t"}));
    const auto entry = client.reply();
    ASSERT_TRUE(entry.has_value());
    EXPECT_TRUE(starts_with(*entry, " 7" + kStx)) << *entry;
    const auto rows = client.reply();   // the values read before the bound
    ASSERT_TRUE(rows.has_value());
    EXPECT_LE(rows->size(), 4096u);
}

TEST_F(GatewayTest, StartRaisesTheOpenFilesLimitAndSaysSo) {
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max <= 512) GTEST_SKIP() << "hard limit too low to lower";
    const rlimit saved = limit;
    limit.rlim_cur = 512;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    server_.reset();
    start_server();
    rlimit now{};
    ::getrlimit(RLIMIT_NOFILE, &now);
    EXPECT_EQ(now.rlim_cur, saved.rlim_max);
    EXPECT_TRUE(starts_with(debug_entry_with("Open files: "), "Open files: limit raised from 512 to "))
        << debug_entry_with("Open files: ");
}
