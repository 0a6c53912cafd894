// DBChannelAll_test.cpp: the bulk read All and the text form of its values, on both providers.
#include "dbcomponent/DBChannel.h"

#include <algorithm>
#include <initializer_list>
#include <vector>

#include "tests/dbcomponent/ChannelFixture.h"

namespace {

using DBChannelAllTest = ChannelTest;

std::string joined(std::initializer_list<std::string> cells) {
    std::string out;
    for (const std::string& cell : cells) {
        if (&cell != cells.begin()) out += kStx;
        out += cell;
    }
    return out;
}

TEST_P(DBChannelAllTest, ReadsFromTheCurrentRecordToTheEnd) {
    struct Case {
        const char* label;
        int moves_before;                 // Move("next") calls before All
        std::vector<std::string> names;
        std::string expected;
    };
    const Case cases[] = {
        {"all rows, empty middle name skipped", 0, {"id", "", "name"},
         joined({"1", "alpha", "2", "beta", "3", "gamma"})},
        {"from the second record", 1, {"name"}, joined({"beta", "gamma"})},
        {"numbers in their default text form", 0, {"amount"}, joined({"1.5", "", "-2.25"})},
        {"a null first value leaves the result starting with the separator", 1, {"amount", "id"},
         joined({"", "2", "-2.25", "3"})},
        {"at the end", 3, {"id"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        auto channel = open("SELECT id, name, amount FROM {t} ORDER BY id");
        for (int i = 0; i < c.moves_before; ++i) channel->Move("next");
        EXPECT_EQ(channel->All(c.names), c.expected);
        EXPECT_EQ(channel->DError(), "");
        EXPECT_TRUE(channel->TestCursor()) << "a complete read leaves the cursor at its end";
    }
}

TEST_P(DBChannelAllTest, DatesAreWrittenInTheirTrimmedTextForm) {
    auto channel = open("SELECT born FROM {t} ORDER BY id");
    const std::string first = vb::trim(vb::date_text(vb::make_date_serial(2020, 1, 2)));
    const std::string third = vb::trim(vb::date_text(vb::make_date_serial(1999, 12, 31)));
    EXPECT_EQ(channel->All({"born"}), joined({first, "", third}));
    EXPECT_EQ(channel->DError(), "");
}

TEST_P(DBChannelAllTest, FailureReturnsThePartialTextAndKeepsThePosition) {
    struct Case {
        const char* label;
        std::vector<std::string> names;
        std::string expected;
        int32_t error;
    };
    const Case cases[] = {
        {"unknown second name", {"id", "nosuch"}, std::string(1, kStx) + "1", ado::adErrItemNotFound},
        {"empty first name is still looked up", {"", "id"}, "", ado::adErrItemNotFound},
        {"unknown first name", {"nosuch"}, "", ado::adErrItemNotFound},
        {"thirteen names", std::vector<std::string>(13, "id"), "", 450},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        auto channel = open("SELECT id, name FROM {t} ORDER BY id");
        EXPECT_EQ(channel->All(c.names), c.expected);
        EXPECT_EQ(channel->DError().substr(0, entry_prefix(c.error).size()), entry_prefix(c.error));
        channel->ErrClear();
        EXPECT_EQ(channel->Fields(Variant("id")), Variant(int32_t{1})) << "the cursor stays on the first record";
    }
}

TEST_P(DBChannelAllTest, NullFirstValueThenFailureKeepsTheLeadingSeparator) {
    auto channel = open("SELECT id, amount FROM {t} ORDER BY id");
    channel->Move("next");   // amount is Null here
    EXPECT_EQ(channel->All({"amount", "nosuch"}), std::string(1, kStx));
    EXPECT_EQ(channel->DError(), ado_entry(ado::adErrItemNotFound));
}

TEST_P(DBChannelAllTest, ForwardOnlyScanOfManyRows) {
    auto setup = connect_->Channel();
    setup->Direct(db_->sql("INSERT INTO {t} (id, name) WITH RECURSIVE c(x) AS (SELECT 10 UNION ALL "
                           "SELECT x + 1 FROM c WHERE x < 2009) SELECT x, 'n' FROM c"));
    ASSERT_EQ(setup->DError(), "");
    auto channel = open("SELECT id, name FROM {t} WHERE id >= 10 ORDER BY id", ado::adOpenForwardOnly,
                        ado::adLockReadOnly);
    const std::string text = channel->All({"id", "name"});
    EXPECT_EQ(channel->DError(), "");
    EXPECT_EQ(std::count(text.begin(), text.end(), kStx), 2 * 2000 - 1);
    EXPECT_EQ(text.substr(0, 4), joined({"10", "n"}));
    EXPECT_EQ(text.substr(text.size() - 6), joined({"2009", "n"}));
}

// The bound of All for one test; the process-wide value comes back afterwards.
class AllLimit {
public:
    explicit AllLimit(size_t bytes) : saved_(DBChannel::all_limit()) { DBChannel::set_all_limit(bytes); }
    ~AllLimit() { DBChannel::set_all_limit(saved_); }

private:
    size_t saved_;
};

TEST_P(DBChannelAllTest, TextStopsAtTheBoundWithOutOfMemoryAndTheValuesReadSoFar) {
    const AllLimit limit(1000);
    // Far more rows than the bound holds, streamed by a forward-only cursor, as an endless result would be.
    auto channel = open("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 100000) "
                        "SELECT x FROM c",
                        ado::adOpenForwardOnly, ado::adLockReadOnly);
    std::string expected;   // whole values only, each after its separator: an interrupted read
    int32_t next = 1;
    for (std::string cell; expected.size() + (cell = kStx + std::to_string(next)).size() <= 1000; ++next)
        expected += cell;
    EXPECT_EQ(channel->All({"x"}), expected);
    EXPECT_EQ(channel->DError(), " 7" + std::string(1, kStx) + "Out of memory");
    channel->ErrClear();
    EXPECT_EQ(channel->Fields(Variant("x")), Variant(next)) << "the cursor stays on the record that did not fit";
}

INSTANTIATE_TEST_SUITE_P(Providers, DBChannelAllTest, ::testing::Values("SQLite", "PostgreSQL"),
                         [](const auto& info) { return provider_label(info.param); });

}  // namespace
