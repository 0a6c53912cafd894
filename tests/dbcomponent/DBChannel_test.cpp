// DBChannel_test.cpp: cursor members, the error list and editing, on both providers.
#include "dbcomponent/DBChannel.h"

#include <functional>

#include "tests/dbcomponent/ChannelFixture.h"

namespace {

using DBChannelTest = ChannelTest;

TEST_P(DBChannelTest, FreshChannelRecordsEveryCursorOperation) {
    struct Case {
        const char* operation;
        std::function<void(DBChannel&)> call;
        int32_t number;
    };
    const Case cases[] = {
        {"TestCursor", [](DBChannel& c) { EXPECT_FALSE(c.TestCursor()); }, ado::adErrObjectClosed},
        {"RowCount", [](DBChannel& c) { EXPECT_EQ(c.RowCount(), 0); }, ado::adErrObjectClosed},
        {"Move next", [](DBChannel& c) { EXPECT_TRUE(c.Move("next").is_empty()); }, ado::adErrObjectClosed},
        {"CloseCursor", [](DBChannel& c) { c.CloseCursor(); }, ado::adErrObjectClosed},
        {"Add", [](DBChannel& c) { c.Add(); }, ado::adErrObjectClosed},
        {"Update", [](DBChannel& c) { c.Update(); }, ado::adErrObjectClosed},
        {"Delete", [](DBChannel& c) { c.Delete(); }, ado::adErrObjectClosed},
        {"Fields get", [](DBChannel& c) { EXPECT_TRUE(c.Fields(Variant("id")).is_empty()); }, ado::adErrItemNotFound},
        {"Fields put", [](DBChannel& c) { c.Fields(Variant("id"), Variant(int32_t{4})); }, ado::adErrItemNotFound},
        {"All", [](DBChannel& c) { EXPECT_EQ(c.All({"id"}), ""); }, ado::adErrObjectClosed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.operation);
        auto channel = connect_->Channel();
        EXPECT_EQ(channel->DError(), "");
        c.call(*channel);
        EXPECT_EQ(channel->DError(), ado_entry(c.number));
    }
}

TEST_P(DBChannelTest, FirstErrorStaysUntilErrClear) {
    auto channel = open("SELECT id FROM {t} ORDER BY id");
    channel->Fields(Variant("nosuchfield"));          // 3265
    channel->OpenCursor(db_->sql("SELECT id FROM {t}"), ado::adOpenStatic, ado::adLockReadOnly);   // 3705
    channel->Move("last");
    channel->Move("next");
    channel->Move("next");                            // 3021
    EXPECT_EQ(channel->DError(), ado_entry(ado::adErrItemNotFound));
    EXPECT_EQ(channel->DError(), ado_entry(ado::adErrItemNotFound)) << "DError must not consume the entry";
    channel->ErrClear();
    EXPECT_EQ(channel->DError(), "");
    channel->Move("next");
    EXPECT_EQ(channel->DError(), ado_entry(ado::adErrNoCurrentRecord));
}

TEST_P(DBChannelTest, MoveFollowsKeywordsExactly) {   // rows 1..3, the cursor starts on 2
    struct Case {
        const char* keyword;
        int32_t expected_id;
    };
    const Case cases[] = {{"next", 3},  {"prev", 1},  {"first", 1},    {"top", 1}, {"last", 3},
                          {"First", 2}, {"NEXT", 2}, {"sideways", 2}, {"", 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keyword);
        auto channel = open("SELECT id FROM {t} ORDER BY id");
        channel->Move("next");
        EXPECT_TRUE(channel->Move(c.keyword).is_empty());
        EXPECT_EQ(channel->Fields(Variant("id")), Variant(c.expected_id));
        EXPECT_EQ(channel->DError(), "");
    }
}

TEST_P(DBChannelTest, ForwardOnlyScanReportsEndsAndRefusedMoves) {
    auto channel = open("SELECT id FROM {t} ORDER BY id", ado::adOpenForwardOnly, ado::adLockReadOnly);
    EXPECT_EQ(channel->RowCount(), -1);
    EXPECT_EQ(channel->DError(), "");
    EXPECT_FALSE(channel->TestCursor());
    int32_t sum = 0;
    while (!channel->TestCursor()) {
        sum += channel->Fields(Variant("id")).as_int32();
        channel->Move("next");
    }
    EXPECT_EQ(sum, 6);
    EXPECT_EQ(channel->DError(), "");

    channel->Move("next");   // past the end
    EXPECT_EQ(channel->DError(), ado_entry(ado::adErrNoCurrentRecord));
    channel->ErrClear();
    channel->Move("prev");   // a forward-only cursor cannot go back: a provider error, negative number
    EXPECT_EQ(channel->DError(), ado_entry(ado::kDbCantFetchBackwards));
    EXPECT_EQ(channel->DError().rfind('-', 0), 0u);
}

TEST_P(DBChannelTest, TestCursorIsTrueOnEmptyResult) {
    auto channel = open("SELECT id FROM {t} WHERE id > 100");
    EXPECT_TRUE(channel->TestCursor());
    EXPECT_EQ(channel->RowCount(), 0);
    EXPECT_EQ(channel->DError(), "");
    channel->Move("first");   // no record to go to
    EXPECT_EQ(channel->DError(), ado_entry(ado::adErrNoCurrentRecord));
}

TEST_P(DBChannelTest, OpenWhileOpenIsRefusedAndCloseAllowsReopen) {
    auto channel = open("SELECT id FROM {t} ORDER BY id");
    channel->Move("last");
    channel->OpenCursor(db_->sql("SELECT name FROM {t}"), ado::adOpenStatic, ado::adLockReadOnly);
    EXPECT_EQ(channel->DError(), ado_entry(ado::adErrObjectOpen));
    EXPECT_EQ(channel->Fields(Variant("id")), Variant(int32_t{3})) << "the open cursor is left as it was";
    channel->ErrClear();
    channel->CloseCursor();
    channel->OpenCursor(db_->sql("SELECT name FROM {t} ORDER BY id"), ado::adOpenStatic, ado::adLockReadOnly);
    EXPECT_EQ(channel->DError(), "");
    EXPECT_EQ(channel->Fields(Variant("name")), Variant("alpha"));
    EXPECT_EQ(channel->RowCount(), 3);
}

TEST_P(DBChannelTest, FailingStatementInOpenCursorIsRecordedWithProviderNumber) {
    auto channel = connect_->Channel();
    channel->OpenCursor(db_->sql("SELECT nosuchcolumn FROM {t}"), ado::adOpenStatic, ado::adLockReadOnly);
    const std::string error = channel->DError();
    EXPECT_EQ(error.rfind(entry_prefix(ado::kDbErrorsInCommand), 0), 0u) << error;
    EXPECT_GT(error.size(), entry_prefix(ado::kDbErrorsInCommand).size()) << "the database's message is kept";
    EXPECT_FALSE(channel->TestCursor()) << "the cursor stays closed";
}

TEST_P(DBChannelTest, FieldsKeepTheKindTheDatabaseGave) {
    auto channel = open("SELECT id, name, amount, born FROM {t} ORDER BY id");
    EXPECT_EQ(channel->Fields(Variant("id")), Variant(int32_t{1}));
    EXPECT_EQ(channel->Fields(Variant("NAME")), Variant("alpha")) << "names are matched without case";
    EXPECT_EQ(channel->Fields(Variant(int16_t{2})), Variant(1.5)) << "a zero-based ordinal";
    EXPECT_EQ(channel->Fields(Variant(int32_t{3})), Variant::date(vb::make_date_serial(2020, 1, 2)));
    channel->Move("next");
    EXPECT_TRUE(channel->Fields(Variant("amount")).is_null());
    EXPECT_TRUE(channel->Fields(Variant("born")).is_null());
    EXPECT_EQ(channel->DError(), "");
    channel->Fields(Variant(int32_t{4}));   // past the last column
    EXPECT_EQ(channel->DError(), ado_entry(ado::adErrItemNotFound));
}

TEST_P(DBChannelTest, RowCountOverflowIsRecordedAsVbOverflow) {
    auto setup = connect_->Channel();
    // The statement runs, but its count does not fit the 16-bit result: Overflow is recorded.
    EXPECT_EQ(setup->Direct(db_->sql("INSERT INTO {t} (id) WITH RECURSIVE c(x) AS (SELECT 10 UNION ALL "
                                     "SELECT x + 1 FROM c WHERE x < 40009) SELECT x FROM c")),
              0);
    EXPECT_EQ(setup->DError(), vb::signed_text(int64_t{6}) + kStx + "Overflow");
    EXPECT_EQ(count_rows(), 40003);

    auto channel = open("SELECT id FROM {t}");
    EXPECT_EQ(channel->RowCount(), 0);
    EXPECT_EQ(channel->DError(), " 6\x02Overflow");
}

TEST_P(DBChannelTest, DirectReportsAffectedRowsAndLeavesTheCursorAlone) {
    auto channel = open("SELECT id FROM {t} ORDER BY id");
    channel->Move("next");
    struct Case {
        const char* sql;
        int16_t affected;
    };
    const Case cases[] = {
        {"INSERT INTO {t} (id, name) VALUES (10, 'x'), (11, 'y')", 2},
        {"UPDATE {t} SET name = 'z' WHERE id > 100", 0},
        {"DELETE FROM {t} WHERE id >= 10", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        EXPECT_EQ(channel->Direct(db_->sql(c.sql)), c.affected);
        EXPECT_EQ(channel->DError(), "");
    }
    EXPECT_EQ(channel->Fields(Variant("id")), Variant(int32_t{2}));

    EXPECT_EQ(channel->Direct("THIS IS NOT SQL"), 0);
    EXPECT_EQ(channel->DError().rfind(entry_prefix(ado::kDbErrorsInCommand), 0), 0u) << channel->DError();
    for (const char* empty : {"", " \n\t"}) {
        SCOPED_TRACE(testing::PrintToString(empty));
        channel->ErrClear();
        EXPECT_EQ(channel->Direct(empty), 0);
        EXPECT_EQ(channel->DError(), ado_entry(ado::kDbNoCommand));
    }
}

TEST_P(DBChannelTest, AddFieldsUpdateWritesANewRecord) {
    auto channel = open("SELECT id, name, amount FROM {t} ORDER BY id");
    channel->Add();
    channel->Fields(Variant("id"), Variant(int32_t{7}));
    channel->Fields(Variant("name"), Variant("delta"));
    channel->Fields(Variant("amount"), Variant(0.25));
    channel->Update();
    EXPECT_EQ(channel->DError(), "");
    EXPECT_EQ(channel->Fields(Variant("name")), Variant("delta")) << "the added record stays current";
    EXPECT_EQ(scalar("SELECT name FROM {t} WHERE id = 7"), Variant("delta"));
    EXPECT_EQ(scalar("SELECT amount FROM {t} WHERE id = 7"), Variant(0.25));
}

TEST_P(DBChannelTest, UpdateAndDeleteChangeTheCurrentRecord) {
    auto channel = open("SELECT id, name FROM {t} ORDER BY id");
    channel->Move("next");
    channel->Fields(Variant("name"), Variant("BETA"));
    channel->Update();
    channel->Move("next");
    channel->Delete();
    EXPECT_EQ(channel->DError(), "");
    EXPECT_EQ(scalar("SELECT name FROM {t} WHERE id = 2"), Variant("BETA"));
    EXPECT_EQ(count_rows("id = 3"), 0);
    channel->Fields(Variant("name"));   // the deleted record has no value any more
    EXPECT_EQ(channel->DError().substr(0, 6), entry_prefix(ado::adErrNoCurrentRecord));
}

TEST_P(DBChannelTest, EditsOnAReadOnlyCursorAreRefused) {
    const std::string refused = vb::signed_text(int64_t{ado::adErrFeatureNotAvailable}) + kStx + ado::kReadOnlyText;
    struct Case {
        const char* operation;
        std::function<void(DBChannel&)> call;
    };
    const Case cases[] = {
        {"Add", [](DBChannel& c) { c.Add(); }},
        {"Fields put", [](DBChannel& c) { c.Fields(Variant("name"), Variant("no")); }},
        {"Delete", [](DBChannel& c) { c.Delete(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.operation);
        auto channel = open("SELECT id, name FROM {t} ORDER BY id", ado::adOpenStatic, ado::adLockReadOnly);
        c.call(*channel);
        EXPECT_EQ(channel->DError(), refused);
    }
    EXPECT_EQ(count_rows(), 3);
    EXPECT_EQ(scalar("SELECT name FROM {t} WHERE id = 1"), Variant("alpha"));
}

TEST_P(DBChannelTest, RefusedUpdateLeavesTheRowAsItWas) {
    auto channel = open("SELECT id, name FROM {t} ORDER BY id");
    channel->Fields(Variant("id"), Variant(int32_t{2}));   // collides with the primary key of row 2
    channel->Update();
    EXPECT_EQ(channel->DError().rfind(entry_prefix(ado::kDbIntegrityViolation), 0), 0u) << channel->DError();
    EXPECT_EQ(scalar("SELECT name FROM {t} WHERE id = 1"), Variant("alpha"));
    EXPECT_EQ(scalar("SELECT name FROM {t} WHERE id = 2"), Variant("beta"));
}

TEST_P(DBChannelTest, ReleasingAChannelWithAnOpenCursorKeepsOthersWorking) {
    auto first = open("SELECT id FROM {t} ORDER BY id", ado::adOpenForwardOnly, ado::adLockReadOnly);
    first->Move("next");
    first.reset();
    auto second = open("SELECT id FROM {t} ORDER BY id", ado::adOpenKeyset, ado::adLockOptimistic);
    second->Fields(Variant("id"), Variant(int32_t{9}));
    second->Update();
    EXPECT_EQ(second->DError(), "");
    EXPECT_EQ(scalar("SELECT id FROM {t} ORDER BY id DESC"), Variant(int32_t{9}));
}

TEST_P(DBChannelTest, NamesAreResolvedAgainForEachCursor) {
    auto channel = open("SELECT id, name FROM {t} ORDER BY id");
    EXPECT_EQ(channel->Fields(Variant("name")), Variant("alpha"));
    channel->CloseCursor();
    channel->OpenCursor(db_->sql("SELECT name, amount, id FROM {t} ORDER BY id DESC"), ado::adOpenStatic,
                        ado::adLockReadOnly);
    EXPECT_EQ(channel->Fields(Variant("name")), Variant("gamma"));
    EXPECT_EQ(channel->Fields(Variant("id")), Variant(int32_t{3}));
    EXPECT_EQ(channel->All({"id", "name"}), std::string("3") + kStx + "gamma" + kStx + "2" + kStx + "beta" +
                                                kStx + "1" + kStx + "alpha");
    EXPECT_EQ(channel->DError(), "");

    // A cursor closed underneath the channel (its connection was closed) knows no names any more.
    channel->Move("first");
    std::make_shared<DBConnect>().reset();
    channel->Fields(Variant("name"));
    EXPECT_EQ(channel->DError(), ado_entry(ado::adErrItemNotFound));
}

INSTANTIATE_TEST_SUITE_P(Providers, DBChannelTest, ::testing::Values("SQLite", "PostgreSQL"),
                         [](const auto& info) { return provider_label(info.param); });

}  // namespace
