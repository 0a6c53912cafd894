// Field_test.cpp: the kinds field values read as and the text forms written values are stored in, on both
// providers.
#include <gtest/gtest.h>

#include <cctype>
#include <limits>

#include "AdoFixture.h"
#include "common/Conversions.h"
#include "platform/ado/Recordset.h"
#include "tests/support/ScopedLocale.h"

namespace ado_test {
namespace {

using namespace ado;

class FieldTest : public AdoTest {
protected:
    void SetUp() override {
        AdoTest::SetUp();
        if (IsSkipped()) return;
        exec("CREATE TABLE kinds (id INTEGER PRIMARY KEY, i INTEGER, big BIGINT, small SMALLINT, "
             "d DOUBLE PRECISION, n NUMERIC(10,2), m MONEY, dt DATE, ts TIMESTAMP, t TIME, b BOOLEAN, "
             "s VARCHAR(10), z INTEGER)");
        exec("INSERT INTO kinds VALUES (1, 42, 5000000000, 7, 1.5, 2.25, 12.34, '2026-12-06', "
             "'2026-12-06 15:04:05', '15:04:05', TRUE, 'x', NULL)");
    }
};

}  // namespace

TEST_P(FieldTest, ValuesKeepTheirKind) {
    auto rs = open("SELECT * FROM kinds", adOpenStatic, adLockReadOnly);
    struct Case { const char* field; Variant expected; };
    const Case cases[] = {
        {"i", Variant(int32_t{42})},
        {"big", Variant(int64_t{5000000000})},
        {"small", is_pg() ? Variant(int16_t{7}) : Variant(int32_t{7})},  // PostgreSQL int2 is 16-bit
        {"d", Variant(1.5)},
        {"n", Variant(2.25)},
        {"m", Variant::currency_scaled(123400)},
        {"dt", Variant::date(vb::make_date_serial(2026, 12, 6))},
        {"ts", Variant::date(vb::make_date_serial(2026, 12, 6, 15, 4, 5))},
        {"t", Variant::date(vb::make_date_serial(1899, 12, 30, 15, 4, 5))},
        {"b", Variant(true)},
        {"s", Variant("x")},
        {"z", Variant::null()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        EXPECT_EQ(rs->Fields(Variant(c.field)).Value(), c.expected);
    }
    auto count = open("SELECT count(*) AS n FROM kinds", adOpenForwardOnly, adLockReadOnly);
    EXPECT_EQ(count->Fields(Variant("n")).Value(), Variant(int32_t{1}));  // fits 32 bits whatever its type
}

TEST_P(FieldTest, WrittenValuesAreConvertedToTheColumnKind) {
    struct Case { const char* field; Variant written; const char* stored_text; Variant read_back; };
    const Case cases[] = {
        {"dt", Variant("12/7/2026"), "2026-12-07", Variant::date(vb::make_date_serial(2026, 12, 7))},
        {"ts", Variant::date(vb::make_date_serial(2026, 12, 7, 8, 9, 10)), "2026-12-07 08:09:10",
         Variant::date(vb::make_date_serial(2026, 12, 7, 8, 9, 10))},
        {"ts", Variant("2026-12-08"), is_pg() ? "2026-12-08 00:00:00" : "2026-12-08",
         Variant::date(vb::make_date_serial(2026, 12, 8))},
        {"t", Variant("08:09:10"), "08:09:10", Variant::date(vb::make_date_serial(1899, 12, 30, 8, 9, 10))},
        {"i", Variant("17"), "17", Variant(int32_t{17})},
        {"d", Variant(int16_t{3}), nullptr, Variant(3.0)},
        {"b", Variant(false), nullptr, Variant(false)},
        {"m", Variant::currency_scaled(-15000), nullptr, Variant::currency_scaled(-15000)},
        {"s", Variant(2.5), "2.5", Variant("2.5")},
        {"z", Variant(), nullptr, Variant::null()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        auto rs = open("SELECT * FROM kinds", adOpenKeyset, adLockOptimistic);
        rs->Fields(Variant(c.field)).Value(c.written);
        rs->Update();
        if (c.stored_text) {
            EXPECT_EQ(scalar(std::string("SELECT CAST(") + c.field + " AS TEXT) FROM kinds"), Variant(c.stored_text));
        }
        auto check = open("SELECT * FROM kinds", adOpenStatic, adLockReadOnly);
        EXPECT_EQ(check->Fields(Variant(c.field)).Value(), c.read_back);
    }
    auto rs = open("SELECT * FROM kinds", adOpenStatic, adLockOptimistic);
    for (const char* field : {"i", "dt", "small"}) {
        SCOPED_TRACE(field);
        EXPECT_EQ(error_of([&] { rs->Fields(Variant(field)).Value(Variant("not a value")); }).number(),
                  kDbErrorsOccurred);
    }
}

// Currency is scaled in integers end to end. PostgreSQL money keeps cents, so its extremes are the currency
// extremes cut to two decimals; SQLite keeps the four decimals a REAL cannot hold as text in a blob.
TEST_P(FieldTest, CurrencyReadsBackExactlyAtTheEdgesOfItsRange) {
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    const int64_t top = is_pg() ? kMax - 7 : kMax;  // 922337203685477.58 or .5807
    const int64_t bottom = is_pg() ? kMin + 8 : kMin;
    struct Case { Variant written; Variant read_back; };
    const Case cases[] = {
        {Variant::currency_scaled(top), Variant::currency_scaled(top)},
        {Variant::currency_scaled(bottom), Variant::currency_scaled(bottom)},
        {Variant("90000000000000.01"), Variant::currency_scaled(900000000000000100)},
        {Variant(-12.5), Variant::currency_scaled(-125000)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(vb::to_text(c.read_back));
        auto rs = open("SELECT * FROM kinds", adOpenKeyset, adLockOptimistic);
        rs->Fields(Variant("m")).Value(c.written);
        rs->Update();
        EXPECT_EQ(open("SELECT m FROM kinds", adOpenStatic, adLockReadOnly)->Fields(Variant("m")).Value(),
                  c.read_back);
    }
    // Stored by SQL: exact on PostgreSQL (money is an integer of cents there); beyond the currency range
    // the field raises Overflow, as CCur would, instead of wrapping.
    if (is_pg()) {
        exec("UPDATE kinds SET m = 90000000000000.01");
        EXPECT_EQ(scalar("SELECT m FROM kinds"), Variant::currency_scaled(900000000000000100));
    }
    for (const char* stored : {"-5E+15", "1000000000000000"}) {
        SCOPED_TRACE(stored);
        exec(std::string("UPDATE kinds SET m = ") + stored);
        auto rs = open("SELECT m FROM kinds", adOpenStatic, adLockReadOnly);
        EXPECT_EQ(error_number([&] { rs->Fields(Variant("m")).Value(); }), kErrOverflow);
    }
    auto rs = open("SELECT * FROM kinds", adOpenKeyset, adLockOptimistic);
    EXPECT_EQ(error_number([&] { rs->Fields(Variant("m")).Value(Variant(-5e15)); }), kDbErrorsOccurred);
}

// Under a locale that writes "1,5" (the host may switch for its terminal forms) numbers still travel in
// the databases' own text forms: PostgreSQL sends and receives every value as text.
TEST_P(FieldTest, NumbersIgnoreTheProcessLocale) {
    const test_support::ScopedLocale comma(test_support::kCommaDecimal);
    if (!comma.ok()) GTEST_SKIP() << comma.why();
    auto rs = open("SELECT * FROM kinds", adOpenKeyset, adLockOptimistic);
    EXPECT_EQ(rs->Fields(Variant("d")).Value(), Variant(1.5));
    EXPECT_EQ(rs->Fields(Variant("n")).Value(), Variant(2.25));
    EXPECT_EQ(rs->Fields(Variant("m")).Value(), Variant::currency_scaled(123400));
    rs->Fields(Variant("d")).Value(Variant(-0.125));
    rs->Fields(Variant("n")).Value(Variant("1,234.5"));
    rs->Update();
    auto check = open("SELECT d, n, CAST(d AS TEXT) AS dt FROM kinds", adOpenStatic, adLockReadOnly);
    EXPECT_EQ(check->Fields(Variant("d")).Value(), Variant(-0.125));
    EXPECT_EQ(check->Fields(Variant("n")).Value(), Variant(1234.5));
    EXPECT_EQ(check->Fields(Variant("dt")).Value(), Variant("-0.125"));
}

// Names in SQL text are matched the same way in every locale: in Turkish, SQLite's declared type "time"
// would otherwise upper-case to "T\xDDME" and lose its kind, and "INSERT" would lower-case to "\xFDnsert" and
// no longer count as a data change, nor "SELECT" as a statement a cursor may stream.
TEST_P(FieldTest, SqlNamesIgnoreTheProcessLocale) {
    exec("CREATE TABLE lower_kinds (id integer primary key, t time, b " + std::string(is_pg() ? "boolean" : "bit") +
         ")");
    const test_support::ScopedLocale turkish(test_support::kTurkishCase);
    if (!turkish.ok()) GTEST_SKIP() << turkish.why();
    ASSERT_EQ(std::toupper('i'), 0xDD) << "the Turkish locale is not in effect";
    EXPECT_EQ(conn_->Execute("INSERT INTO lower_kinds VALUES (1, '15:04:05', TRUE)"), 1);
    EXPECT_EQ(conn_->Execute("\tINSERT INTO lower_kinds VALUES (2, '15:04:05', FALSE)"), 1);
    auto rs = open("SELECT t, b FROM lower_kinds ORDER BY id", adOpenForwardOnly, adLockReadOnly);
    EXPECT_EQ(rs->Fields(Variant("t")).Value(), Variant::date(vb::make_date_serial(1899, 12, 30, 15, 4, 5)));
    EXPECT_EQ(rs->Fields(Variant("b")).Value(), Variant(true));
}

INSTANTIATE_TEST_SUITE_P(Providers, FieldTest, ::testing::Values(ADO_TEST_PROVIDER));

}  // namespace ado_test
