// RecordsetEditing_test.cpp: AddNew/Update/Delete written at once, read-only refusals, optimistic
// conflicts, pessimistic row locks, failed updates that change nothing, and keyset cursors that see other
// connections' changes, on both providers.
#include <gtest/gtest.h>

#include "AdoFixture.h"
#include "platform/ado/Recordset.h"

namespace ado_test {
namespace {

using namespace ado;

class RecordsetEditingTest : public AdoTest {
protected:
    void SetUp() override {
        AdoTest::SetUp();
        if (IsSkipped()) return;
        make_items();
    }
    std::string name_of(int id) {
        const Variant v = scalar("SELECT name FROM items WHERE id = " + std::to_string(id));
        return v.is_text() ? v.as_text() : "<none>";
    }
    int64_t count_items() { return vb_id(scalar("SELECT count(*) FROM items")); }
};

Variant text(const char* s) { return Variant(s); }
Variant num(int32_t n) { return Variant(n); }

}  // namespace

TEST_P(RecordsetEditingTest, AddNewUpdateDeleteAreWrittenAtOnce) {
    struct Kind { CursorTypeEnum type; LockTypeEnum lock; };
    const Kind kinds[] = {{adOpenStatic, adLockOptimistic}, {adOpenKeyset, adLockPessimistic},
                          {adOpenForwardOnly, adLockOptimistic}, {adOpenStatic, adLockBatchOptimistic}};
    int next_id = 10;
    for (const Kind k : kinds) {
        SCOPED_TRACE("type " + std::to_string(k.type) + " lock " + std::to_string(k.lock));
        auto rs = open("SELECT id, name, qty FROM items ORDER BY id", k.type, k.lock);
        EXPECT_EQ(rs->LockType(), k.lock);
        const int32_t before = rs->RecordCount();
        rs->AddNew();
        EXPECT_FALSE(rs->BOF() || rs->EOF_());
        EXPECT_TRUE(rs->Fields(text("name")).Value().is_empty());  // unassigned fields of a new record
        if (before >= 0) {
            EXPECT_EQ(rs->RecordCount(), before + 1);
        }
        const int id = next_id++;
        rs->Fields(text("id")).Value(num(id));
        rs->Fields(text("name")).Value(text(("N" + std::to_string(id)).c_str()));
        rs->Update();
        EXPECT_EQ(rs->EditMode(), adEditNone);
        EXPECT_EQ(vb_id(rs->Fields(text("id")).Value()), id);  // stays current
        EXPECT_TRUE(rs->Fields(text("qty")).Value().is_null());  // as the database stored it
        EXPECT_EQ(name_of(id), "N" + std::to_string(id));       // committed: another connection sees it
        rs->MoveFirst();
        rs->Fields(text("qty")).Value(num(11));
        EXPECT_EQ(vb_id(rs->Fields(text("qty")).Value()), 11);  // the pending value reads back
        rs->Update();
        EXPECT_EQ(vb_id(scalar("SELECT qty FROM items WHERE id = 1")), 11);
        rs->Fields(text("qty")).Value(num(10));
        rs->MoveNext();  // moving off an edited record writes it
        EXPECT_EQ(vb_id(scalar("SELECT qty FROM items WHERE id = 1")), 10);
        const int64_t deleted = vb_id(rs->Fields(text("id")).Value());
        rs->Delete();
        EXPECT_EQ(error_of([&] { (void)rs->Fields(text("id")).Value(); }).number(), adErrNoCurrentRecord);
        EXPECT_EQ(error_of([&] { rs->Delete(); }).number(), adErrNoCurrentRecord);
        rs->MoveNext();  // to the record after the deleted one
        EXPECT_EQ(vb_id(rs->Fields(text("id")).Value()), deleted + 1);
        EXPECT_EQ(vb_id(scalar("SELECT count(*) FROM items WHERE id = " + std::to_string(deleted))), 0);
        exec("INSERT INTO items (id, name, qty) VALUES (" + std::to_string(deleted) + ", 'B', 20)");
    }
}

TEST_P(RecordsetEditingTest, DeletingEveryRecordLeavesAnEmptySet) {
    auto rs = open("SELECT id, name FROM items ORDER BY id", adOpenStatic, adLockOptimistic);
    while (!rs->EOF_()) {
        rs->Delete();
        rs->MoveNext();
    }
    EXPECT_EQ(rs->RecordCount(), 0);
    EXPECT_EQ(error_of([&] { rs->MoveFirst(); }).number(), adErrNoCurrentRecord);
    EXPECT_TRUE(rs->BOF() && rs->EOF_());
    EXPECT_EQ(count_items(), 0);
}

TEST_P(RecordsetEditingTest, ReadOnlyCursorsRefuseEveryEdit) {
    struct Case { const char* sql; LockTypeEnum asked; };
    const Case cases[] = {
        {"SELECT id, name FROM items", adLockReadOnly},
        {"SELECT name, qty FROM items", adLockOptimistic},             // no key in the result
        {"SELECT id, qty * 2 AS twice FROM items", adLockOptimistic},  // an expression
        {"SELECT a.id, b.name FROM items a JOIN items b ON a.id = b.id", adLockPessimistic},  // two tables
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        auto rs = open(c.sql, adOpenStatic, c.asked);
        EXPECT_EQ(rs->LockType(), adLockReadOnly);
        const std::function<void()> edits[] = {[&] { rs->Fields(num(1)).Value(text("x")); },
                                               [&] { rs->AddNew(); }, [&] { rs->Update(); },
                                               [&] { rs->Delete(); }};
        for (const auto& edit : edits) {
            const ComError e = error_of(edit);
            EXPECT_EQ(e.number(), adErrFeatureNotAvailable);
            EXPECT_EQ(e.description(), kReadOnlyText);
        }
    }
    EXPECT_EQ(name_of(1), "A");
}

TEST_P(RecordsetEditingTest, OptimisticEditOfARowChangedSinceReadIsRefused) {
    for (LockTypeEnum lock : {adLockOptimistic, adLockBatchOptimistic}) {
        SCOPED_TRACE(lock);
        auto rs = open("SELECT id, name, qty FROM items ORDER BY id", adOpenStatic, lock);
        auto other = connect();
        other->Execute("UPDATE items SET qty = qty + 1 WHERE id = 1");
        rs->Fields(text("name")).Value(text("mine"));
        const ComError e = error_of([&] { rs->Update(); });
        EXPECT_EQ(e.number(), kDbRowChanged);
        EXPECT_EQ(e.description(),
                  "Row cannot be located for updating. Some values may have been changed since it was last read.");
        EXPECT_EQ(name_of(1), "A");  // the other change is not overwritten
        EXPECT_EQ(rs->EditMode(), adEditInProgress);
        rs->CancelUpdate();
        EXPECT_EQ(error_of([&] { rs->Delete(); }).number(), kDbRowChanged);  // nor deleted
        EXPECT_EQ(count_items(), 3);
        rs->MoveNext();  // the record set stays usable
        rs->Fields(text("name")).Value(text("B2"));
        rs->Update();
        EXPECT_EQ(name_of(2), "B2");
        exec("UPDATE items SET qty = 10, name = 'A' WHERE id = 1; UPDATE items SET name = 'B' WHERE id = 2");
    }
}

TEST_P(RecordsetEditingTest, FailedUpdateLeavesDatabaseUnchangedAndRecordsetUsable) {
    for (LockTypeEnum lock : {adLockOptimistic, adLockPessimistic}) {
        SCOPED_TRACE(lock);
        auto rs = open("SELECT id, name, qty FROM items ORDER BY id", adOpenKeyset, lock);
        rs->Fields(text("name")).Value(text("B"));  // violates UNIQUE(name)
        rs->Fields(text("qty")).Value(num(77));
        EXPECT_EQ(error_of([&] { rs->Update(); }).number(), kDbIntegrityViolation);
        EXPECT_EQ(name_of(1), "A");
        EXPECT_EQ(vb_id(scalar("SELECT qty FROM items WHERE id = 1")), 10);
        EXPECT_EQ(rs->EditMode(), adEditInProgress);  // corrected and retried
        rs->Fields(text("name")).Value(text("A2"));
        rs->Update();
        EXPECT_EQ(name_of(1), "A2");
        EXPECT_EQ(vb_id(scalar("SELECT qty FROM items WHERE id = 1")), 77);

        rs->AddNew();
        rs->Fields(text("id")).Value(num(2));  // duplicate key
        rs->Fields(text("name")).Value(text("Z"));
        EXPECT_EQ(error_of([&] { rs->Update(); }).number(), kDbIntegrityViolation);
        EXPECT_EQ(count_items(), 3);
        rs->Fields(text("id")).Value(num(4));
        rs->Update();
        EXPECT_EQ(name_of(4), "Z");

        rs->MoveFirst();
        rs->Fields(text("name")).Value(text("C"));
        EXPECT_EQ(error_of([&] { rs->MoveNext(); }).number(), kDbIntegrityViolation);  // the implicit write
        EXPECT_EQ(rs->EditMode(), adEditNone);  // ... failed and was dropped
        EXPECT_EQ(vb_id(rs->Fields(text("id")).Value()), 1);
        rs->MoveNext();
        EXPECT_EQ(vb_id(rs->Fields(text("id")).Value()), 2);
        exec("DELETE FROM items WHERE id = 4; UPDATE items SET name = 'A', qty = 10 WHERE id = 1");
    }
}

TEST_P(RecordsetEditingTest, ValueTheColumnCannotHoldIsRefusedOnAssignment) {
    auto rs = open("SELECT id, name, qty FROM items", adOpenStatic, adLockOptimistic);
    const ComError e = error_of([&] { rs->Fields(text("qty")).Value(text("lots")); });
    EXPECT_EQ(e.number(), kDbErrorsOccurred);
    EXPECT_EQ(rs->EditMode(), adEditNone);
}

TEST_P(RecordsetEditingTest, PessimisticEditLocksTheRowAgainstASecondWriter) {
    auto rs = open("SELECT id, name FROM items ORDER BY id", adOpenKeyset, adLockPessimistic);
    rs->Fields(text("name")).Value(text("locked"));  // locks the row
    auto other = connect({2, 1});
    auto second = open("SELECT id, name FROM items ORDER BY id", adOpenKeyset, adLockPessimistic, other);
    EXPECT_EQ(error_of([&] { second->Fields(text("name")).Value(text("second")); }).number(), kDbFail);
    EXPECT_EQ(second->EditMode(), adEditNone);
    rs->Update();
    EXPECT_EQ(name_of(1), "locked");
    second->MoveFirst();  // re-read: the keyset cursor sees the written value
    EXPECT_EQ(second->Fields(text("name")).Value(), text("locked"));
    second->Fields(text("name")).Value(text("second"));
    second->Update();
    EXPECT_EQ(name_of(1), "second");
}

TEST_P(RecordsetEditingTest, KeysetSeesOtherConnectionsChangesStaticDoesNot) {
    auto keyset = open("SELECT id, name FROM items ORDER BY id", adOpenKeyset, adLockOptimistic);
    auto snapshot = open("SELECT id, name FROM items ORDER BY id", adOpenStatic, adLockOptimistic);
    auto other = connect();
    other->Execute("UPDATE items SET name = 'B!' WHERE id = 2");
    other->Execute("DELETE FROM items WHERE id = 3");
    keyset->MoveNext();
    snapshot->MoveNext();
    EXPECT_EQ(keyset->Fields(text("name")).Value(), text("B!"));
    EXPECT_EQ(snapshot->Fields(text("name")).Value(), text("B"));
    keyset->MoveNext();  // the deleted row is skipped
    EXPECT_TRUE(keyset->EOF_());
    keyset->MovePrevious();
    keyset->Fields(text("name")).Value(text("B2"));  // edits the row as re-read: no conflict
    keyset->Update();
    EXPECT_EQ(name_of(2), "B2");
}

INSTANTIATE_TEST_SUITE_P(Providers, RecordsetEditingTest, ::testing::Values(ADO_TEST_PROVIDER));

}  // namespace ado_test
