// EndToEnd_test.cpp: the client library against the real gateway program over a SQLite file: every
// record set operation, Buffer with each type letter the gateway writes, the overrun, errors of the
// database, and statement text with line breaks, tabs and accented letters arriving whole.
#include <gtest/gtest.h>

#include "common/Conversions.h"
#include "tests/client/ClientTestSupport.h"
#include "tests/support/ErrorOf.h"
#include "tests/support/GatewayProcess.h"

using tolvix::adLockOptimistic;
using tolvix::adLockReadOnly;
using tolvix::adOpenKeyset;
using tolvix::adOpenStatic;

namespace {

class EndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        gateway_ = new GatewayProcess(VANTREL_PROGRAM);
        auto c = started_connection(gateway_->port());
        c->Direct("CREATE TABLE people (id INTEGER PRIMARY KEY, name TEXT, born DATE, score REAL)");
        ASSERT_EQ(c->Direct("INSERT INTO people VALUES (1, 'Ann', '1990-05-17', 3.5), (2, 'Bo', NULL, 2), "
                            "(3, 'Cy', '2001-01-02 10:30:00', NULL)"),
                  3);
    }
    static void TearDownTestSuite() {
        delete gateway_;
        gateway_ = nullptr;
    }
    void SetUp() override { connection_ = started_connection(gateway_->port()); }

    static GatewayProcess* gateway_;
    std::unique_ptr<tolvix::iConnection> connection_;
};
GatewayProcess* EndToEnd::gateway_ = nullptr;

}  // namespace

TEST_F(EndToEnd, EveryRecordSetOperationReachesTheDatabase) {
    connection_->Direct("CREATE TABLE items (id INTEGER PRIMARY KEY, label TEXT)");
    connection_->Direct("INSERT INTO items VALUES (1, 'one'), (2, 'two'), (3, 'three')");
    auto rs = connection_->CrOpen("SELECT id, label FROM items ORDER BY id", adOpenKeyset, adLockOptimistic);
    ASSERT_TRUE(rs->IPOnLine());
    EXPECT_EQ(rs->RowCount(), 3);
    EXPECT_FALSE(rs->cEOF());
    EXPECT_EQ(rs->Fields(Variant("label")), Variant("one"));
    EXPECT_EQ(rs->Fields(Variant(int32_t{0})), Variant("1")) << "through the gateway every field reads as text";
    rs->MoveLast();
    EXPECT_EQ(rs->Fields(Variant("label")), Variant("three"));
    rs->MovePrevious();
    EXPECT_EQ(rs->Fields(Variant("id")), Variant("2"));
    rs->Fields(Variant("label"), Variant(" TWO "));
    rs->Update();
    rs->MoveFirst();
    rs->Delete();
    rs->MoveNext();
    rs->Add();
    rs->Fields(Variant("id"), Variant(int32_t{9}));
    rs->Fields(Variant("label"), Variant("nine"));
    rs->Update();
    rs->MoveNext();
    EXPECT_TRUE(rs->cEOF());
    EXPECT_EQ(rs->All({"id", "label"}), "") << "All reads from the current record on";
    rs->MoveFirst();
    EXPECT_EQ(rs->All({"id", "", "label"}), join({"2", "TWO", "3", "three", "9", "nine"}));   // text loses its outer blanks on the way
    rs->cClose();
    EXPECT_EQ(error_number([&] { rs->MoveFirst(); }), 91) << "the connection ended with cClose";
}

TEST_F(EndToEnd, BufferStoresEachTypeTheGatewayWrites) {
    auto rs = connection_->CrOpen("SELECT id, name, born, score FROM people ORDER BY id", adOpenStatic, adLockReadOnly);
    rs->Buffer({"id", "name", "born", "score"});
    struct Row { Variant id, name, born, score; };
    const Row rows[] = {
        {Variant(int32_t{1}), Variant("Ann"), Variant::date(vb::make_date_serial(1990, 5, 17)), Variant(3.5)},
        {Variant(int32_t{2}), Variant("Bo"), Variant(""), Variant(2.0)},   // null travels as empty text
        {Variant(int32_t{3}), Variant("Cy"), Variant::date(vb::make_date_serial(2001, 1, 2)), Variant("")}};
    for (const Row& row : rows) {
        EXPECT_FALSE(rs->cEOF());
        EXPECT_EQ(rs->Fields(Variant("id")), row.id);
        EXPECT_EQ(rs->Fields(Variant("name")), row.name);
        EXPECT_EQ(rs->Fields(Variant("born")), row.born);
        EXPECT_EQ(rs->Fields(Variant("score")), row.score);
        rs->MoveNext();
    }
    EXPECT_TRUE(rs->cEOF());
    EXPECT_EQ(rs->RowCount(), 3);
}

TEST_F(EndToEnd, BufferOfNineThousandRowsOverruns) {
    connection_->Direct("CREATE TABLE many AS WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                        "WHERE i < 9000) SELECT i FROM n");
    auto rs = connection_->CrOpen("SELECT i FROM many ORDER BY i", adOpenStatic, adLockReadOnly);
    EXPECT_EQ(error_number([&] { rs->Buffer({"i"}); }), -5656);
    auto fits = connection_->CrOpen("SELECT i FROM many WHERE i <= 8998 ORDER BY i", adOpenStatic, adLockReadOnly);
    fits->Buffer({"i"});
    fits->MoveLast();
    EXPECT_EQ(fits->Fields(Variant("i")), Variant(int32_t{8998}));
}

TEST_F(EndToEnd, StatementsWithLineBreaksTabsAndAccentsArriveWhole) {
    const std::string text = "Blåbær\t– «café»\r\nÆøå";
    connection_->Direct("CREATE TABLE notes (id INTEGER PRIMARY KEY,\n\tbody TEXT)");
    EXPECT_EQ(connection_->Direct("INSERT INTO notes\r\n\tVALUES (1, '" + text + "')"), 1);
    auto rs = connection_->CrOpen("SELECT id, body\n\tFROM notes\n\tWHERE body LIKE '%café%'", adOpenKeyset,
                                  adLockOptimistic);
    EXPECT_EQ(rs->Fields(Variant("body")), Variant(text));
    rs->Fields(Variant("body"), Variant("ÿ\tø"));   // letters that a shift by -4 or more would wrap
    rs->Update();
    EXPECT_EQ(rs->All({"body"}), "ÿ\tø");
}

TEST_F(EndToEnd, DatabaseErrorsArriveWithTheirNumberAndText) {
    const ComError missing = error_of([&] { connection_->Direct("DELETE FROM nowhere"); });
    EXPECT_EQ(missing.number(), -2147217900);
    EXPECT_NE(missing.description().find("no such table: nowhere"), std::string::npos) << missing.description();

    auto rs = connection_->CrOpen("SELECT id FROM people", adOpenStatic, adLockReadOnly);
    EXPECT_EQ(error_number([&] { rs->Fields(Variant("nosuch")); }), 3265);
    EXPECT_EQ(error_number([&] { rs->All({"nosuch"}); }), 3265);
    EXPECT_EQ(rs->Fields(Variant("id")), Variant("1")) << "the connection stays in step after errors";
    EXPECT_EQ(error_number([&] { connection_->mtier("anything"); }), 429) << "this gateway has no middle tier";
}
