// iRecordSet_test.cpp: the client-side buffer against a scripted gateway (cells of each type letter, rows
// by the names sent, the overrun error, malformed replies, what stays local and what goes to the gateway),
// the trace list, and GetNext.
#include <gtest/gtest.h>

#include "common/Conversions.h"
#include "tests/client/ClientTestSupport.h"
#include "tests/client/FakeGateway.h"
#include "tests/support/ErrorOf.h"

namespace {

// Answers "buff" with `rows`, "getcursor" with "ok" and "n42", "rowcount" with "ok" and " 9".
class BufferTest : public ::testing::Test {
protected:
    void SetUp() override {
        connection_ = started_connection(gateway_.port());
        rs_ = connection_->CrOpen("SELECT a, b FROM t", tolvix::adOpenStatic, tolvix::adLockReadOnly);
        ASSERT_TRUE(rs_->IPOnLine());
    }
    int requests_named(const std::string& word) {
        int n = 0;
        for (const FakeRequest& r : gateway_.requests()) n += r.plain.rfind(word, 0) == 0;
        return n;
    }

    std::string rows_;
    FakeGateway gateway_{[this](FakeConnection& c, const FakeRequest& r) -> FakeGateway::Answer {
        if (r.plain.rfind("buff", 0) == 0) return ok_then(c, {rows_});
        if (r.plain.rfind("getcursor", 0) == 0) return ok_then(c, {"n42"});
        if (r.plain.rfind("rowcount", 0) == 0) return ok_then(c, {" 9"});
        return ok_then(c);
    }};
    std::unique_ptr<tolvix::iConnection> connection_;
    std::shared_ptr<tolvix::iRecordSet> rs_;
};

}  // namespace

TEST_F(BufferTest, CellsTakeTheirTypeFromTheirLetterAndReadLocallyByName) {
    rows_ = join({"sx", "n1.5", "zq", "sy", "i7", "d12/6/2026 3:04:05 PM", "n", "z"});
    rs_->Buffer({"a", "b"});
    const int before = static_cast<int>(gateway_.requests().size());
    struct Row { Variant a, b; };
    const Row expected[] = {{Variant("x"), Variant(1.5)},
                            {Variant::null(), Variant("y")},
                            {Variant(int32_t{7}), Variant::date(vb::make_date_serial(2026, 12, 6))},
                            {Variant(""), Variant("")}};   // a letter alone is empty text, whatever the letter
    rs_->MoveFirst();
    for (const Row& row : expected) {
        EXPECT_FALSE(rs_->cEOF());
        EXPECT_EQ(rs_->Fields(Variant("a")), row.a);
        EXPECT_EQ(rs_->Fields(Variant("b")), row.b);
        EXPECT_EQ(rs_->Fields(Variant("B")), Variant());   // names match exactly
        rs_->MoveNext();
    }
    EXPECT_TRUE(rs_->cEOF());
    rs_->MoveFirst();
    EXPECT_TRUE(rs_->pcEOF()) << "only the application clears the end flag";
    rs_->pcEOF(false);
    rs_->MoveLast();
    EXPECT_EQ(rs_->Fields(Variant("a")), Variant(""));
    EXPECT_EQ(gateway_.requests().size(), static_cast<size_t>(before)) << "buffered moves and reads stay local";

    // By position, and the count, still ask the gateway.
    EXPECT_EQ(rs_->Fields(Variant(int32_t{1})), Variant("42"));
    EXPECT_EQ(rs_->RowCount(), 9);
    EXPECT_EQ(requests_named("getcursor"), 1);
}

TEST_F(BufferTest, NamesLeftEmptyBeforeTheLastAreNotCountedAsColumns) {
    rows_ = join({"s1", "s2", "s3", "s4"});
    rs_->Buffer({"a", "", "b"});
    EXPECT_EQ(gateway_.requests().back().plain, join({"buff", "a", "b"}));
    rs_->MoveNext();
    EXPECT_EQ(rs_->Fields(Variant("a")), Variant("3"));
    EXPECT_EQ(rs_->Fields(Variant("b")), Variant("4"));
}

TEST_F(BufferTest, EmptyReplySetsTheEndFlag) {
    rows_ = "";
    rs_->Buffer({"a"});
    EXPECT_TRUE(rs_->cEOF());
    EXPECT_EQ(rs_->Fields(Variant("a")), Variant()) << "an unwritten cell";
}

TEST_F(BufferTest, MalformedRepliesRaiseInvalidArgument) {
    for (const std::string& rows : {join({"s1", "", "s3"}), join({"s1", "\\@"}), join({"s1", "s2", "s3"})}) {
        SCOPED_TRACE(rows);
        rows_ = rows;
        EXPECT_EQ(error_number([&] { rs_->Buffer({"a", "b"}); }), 5);
    }
}

TEST_F(BufferTest, RowsBeyondTheBufferRaiseTheOverrunAndKeepWhatWasRead) {
    std::string rows;
    for (int i = 1; i <= 9000; ++i) rows += (i > 1 ? kStx : "") + "i" + std::to_string(i);
    rows_ = rows;
    const ComError overrun = error_of([&] { rs_->Buffer({"a"}); });
    EXPECT_EQ(overrun.number(), -5656);
    EXPECT_EQ(overrun.source(), "NerloModule");
    EXPECT_EQ(overrun.description(), "Buffer overrun (>10000 records");
    // Not buffered: reads still go to the gateway.
    EXPECT_EQ(rs_->Fields(Variant("a")), Variant("42"));

    rows_ = join({"i1", "i2"});
    rs_->Buffer({"a"});
    rs_->MoveLast();
    EXPECT_EQ(rs_->Fields(Variant("a")), Variant(int32_t{2}));
}

TEST(TraceList, ReceivedLinesAlwaysSentAndGotOnlyWithSDebug) {
    FakeGateway gateway([](FakeConnection& c, const FakeRequest&) { return ok_then(c, {" 3"}); });
    auto connection = started_connection(gateway.port());
    connection->Direct("UPDATE t SET a = 1");
    std::vector<std::string> lines = tolvix::frmDebug::instance().lbDebug();
    ASSERT_FALSE(lines.empty());
    // "ok" and " 3" came in one read: the second reply starts from the backlog.
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("Recieved: ", 0), 0u);
    EXPECT_EQ(lines[0].size(), 10u + 100u) << "the whole receive buffer, padding included";
    EXPECT_EQ(lines[1].rfind("Got from buffer: 2" + kStx, 0), 0u) << lines[1];

    connection->SDebug(true);
    tolvix::frmDebug::instance().tbReset_Click();
    connection->Direct("UPDATE t SET a = 2");
    lines = tolvix::frmDebug::instance().lbDebug();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Got:  3");    // newest first at the top
    EXPECT_EQ(lines[1], "Got: ok");
    EXPECT_EQ(lines[2].rfind("Sendt: 1\x02 10\x02", 0), 0u);
    EXPECT_NE(lines[2].find(join({"direct", "UPDATE t SET a = 2"})), std::string::npos);
    EXPECT_EQ(lines[3].rfind("Recieved: ", 0), 0u);

    // Shown: every new line goes to the sink as it arrives; the list keeps its bound.
    std::vector<std::string> shown;
    tolvix::frmDebug& window = tolvix::frmDebug::instance();
    window.set_sink([&](const std::string& line) { shown.push_back(line); });
    window.Show();
    window.set_max_lines(3);
    connection->Direct("UPDATE t SET a = 3");
    EXPECT_EQ(window.lbDebug().size(), 3u);
    EXPECT_EQ(shown.back(), "Got:  3");
    EXPECT_EQ(window.lbDebug().front(), "Got:  3");
    window.set_max_lines(tolvix::frmDebug::kDefaultMaxLines);
    window.set_sink(nullptr);
}

TEST(General, GetNextTakesOneTokenOffTheText) {
    tolvix::iConnection connection;
    connection.Start();
    struct Case { std::string text, sep, token, rest; };
    const Case cases[] = {{"a" + kStx + "b", "", "a", "b"},
                          {"\\@", "", "", ""},
                          {"abc", ",", "abc", ""},
                          {kStx + "b" + kStx + "c", "", "", "b" + kStx + "c"},
                          {"", "", "", ""},
                          {"x, y", ", ", "x", "y"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string text = c.text;
        EXPECT_EQ(connection.GetNext(text, c.sep), c.token);
        EXPECT_EQ(text, c.rest);
    }
    EXPECT_EQ(tolvix::escaped("a\x02\\b\n"), "a\\x02\\\\b\\x0A");
}
