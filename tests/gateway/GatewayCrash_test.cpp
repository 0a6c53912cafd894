// GatewayCrash_test.cpp: the program vantrel killed with SIGKILL in the middle of a stream of writes, a
// few times over the same SQLite file. Whatever the moment, the file must open whole afterwards and hold
// every write the gateway acknowledged, in order, with no gap: an acknowledgement is a promise that the
// write is committed. The database is checked with SQLite itself, not through the gateway.
#include <sqlite3.h>

#include <deque>
#include <filesystem>

#include "tests/gateway/GatewayTestKit.h"
#include "tests/support/GatewayProcess.h"

namespace {

constexpr int kRounds = 3;
constexpr int kAckedBeforeKill = 150;   // writes acknowledged in a round before the kill
constexpr size_t kWindow = 8;           // requests in flight: the kill lands while some are being written

struct Stored {
    std::string integrity;
    int64_t rows = 0, highest = 0, counter = 0;
};

// What the file holds, read by SQLite after the crash (opening it recovers the write-ahead log).
Stored read_back(const std::string& path) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, &sqlite3_close);
    Stored s;
    if (rc != SQLITE_OK) {
        s.integrity = sqlite3_errmsg(raw);
        return s;
    }
    const auto query = [&](const char* sql, auto&& take) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db.get(), sql, -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW) take(st);
        sqlite3_finalize(st);
    };
    query("PRAGMA integrity_check", [&](sqlite3_stmt* st) { s.integrity = reinterpret_cast<const char*>(sqlite3_column_text(st, 0)); });
    query("SELECT count(*), coalesce(max(id), 0) FROM acked", [&](sqlite3_stmt* st) {
        s.rows = sqlite3_column_int64(st, 0);
        s.highest = sqlite3_column_int64(st, 1);
    });
    query("SELECT n FROM counter WHERE id = 1", [&](sqlite3_stmt* st) { s.counter = sqlite3_column_int64(st, 0); });
    return s;
}

// One round: inserts through "direct" and updates of one row through a cursor, alternating, with up to
// kWindow requests in flight; after kAckedBeforeKill acknowledgements the gateway is killed mid-stream.
// Returns the highest insert and counter value acknowledged.
std::pair<int64_t, int64_t> write_until_killed(GatewayProcess& gateway, int64_t next_id) {
    TestClient client(gateway.port());
    client.send_first(join({"open", "SELECT id, n FROM counter WHERE id = 1", "1", "3"}));
    EXPECT_EQ(client.reply(std::chrono::seconds(30)), "ok");
    struct Pending {
        int64_t value;
        bool insert;
    };
    std::deque<Pending> in_flight;
    int64_t acked_insert = 0, acked_counter = 0;
    for (int acked = 0; acked < kAckedBeforeKill;) {
        while (in_flight.size() < kWindow) {
            const int64_t v = next_id++;
            const bool insert = v % 2 == 0;
            if (insert) {
                client.send(join({"direct", "INSERT INTO acked VALUES (" + std::to_string(v) + ", 'row')"}));
            } else {
                client.send(join({"setcursor", "n", "s", std::to_string(v), "n"}));
                client.send("update");
            }
            in_flight.push_back({v, insert});
        }
        const Pending p = in_flight.front();
        in_flight.pop_front();
        if (p.insert) {
            EXPECT_EQ(client.reply(std::chrono::seconds(30)), "ok") << p.value;
            EXPECT_EQ(client.reply(std::chrono::seconds(30)), " 1") << p.value;
            acked_insert = p.value;
        } else {
            EXPECT_EQ(client.reply(std::chrono::seconds(30)), "ok") << p.value;   // setcursor
            EXPECT_EQ(client.reply(std::chrono::seconds(30)), "ok") << p.value;   // update
            acked_counter = p.value;
        }
        if (::testing::Test::HasFailure()) break;
        ++acked;
    }
    EXPECT_TRUE(gateway.kill_now()) << "the gateway had stopped before the kill:\n" << gateway.output();
    return {acked_insert, acked_counter};
}

}  // namespace

TEST(GatewayCrash, KilledMidStreamKeepsEveryAcknowledgedWrite) {
    char pattern[] = "/tmp/vantrel-crash.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string folder = pattern;
    const std::string db = folder + "/crash.db";
    {
        GatewayProcess gateway(VANTREL_PROGRAM, {"--connect", "Data Source=" + db});
        TestClient setup(gateway.port());
        setup.send_first(join({"direct", "CREATE TABLE acked (id INTEGER PRIMARY KEY, payload TEXT)"}));
        EXPECT_EQ(setup.reply(std::chrono::seconds(30)), "ok");
        EXPECT_EQ(setup.reply(std::chrono::seconds(30)), "-1");
        for (const char* sql : {"CREATE TABLE counter (id INTEGER PRIMARY KEY, n INTEGER)",
                                "INSERT INTO counter VALUES (1, 0)"}) {
            setup.send(join({"direct", sql}));
            EXPECT_EQ(setup.reply(std::chrono::seconds(30)), "ok");
            setup.reply(std::chrono::seconds(30));
        }
    }
    int64_t next_id = 1;
    for (int round = 0; round < kRounds && !HasFailure(); ++round) {
        SCOPED_TRACE(round);
        GatewayProcess gateway(VANTREL_PROGRAM, {"--connect", "Data Source=" + db});
        const auto [acked_insert, acked_counter] = write_until_killed(gateway, next_id);
        const Stored s = read_back(db);
        EXPECT_EQ(s.integrity, "ok");
        // Inserts are even numbers from 2 on: all present, with none missing below the highest.
        EXPECT_GE(s.highest, acked_insert);
        EXPECT_EQ(s.rows, s.highest / 2);
        EXPECT_GE(s.counter, acked_counter);
        next_id = std::max(s.highest, s.counter) + 1;
    }
    std::filesystem::remove_all(folder);
}
