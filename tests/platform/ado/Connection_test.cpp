// Connection_test.cpp: Open/Close/Execute and their errors, RecordsAffected, CommandTimeout, and writes
// committed at once while cursors stay open, on both providers.
#include "platform/ado/Connection.h"

#include <unistd.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "AdoFixture.h"
#include "platform/ado/Recordset.h"

namespace ado_test {
namespace {

using namespace ado;

class ConnectionTest : public AdoTest {};

}  // namespace

TEST_P(ConnectionTest, ExecuteReportsRecordsAffected) {
    struct Case { const char* sql; int32_t affected; };
    const Case cases[] = {
        {"CREATE TABLE t (id INTEGER PRIMARY KEY, v INTEGER)", -1},
        {"INSERT INTO t (id, v) VALUES (1, 1), (2, 2)", 2},
        {"UPDATE t SET v = 5 WHERE id > 100", 0},
        {"UPDATE t SET v = 5", 2},
        {"/* note */ UPDATE t SET v = 6", 2},    // a comment before the verb changes nothing
        {"-- note\nUPDATE t SET v = 7", 2},
        {"SELECT * FROM t", -1},
        {"DELETE FROM t WHERE id = 1", 1},
        {"DROP TABLE t", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        EXPECT_EQ(conn_->Execute(c.sql), c.affected);
    }
    const ComError e = error_of([&] { conn_->Execute("INSERT INTO nowhere VALUES (1)"); });
    EXPECT_EQ(e.number(), kDbErrorsInCommand);
    EXPECT_NE(e.description().find("nowhere"), std::string::npos);
}

TEST_P(ConnectionTest, CommandTextIsRunWholeAndOnceOrRefused) {
    make_items();
    // A NUL would cut the text short or stall the statement splitter: refused before anything runs.
    using namespace std::string_literals;
    for (const std::string& sql : {"\0"s, "UPDATE items SET qty = 0;\0x"s}) {
        EXPECT_EQ(error_of([&] { conn_->Execute(sql); }).number(), kDbErrorsInCommand);
        EXPECT_EQ(error_of([&] { open(sql, ado::adOpenStatic, ado::adLockReadOnly); }).number(), kDbErrorsInCommand);
    }
    EXPECT_EQ(vb_id(scalar("SELECT qty FROM items WHERE id = 1")), 10);

    // A cursor source with a data change after the query runs it at most once, whatever cursor is asked.
    for (const ado::CursorTypeEnum type : {ado::adOpenStatic, ado::adOpenForwardOnly, ado::adOpenKeyset}) {
        SCOPED_TRACE(type);
        exec("UPDATE items SET qty = 0 WHERE id = 1");
        try {
            auto rs = open("SELECT * FROM items; UPDATE items SET qty = qty + 1 WHERE id = 1 RETURNING *", type,
                           ado::adLockOptimistic);
        } catch (const ComError&) {
            // refusing the source is as good as running it once
        }
        EXPECT_LE(vb_id(scalar("SELECT qty FROM items WHERE id = 1")), 1);
    }
}

TEST_P(ConnectionTest, StateErrorsAndUnknownProvider) {
    EXPECT_EQ(error_of([&] { conn_->Open(); }).number(), adErrObjectOpen);
    conn_->Close();
    EXPECT_EQ(error_of([&] { conn_->Close(); }).number(), adErrObjectClosed);
    EXPECT_EQ(error_of([&] { conn_->Execute("SELECT 1"); }).number(), adErrInvalidConnection);
    Recordset rs;
    EXPECT_EQ(error_of([&] { rs.Open("SELECT 1", conn_); }).number(), adErrInvalidConnection);

    Connection unknown;
    unknown.Provider("Jet.OLEDB.Nothing");
    unknown.ConnectionString(connection_string());
    const ComError e = error_of([&] { unknown.Open(); });
    EXPECT_EQ(e.number(), adErrProviderNotFound);
    EXPECT_EQ(e.description(), "Provider cannot be found. It may not be properly installed.");
    EXPECT_EQ(unknown.State(), adStateClosed);

    Connection upper;  // the provider name is case-insensitive
    upper.Provider(provider() == "SQLite" ? "SQLITE" : "postgresql");
    upper.ConnectionString(connection_string());
    upper.Open();
    EXPECT_EQ(upper.State(), adStateOpen);
}

TEST_P(ConnectionTest, CommandTimeoutAbortsALongStatement) {
    auto conn = connect({1, 0});
    const char* endless = is_pg() ? "SELECT pg_sleep(60)"
                                  : "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) "
                                    "SELECT count(*) FROM c";
    EXPECT_EQ(error_of([&] { conn->Execute(endless); }).number(), kDbTimeout);
    EXPECT_EQ(conn->Execute("CREATE TABLE after_timeout (id INTEGER PRIMARY KEY)"), -1);  // still usable
}

TEST_P(ConnectionTest, WritesAreCommittedAtOnceWhileCursorsStayOpen) {
    make_items();
    auto streaming = open("SELECT id, name FROM items ORDER BY id", adOpenForwardOnly, adLockOptimistic);
    auto keyset = open("SELECT id, name FROM items ORDER BY id", adOpenKeyset, adLockOptimistic);
    ASSERT_FALSE(streaming->EOF_());  // an unfinished statement
    conn_->Execute("UPDATE items SET name = 'X' WHERE id = 3");
    EXPECT_EQ(scalar("SELECT name FROM items WHERE id = 3"), Variant("X"));
    EXPECT_TRUE(child_process_reads("SELECT name FROM items WHERE id = 3", "X"));
    keyset->MoveNext();
    keyset->Fields(Variant("name")).Value(Variant("Y"));
    keyset->Update();
    EXPECT_EQ(scalar("SELECT name FROM items WHERE id = 2"), Variant("Y"));
    streaming->Fields(Variant("name")).Value(Variant("Z"));
    streaming->Update();
    EXPECT_EQ(scalar("SELECT name FROM items WHERE id = 1"), Variant("Z"));
    streaming->MoveNext();
    streaming->MoveNext();
    EXPECT_FALSE(streaming->EOF_());
}

TEST_P(ConnectionTest, MemoryDatabaseIsOneDatabaseForEveryCursorOfItsConnection) {
    if (is_pg()) GTEST_SKIP() << "SQLite only";
    auto mem = std::make_shared<Connection>();
    mem->Provider("SQLite");
    mem->ConnectionString("Data Source=:memory:");
    mem->Open();
    mem->Execute("CREATE TABLE m (id INTEGER PRIMARY KEY, v TEXT); INSERT INTO m VALUES (1, 'a'), (2, 'b')");
    Recordset streaming;
    streaming.Open("SELECT id, v FROM m ORDER BY id", mem, adOpenForwardOnly, adLockOptimistic);
    mem->Execute("INSERT INTO m VALUES (3, 'c')");
    streaming.Fields(Variant("v")).Value(Variant("A"));
    streaming.Update();
    Recordset all;
    all.Open("SELECT id, v FROM m ORDER BY id", mem, adOpenStatic, adLockReadOnly);
    EXPECT_EQ(all.RecordCount(), 3);
    EXPECT_EQ(all.Fields(Variant("v")).Value(), Variant("A"));

    auto other = std::make_shared<Connection>();  // another Connection's ":memory:" is another database
    other->Provider("SQLite");
    other->ConnectionString("Data Source=:memory:");
    other->Open();
    EXPECT_EQ(error_of([&] { other->Execute("SELECT * FROM m"); }).number(), kDbErrorsInCommand);
}

TEST_P(ConnectionTest, SqliteDataSourceMayBeQuoted) {
    if (is_pg()) GTEST_SKIP() << "SQLite only";
    const std::string dir = connection_string().substr(std::string("Data Source=").size());
    const std::string path = dir.substr(0, dir.rfind('/')) + "/it's;here.db";
    Connection c;
    c.Provider("SQLite");
    c.ConnectionString("Data Source=\"" + path + "\";");
    c.Open();
    c.Execute("CREATE TABLE q (id INTEGER PRIMARY KEY)");
    EXPECT_EQ(::access(path.c_str(), F_OK), 0);
}

TEST_P(ConnectionTest, PostgreSqlAcceptsAdoStyleConnectionStrings) {
    if (!is_pg()) GTEST_SKIP() << "PostgreSQL only";
    std::string ado = "Server=127.0.0.1";  // from "host=… port=… dbname=… user=…"
    const std::string conninfo = std::getenv("TEST_PG_CONNINFO");
    const struct { const char* key; const char* ado; } keys[] = {{"port=", ";Port="}, {"dbname=", ";Database="},
                                                                 {"user=", ";User ID="}};
    for (const auto& k : keys) {
        const size_t at = conninfo.find(k.key);
        ASSERT_NE(at, std::string::npos);
        const size_t start = at + std::string(k.key).size();
        ado += k.ado + conninfo.substr(start, conninfo.find(' ', start) - start);
    }
    Connection c;
    c.Provider("PostgreSQL");
    c.ConnectionString(ado);
    c.Open();
    EXPECT_EQ(c.Execute("SELECT 1"), -1);
    Connection bad;
    bad.Provider("PostgreSQL");
    bad.ConnectionString("Server=127.0.0.1;Port=1;Database=x");
    bad.ConnectionTimeout(2);
    EXPECT_EQ(error_of([&] { bad.Open(); }).number(), kDbFail);
}

INSTANTIATE_TEST_SUITE_P(Providers, ConnectionTest, ::testing::Values(ADO_TEST_PROVIDER));

}  // namespace ado_test
