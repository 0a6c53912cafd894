// RecordsetManyCursors_test.cpp: a thousand forward-only cursors open at once on one Connection, as a
// thousand gateway clients hold them, while writes go on: each reads exactly the rows as of its start, and
// the process's descriptors and the server connections stay few. Also the values of a cursor beyond the
// few that stream on connections of their own come back exactly as the database holds them.
#include <dirent.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AdoFixture.h"

namespace ado_test {
namespace {

using namespace ado;

constexpr int kCursors = 1000;
// The descriptors a thousand open cursors may add to the process. A connection per cursor costs one (a
// PostgreSQL socket) or two (a SQLite file and its log) each.
constexpr int kMaxNewDescriptors = 40;
// Server connections the cursors' Connection may use (its user is limited to this many by the server):
// a fifth of PostgreSQL's default max_connections of 100, leaving room for other processes.
constexpr int kMaxServerConnections = 20;

int open_descriptors() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d)) ++n;
        ::closedir(d);
    }
    return n;
}

std::string owner_text(int owner) { return std::to_string(owner); }

class RecordsetManyCursors : public AdoTest {
protected:
    void TearDown() override {
        if (!role_.empty()) {
            readers_.reset();
            exec("DROP OWNED BY " + role_ + "; DROP ROLE " + role_);
        }
        AdoTest::TearDown();
    }

    // The Connection the cursors are opened on. On PostgreSQL it logs in as a user of its own that the
    // server lets have no more than kMaxServerConnections connections at once.
    std::shared_ptr<Connection> readers() {
        if (!is_pg()) return readers_ = connect();
        role_ = "ado_cursors_" + std::to_string(::getpid());
        exec("DROP ROLE IF EXISTS " + role_);
        exec("CREATE ROLE " + role_ + " LOGIN CONNECTION LIMIT " + std::to_string(kMaxServerConnections));
        exec("GRANT USAGE ON SCHEMA " + current_schema() + " TO " + role_ + "; GRANT SELECT, UPDATE ON t TO " + role_);
        readers_ = std::make_shared<Connection>();
        readers_->Provider(provider());
        readers_->ConnectionString(connection_string());
        readers_->Open("", role_, "");
        EXPECT_EQ(scalar_on(readers_, "SELECT current_user"), Variant(role_));
        return readers_;
    }
    int64_t server_connections() {
        return vb_id(scalar_on(conn_, "SELECT count(*) FROM pg_stat_activity WHERE usename = '" + role_ + "'"));
    }
    std::string current_schema() { return scalar_on(conn_, "SELECT current_schema()").as_text(); }
    Variant scalar_on(const std::shared_ptr<Connection>& conn, const std::string& sql) {
        Recordset rs;
        rs.Open(sql, conn, adOpenStatic, adLockReadOnly);
        return rs.Fields(Variant(int32_t{0})).Value();
    }

    std::shared_ptr<Connection> readers_;
    std::string role_;  // PostgreSQL: the cursors' user
};

// Owner i has rows 2i ("a") and 2i+1 ("b"). Before cursor i opens, row 2i+1 becomes "seen"; after it opened,
// both rows become "late" and a third row is added. Every cursor must read exactly "a", "seen". Half the
// writes go through the cursors' own Connection, as a gateway's do, half through another one.
TEST_P(RecordsetManyCursors, ThousandOpenCursorsEachReadTheirRowsAsOfTheirStart) {
    exec("CREATE TABLE t (id INTEGER PRIMARY KEY, owner INTEGER NOT NULL, val VARCHAR(20))");
    exec("CREATE INDEX t_owner ON t (owner)");
    std::string fill = "INSERT INTO t (id, owner, val) VALUES ";
    for (int i = 0; i < kCursors; ++i)
        fill += (i ? ", (" : "(") + std::to_string(2 * i) + ", " + owner_text(i) + ", 'a'), (" +
                std::to_string(2 * i + 1) + ", " + owner_text(i) + ", 'b')";
    exec(fill);
    auto shared = readers();
    auto writer = connect();
    const int descriptors_before = open_descriptors();

    std::vector<std::unique_ptr<Recordset>> cursors;
    for (int i = 0; i < kCursors; ++i) {
        const auto& via = i % 2 ? shared : writer;
        ASSERT_EQ(via->Execute("UPDATE t SET val = 'seen' WHERE id = " + std::to_string(2 * i + 1)), 1) << i;
        cursors.push_back(open("SELECT val FROM t WHERE owner = " + owner_text(i) + " ORDER BY id",
                               adOpenForwardOnly, adLockReadOnly, shared));
        writer->Execute("UPDATE t SET val = 'late' WHERE owner = " + owner_text(i) + "; INSERT INTO t (id, owner, val) "
                        "VALUES (" + std::to_string(10000 + i) + ", " + owner_text(i) + ", 'late')");
    }

    EXPECT_LE(open_descriptors() - descriptors_before, kMaxNewDescriptors);
    if (is_pg()) {
        EXPECT_LE(server_connections(), kMaxServerConnections);
    }
    for (int i = 0; i < kCursors; ++i) {
        SCOPED_TRACE(i);
        Recordset& rs = *cursors[i];
        std::vector<std::string> got;
        for (; !rs.EOF_(); rs.MoveNext()) got.push_back(rs.Fields(Variant("val")).Value().as_text());
        ASSERT_EQ(got, (std::vector<std::string>{"a", "seen"}));
    }
    cursors.clear();
    EXPECT_EQ(vb_id(scalar("SELECT count(*) FROM t WHERE val = 'late'")), 3 * kCursors);  // every write committed
}

// Cursors beyond the streaming ones keep their rows elsewhere (a spill database, a cursor held by the
// server) and hand them out in batches: every kind of value, row order and batch boundaries must survive,
// also when MoveFirst runs the statement again.
TEST_P(RecordsetManyCursors, CursorBeyondTheStreamingOnesReadsEveryValueInOrder) {
    exec("CREATE TABLE v (id INTEGER PRIMARY KEY, n BIGINT, r DOUBLE PRECISION, s VARCHAR(40))");
    const int rows = 600;  // past several batches of either provider
    std::string fill = "INSERT INTO v (id, n, r, s) VALUES (0, NULL, NULL, NULL), (1, 9007199254740993, -0.5, ''),"
                       " (2, -2147483649, 1e300, 'caf\xC3\xA9 ; \"quoted\"')";
    for (int i = 3; i < rows; ++i)
        fill += ", (" + std::to_string(i) + ", " + std::to_string(i * 7) + ", " + std::to_string(i) + ".25, 's" +
                std::to_string(i) + "')";
    exec(fill);
    const char* select = "SELECT id, n, r, s FROM v ORDER BY id";
    auto expected = open(select, adOpenStatic, adLockReadOnly);

    std::vector<std::unique_ptr<Recordset>> holders;  // keep every streaming connection busy
    for (int i = 0; i < 8; ++i) holders.push_back(open(select, adOpenForwardOnly, adLockReadOnly));
    auto rs = open(select, adOpenForwardOnly, adLockReadOnly);
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        expected->MoveFirst();
        int seen = 0;
        for (; !rs->EOF_(); rs->MoveNext(), expected->MoveNext(), ++seen) {
            ASSERT_FALSE(expected->EOF_());
            for (int32_t f = 0; f < 4; ++f)
                ASSERT_EQ(rs->Fields(Variant(f)).Value(), expected->Fields(Variant(f)).Value()) << seen << " " << f;
        }
        EXPECT_EQ(seen, rows);
        if (pass == 0) rs->MoveFirst();
    }
}

INSTANTIATE_TEST_SUITE_P(Providers, RecordsetManyCursors, ::testing::Values(ADO_TEST_PROVIDER));

}  // namespace
}  // namespace ado_test
