// Recordset_test.cpp: positions, BOF/EOF, moves and their refusals, RecordCount and the cursor type
// actually given, field lookup, and the errors of closed and open Recordsets, on both providers.
#include "platform/ado/Recordset.h"

#include <gtest/gtest.h>

#include "AdoFixture.h"

namespace ado_test {
namespace {

using namespace ado;

class RecordsetTest : public AdoTest {
protected:
    void SetUp() override {
        AdoTest::SetUp();
        if (IsSkipped()) return;
        make_items();
        exec("CREATE TABLE empty_items (id INTEGER PRIMARY KEY, name VARCHAR(20))");
    }
};

int64_t current_id(Recordset& rs) { return vb_id(rs.Fields(Variant("id")).Value()); }

}  // namespace

TEST_P(RecordsetTest, WalkFollowsBofEofRules) {
    enum Action { Next, Prev, First, Last, Read };
    struct Step { Action action; bool bof, eof; int id; int32_t error; };
    const Step walk[] = {
        {Next, false, false, 2, 0},    {Next, false, false, 3, 0},     {Next, false, true, 0, 0},
        {Next, false, true, 0, 3021},  {Read, false, true, 0, 3021},   {Prev, false, false, 3, 0},
        {First, false, false, 1, 0},   {Prev, true, false, 0, 0},      {Read, true, false, 0, 3021},
        {Prev, true, false, 0, 3021},  {Next, false, false, 1, 0},     {Last, false, false, 3, 0},
    };
    struct Kind { CursorTypeEnum type; CursorLocationEnum location; };
    for (const Kind kind : {Kind{adOpenStatic, adUseServer}, Kind{adOpenKeyset, adUseServer},
                            Kind{adOpenDynamic, adUseServer}, Kind{adOpenForwardOnly, adUseClient}}) {
        SCOPED_TRACE("cursor type " + std::to_string(kind.type) + " location " + std::to_string(kind.location));
        auto conn = connect({0, 0, kind.location});
        auto rs = open("SELECT id, name FROM items ORDER BY id", kind.type, adLockReadOnly, conn);
        ASSERT_EQ(current_id(*rs), 1);
        for (size_t i = 0; i < std::size(walk); ++i) {
            const Step& s = walk[i];
            SCOPED_TRACE("step " + std::to_string(i));
            const auto act = [&] {
                switch (s.action) {
                    case Next: return rs->MoveNext();
                    case Prev: return rs->MovePrevious();
                    case First: return rs->MoveFirst();
                    case Last: return rs->MoveLast();
                    case Read: (void)rs->Fields(Variant("id")).Value(); return;
                }
            };
            if (s.error) {
                const ComError e = error_of(act);
                EXPECT_EQ(e.number(), s.error);
                EXPECT_EQ(e.description(), error_text(s.error));
            } else {
                act();
            }
            EXPECT_EQ(rs->BOF(), s.bof);
            EXPECT_EQ(rs->EOF_(), s.eof);
            if (s.id) {
                EXPECT_EQ(current_id(*rs), s.id);
            }
        }
    }
}

TEST_P(RecordsetTest, RecordCountAndGivenTypeFollowCursorKind) {
    struct Case { CursorTypeEnum asked; CursorLocationEnum location; CursorTypeEnum given; int32_t count, empty; };
    const Case cases[] = {
        {adOpenForwardOnly, adUseServer, adOpenForwardOnly, -1, -1},
        {adOpenStatic, adUseServer, adOpenStatic, 3, 0},
        {adOpenKeyset, adUseServer, adOpenKeyset, 3, 0},
        {adOpenDynamic, adUseServer, adOpenKeyset, 3, 0},  // dynamic is given as keyset
        {adOpenForwardOnly, adUseClient, adOpenStatic, 3, 0},
        {adOpenKeyset, adUseClient, adOpenStatic, 3, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("asked " + std::to_string(c.asked) + " location " + std::to_string(c.location));
        auto conn = connect({0, 0, c.location});
        auto rs = open("SELECT id, name FROM items", c.asked, adLockOptimistic, conn);
        EXPECT_EQ(rs->CursorType(), c.given);
        EXPECT_EQ(rs->RecordCount(), c.count);
        auto empty = open("SELECT id, name FROM empty_items", c.asked, adLockReadOnly, conn);
        EXPECT_TRUE(empty->BOF());
        EXPECT_TRUE(empty->EOF_());
        EXPECT_EQ(empty->RecordCount(), c.empty);
        for (auto move : {&Recordset::MoveNext, &Recordset::MoveFirst}) {
            EXPECT_EQ(error_of([&] { ((*empty).*move)(); }).number(), adErrNoCurrentRecord);
        }
        rs->Close();
        EXPECT_EQ(rs->CursorType(), c.asked);  // the requested type again once closed
    }
}

TEST_P(RecordsetTest, ForwardOnlyStreamsForwardAndRestartsOnMoveFirst) {
    auto rs = open("SELECT id FROM items ORDER BY id", adOpenForwardOnly, adLockReadOnly);
    rs->MoveFirst();  // already on the first record: no error
    rs->MoveNext();
    for (auto move : {&Recordset::MovePrevious, &Recordset::MoveLast}) {
        const ComError e = error_of([&] { ((*rs).*move)(); });
        EXPECT_EQ(e.number(), kDbCantFetchBackwards);
        EXPECT_EQ(e.description(), "Rowset does not support fetching backward.");
    }
    EXPECT_EQ(current_id(*rs), 2);
    rs->MoveNext();
    rs->MoveNext();
    EXPECT_TRUE(rs->EOF_());
    rs->MoveFirst();  // runs the statement again
    EXPECT_EQ(current_id(*rs), 1);
    EXPECT_FALSE(rs->BOF());
}

TEST_P(RecordsetTest, MoveFirstDoesNotRunADataChangeAgain) {
    auto rs = open("INSERT INTO items (id, name, qty) VALUES (4, 'D', 40), (5, 'E', 50) RETURNING id",
                   adOpenForwardOnly, adLockReadOnly);
    rs->MoveNext();
    rs->MoveFirst();
    EXPECT_EQ(current_id(*rs), 4);
    EXPECT_EQ(vb_id(scalar("SELECT count(*) FROM items")), 5);
}

// After a re-run the cursor describes the new result: a column another connection dropped is gone (3265,
// also through a Field kept from before that names an ordinal past the end), one it added is there, and edits use the new column list.
TEST_P(RecordsetTest, MoveFirstTakesTheColumnsOfTheNewResult) {
    exec("CREATE TABLE s (id INTEGER PRIMARY KEY, b VARCHAR(20), c VARCHAR(20))");
    exec("INSERT INTO s (id, b, c) VALUES (1, 'b1', 'c1'), (2, 'b2', 'c2')");
    auto rs = open("SELECT * FROM s ORDER BY id", adOpenForwardOnly, adLockOptimistic);
    Field c = rs->Fields(Variant("c"));
    rs->MoveNext();
    rs->MoveNext();  // at the end: the statement has finished and holds nothing
    auto other = connect();
    other->Execute("ALTER TABLE s DROP COLUMN c");
    other->Execute("ALTER TABLE s ADD COLUMN d INTEGER DEFAULT 7");
    rs->MoveFirst();
    EXPECT_EQ(rs->FieldCount(), 3);
    EXPECT_EQ(rs->Fields(Variant(int32_t{2})).Name(), "d");
    EXPECT_EQ(vb_id(rs->Fields(Variant("d")).Value()), 7);
    EXPECT_EQ(error_number([&] { rs->Fields(Variant("c")); }), adErrItemNotFound);
    rs->Fields(Variant("b")).Value(Variant("x"));
    rs->Update();
    EXPECT_EQ(scalar("SELECT b FROM s WHERE id = 1"), Variant("x"));
    rs->MoveNext();
    rs->MoveNext();
    other->Execute("ALTER TABLE s DROP COLUMN d");
    rs->MoveFirst();
    EXPECT_EQ(rs->FieldCount(), 2);
    EXPECT_EQ(error_number([&] { (void)c.Value(); }), adErrItemNotFound);
}

// Delete leaves the deleted record current; MoveFirst must then really move: a forward-only cursor runs
// its statement again (the row is gone), a static or keyset cursor skips the deleted record.
TEST_P(RecordsetTest, MoveFirstAfterDeletingTheFirstRecordMovesOn) {
    for (const CursorTypeEnum type : {adOpenForwardOnly, adOpenStatic, adOpenKeyset}) {
        SCOPED_TRACE("cursor type " + std::to_string(type));
        exec("DELETE FROM items");
        exec("INSERT INTO items (id, name, qty) VALUES (1, 'A', 10), (2, 'B', 20), (3, 'C', 30)");
        auto rs = open("SELECT id, name FROM items ORDER BY id", type, adLockOptimistic);
        rs->Delete();
        rs->MoveFirst();
        EXPECT_EQ(current_id(*rs), 2);
        EXPECT_FALSE(rs->BOF());
    }
}

// Blanks, ";" and comments after the statement are not a second statement.
TEST_P(RecordsetTest, CursorSourceMayEndWithComments) {
    for (const char* tail : {";", "; -- the end", ";\n/* done */ ;\n", " -- no semicolon"}) {
        SCOPED_TRACE(tail);
        auto rs = open(std::string("SELECT id FROM items ORDER BY id") + tail, adOpenForwardOnly, adLockReadOnly);
        EXPECT_EQ(current_id(*rs), 1);
    }
}

// A row that fails to compute is only met when the cursor reaches it: the rows before it were handed out
// without reading the rest. A static cursor reads everything at Open and fails there.
TEST_P(RecordsetTest, ForwardOnlyFetchesRowsOnDemand) {
    const std::string failing_row_900 =
        is_pg() ? "SELECT CASE WHEN x = 900 THEN 1 / (x - 900) ELSE x END AS v FROM generate_series(1, 1000) AS g(x)"
                : "WITH RECURSIVE s(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM s WHERE x < 1000) "
                  "SELECT CASE WHEN x = 900 THEN abs(-9223372036854775807 - 1) ELSE x END AS v FROM s";
    auto rs = open(failing_row_900, adOpenForwardOnly, adLockReadOnly);
    int rows = 1;
    const ComError e = error_of([&] {
        for (; rows < 1000; ++rows) rs->MoveNext();
    });
    EXPECT_EQ(e.number(), kDbErrorsInCommand);
    EXPECT_GT(rows, 1);  // at row 899 at the latest; earlier when rows are fetched in batches
    EXPECT_LE(rows, 899);
    Recordset snapshot;
    EXPECT_EQ(error_of([&] { snapshot.Open(failing_row_900, conn_, adOpenStatic, adLockReadOnly); }).number(),
              kDbErrorsInCommand);
    EXPECT_EQ(snapshot.State(), adStateClosed);
}

TEST_P(RecordsetTest, FieldsByNameOrOrdinal) {
    auto rs = open("SELECT id, name FROM items ORDER BY id", adOpenStatic, adLockReadOnly);
    struct Case { Variant index; const char* name; };
    const Case found[] = {{Variant("NAME"), "name"}, {Variant(int16_t{0}), "id"}, {Variant(int32_t{1}), "name"},
                          {Variant(0.5), "id"},      {Variant(1.4), "name"}};  // halves round to even
    for (const Case& c : found) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(rs->Fields(c.index).Name(), c.name);
    }
    for (const Variant& bad : {Variant("nope"), Variant(""), Variant(int32_t{-1}), Variant(int32_t{2}), Variant(1.5),
                               Variant(true), Variant::null()}) {
        EXPECT_EQ(error_of([&] { rs->Fields(bad); }).number(), adErrItemNotFound);
    }
    Field kept = rs->Fields(Variant("name"));
    rs->Close();
    EXPECT_EQ(rs->FieldCount(), 0);
    EXPECT_EQ(error_of([&] { rs->Fields(Variant("id")); }).number(), adErrItemNotFound);
    rs->Open("SELECT id FROM items", conn_, adOpenStatic, adLockReadOnly);  // fewer columns now
    EXPECT_EQ(error_of([&] { (void)kept.Value(); }).number(), adErrItemNotFound);
}

TEST_P(RecordsetTest, ClosedAndOpenStatesRefuseWithAdoErrors) {
    Recordset rs;
    const std::function<void()> closed_calls[] = {
        [&] { (void)rs.EOF_(); },   [&] { (void)rs.BOF(); },    [&] { (void)rs.RecordCount(); },
        [&] { rs.MoveNext(); },     [&] { rs.MoveFirst(); },    [&] { rs.AddNew(); },
        [&] { rs.Update(); },       [&] { rs.Delete(); },       [&] { rs.Close(); },
    };
    for (size_t i = 0; i < std::size(closed_calls); ++i) {
        SCOPED_TRACE(i);
        const ComError e = error_of(closed_calls[i]);
        EXPECT_EQ(e.number(), adErrObjectClosed);
        EXPECT_EQ(e.description(), "Operation is not allowed when the object is closed.");
    }
    rs.Open("SELECT id FROM items", conn_, adOpenStatic, adLockReadOnly);
    EXPECT_EQ(error_of([&] { rs.Open("SELECT id FROM items", conn_); }).number(), adErrObjectOpen);
    EXPECT_EQ(error_of([&] { rs.CursorType(adOpenKeyset); }).number(), adErrObjectOpen);
    rs.Close();
    EXPECT_EQ(error_of([&] { rs.Open("SELECT id FROM items", conn_, static_cast<CursorTypeEnum>(7)); }).number(),
              adErrInvalidArgument);
    const ComError bad_sql = error_of([&] { rs.Open("SELECT nope FROM items", conn_); });
    EXPECT_EQ(bad_sql.number(), kDbErrorsInCommand);
    EXPECT_NE(bad_sql.description().find("nope"), std::string::npos);  // the database's own message
    EXPECT_EQ(rs.State(), adStateClosed);
}

TEST_P(RecordsetTest, StatementWithoutRowsRunsAndLeavesRecordsetClosed) {
    Recordset rs;
    rs.Open("UPDATE items SET qty = 99 WHERE id = 2", conn_, adOpenStatic, adLockOptimistic);
    EXPECT_EQ(rs.State(), adStateClosed);
    EXPECT_EQ(vb_id(scalar("SELECT qty FROM items WHERE id = 2")), 99);
}

TEST_P(RecordsetTest, ClosingTheConnectionClosesItsRecordsets) {
    auto rs = open("SELECT id FROM items", adOpenForwardOnly, adLockOptimistic);
    rs->Fields(Variant("id")).Value(Variant(int32_t{7}));  // a pending edit is dropped, not written
    conn_->Close();
    EXPECT_EQ(rs->State(), adStateClosed);
    EXPECT_EQ(error_of([&] { (void)rs->EOF_(); }).number(), adErrObjectClosed);
    EXPECT_EQ(vb_id(scalar("SELECT count(*) FROM items WHERE id = 7")), 0);
    conn_ = connect();
    rs->Open("SELECT id FROM items", conn_);  // the Recordset can be opened again
    EXPECT_EQ(rs->State(), adStateOpen);
}

INSTANTIATE_TEST_SUITE_P(Providers, RecordsetTest, ::testing::Values(ADO_TEST_PROVIDER));

}  // namespace ado_test
