// Conversions_test.cpp: values to text (CStr) and to numbers (CInt, CLng, 64-bit, CDbl, CCur, CBool).
#include "common/Conversions.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>

#include "tests/common/ConversionsTestSupport.h"
#include "tests/support/ScopedLocale.h"

using namespace vb;

TEST(Conversions, DoubleTextHasFifteenDigitsAndSwitchesToScientific) {
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {
        {1.5, "1.5"}, {437.324, "437.324"}, {100, "100"}, {-0.5, "-0.5"}, {1.0 / 3, "0.333333333333333"},
        {2.0 / 3, "0.666666666666667"}, {0.1 + 0.2, "0.3"}, {1.0 / 30, "3.33333333333333E-02"},
        {3.141592653589793, "3.14159265358979"}, {1234.567890123456789, "1234.56789012346"}, {1e8, "100000000"},
        {999999999999999, "999999999999999"}, {1e15, "1E+15"}, {1200000000000000, "1.2E+15"},
        {1.234e16, "1.234E+16"}, {1e20, "1E+20"}, {-1e20, "-1E+20"},
        {123456789012345678.0, "1.23456789012346E+17"}, {0.00001, "0.00001"}, {5.6789e-11, "0.000000000056789"},
        {5.6789e-12, "5.6789E-12"}, {1e-100, "1E-100"}, {static_cast<double>(0.1f), "0.100000001490116"},
        {-0.0, "0"}, {std::numeric_limits<double>::infinity(), "1.#INF"},
        // Exact ties in the 15th digit go away from zero, and may carry into a new digit.
        {1234567890123.125, "1234567890123.13"}, {-1234567890123.125, "-1234567890123.13"},
        {999999999999999.5, "1E+15"},
        // Subnormal values keep 15 significant digits although their shortest round-trip form is shorter.
        {std::numeric_limits<double>::denorm_min(), "4.94065645841247E-324"},
        {-2 * std::numeric_limits<double>::denorm_min(), "-9.88131291682493E-324"},
        {std::nextafter(std::numeric_limits<double>::min(), 0.0), "2.2250738585072E-308"}, {1e-310, "9.99999999999997E-311"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(double_text(c.value), c.text);
        EXPECT_EQ(to_text(Variant(c.value)), c.text);
    }
}

// The 15 leading digits of |value| from its exact expansion, rounded half up, read back as a double.
double fifteen_digits_exactly(double value) {
    char exact[1000];
    std::snprintf(exact, sizeof exact, "%.780e", std::fabs(value));  // glibc prints the exact expansion
    std::string digits = std::string(1, exact[0]) + std::string(exact + 2, 15);
    const char* e = std::strchr(exact, 'e');
    int exponent = std::atoi(e + 1);
    if (digits[15] >= '5') {
        int k = 14;
        while (k >= 0 && digits[k] == '9') digits[k--] = '0';
        if (k < 0) {
            digits.insert(digits.begin(), '1');
            ++exponent;
        } else {
            ++digits[k];
        }
    }
    digits.resize(15);
    const std::string text = digits + "e" + std::to_string(exponent - 14);
    double out = 0;
    std::from_chars(text.data(), text.data() + text.size(), out);
    return out;
}

TEST(Conversions, DoubleTextRoundsLikeTheExactExpansion) {
    // Exact binary fractions with 16 or more digits hit ties at the 15th digit; their neighbours are
    // a hair off a tie and must not be rounded as one.
    std::mt19937_64 random(20261206);
    for (int i = 0; i < 4000; ++i) {
        const double base = std::ldexp(static_cast<double>(random() >> 11), -static_cast<int>(random() % 64));
        for (double value : {base, std::nextafter(base, 0.0), std::nextafter(base, INFINITY), -base}) {
            if (value == 0) continue;
            const std::string text = double_text(value);
            SCOPED_TRACE(text);
            double printed = 0;
            std::from_chars(text.data() + (value < 0 ? 1 : 0), text.data() + text.size(), printed);
            ASSERT_EQ(printed, fifteen_digits_exactly(value));
        }
    }
}

TEST(Conversions, ToTextOfEachKind) {
    struct Case {
        Variant value;
        const char* text;
        int error;
    };
    const Case cases[] = {
        {Variant(), "", 0}, {Variant::null(), "", kErrInvalidNull}, {Variant(true), "True", 0},
        {Variant(false), "False", 0}, {Variant(int16_t{-32768}), "-32768", 0},
        {Variant(int32_t{2147483647}), "2147483647", 0},
        {Variant(std::numeric_limits<int64_t>::min()), "-9223372036854775808", 0},
        {Variant::currency_scaled(15000), "1.5", 0}, {Variant::currency_scaled(9), "0.0009", 0},
        {Variant::currency_scaled(-9), "-0.0009", 0}, {Variant::currency_scaled(-1230000), "-123", 0},
        {Variant::currency_scaled(std::numeric_limits<int64_t>::max()), "922337203685477.5807", 0},
        {Variant::currency_scaled(std::numeric_limits<int64_t>::min()), "-922337203685477.5808", 0},
        {Variant::date(46362.627835648), "12/6/2026 3:04:05 PM", 0}, {Variant::date(3000000), "", kErrOverflow},
        {Variant(" text unchanged "), " text unchanged ", 0},
        {Variant(Variant::ObjectRef{}), "", kErrTypeMismatch},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string text;
        EXPECT_EQ(error_number([&] { text = to_text(c.value); }), c.error);
        if (c.error == 0) {
            EXPECT_EQ(text, c.text);
        }
    }
}

struct WholeCase {
    Variant input;
    int64_t expected;
    int error;  // 0, or the VB error number raised instead
};

template <class Convert>
void check_whole(const std::vector<WholeCase>& cases, Convert convert) {
    for (const WholeCase& c : cases) {
        SCOPED_TRACE(describe(c.input));
        int64_t got = 0;
        EXPECT_EQ(error_number([&] { got = convert(c.input); }), c.error);
        if (c.error == 0) {
            EXPECT_EQ(got, c.expected);
        }
    }
}

TEST(Conversions, Int16RoundsHalfToEvenAndChecksRange) {
    check_whole(
        {
            {Variant(0.4), 0, 0},           {Variant(0.5), 0, 0},           {Variant(0.6), 1, 0},
            {Variant(1.5), 2, 0},           {Variant(2.5), 2, 0},           {Variant(3.5), 4, 0},
            {Variant(-0.5), 0, 0},          {Variant(-1.5), -2, 0},         {Variant(-2.5), -2, 0},
            {Variant(2345.5678), 2346, 0},  {Variant(32767.49), 32767, 0},  {Variant(32767.5), 0, 6},
            {Variant(-32768.5), -32768, 0}, {Variant(-32768.51), 0, 6},     {Variant(NAN), 0, 6},
            {Variant("32768"), 0, 6},       {Variant("-32769"), 0, 6},      {Variant("-32768.5"), -32768, 0},
            {Variant(true), -1, 0},         {Variant(false), 0, 0},         {Variant(), 0, 0},
            {Variant::null(), 0, 94},       {Variant(int32_t{40000}), 0, 6},
            {Variant::currency_scaled(25000), 2, 0},    // 2.5: to even
            {Variant::currency_scaled(-35000), -4, 0},  // -3.5
            {Variant::currency_scaled(15001), 2, 0},    {Variant::currency_scaled(-14999), -1, 0},
            {Variant::date(46362.5), 0, 6},             {Variant::date(1.5), 2, 0},
            // The text forms CDbl and CInt accept.
            {Variant(" 12 "), 12, 0},       {Variant("+12"), 12, 0},        {Variant("12+"), 12, 0},
            {Variant("-12"), -12, 0},       {Variant("12-"), -12, 0},       {Variant("(12)"), -12, 0},
            {Variant("- 12"), -12, 0},      {Variant("1,234"), 1234, 0},    {Variant("$1,234"), 1234, 0},
            {Variant("1,234.5"), 1234, 0},  {Variant("1.5e3"), 1500, 0},    {Variant("1E+03"), 1000, 0},
            {Variant("\t7\t"), 7, 0},       {Variant("&H10"), 16, 0},       {Variant("&O17"), 15, 0},
            {Variant("&HFFFF"), -1, 0},     {Variant("&H10000"), 0, 6},     {Variant("2.5"), 2, 0},
            {Variant("0x10"), 0, 13},       {Variant("1 2"), 0, 13},        {Variant("12abc"), 0, 13},
            {Variant("abc"), 0, 13},        {Variant(""), 0, 13},           {Variant(" "), 0, 13},
            {Variant("+ +12"), 0, 13},      {Variant("1.2.3"), 0, 13},      {Variant("(-12)"), 0, 13},
            {Variant("(12"), 0, 13},        {Variant(",12"), 0, 13},        {Variant("1e"), 0, 13},
            {Variant("&H"), 0, 13},         {Variant("&HG"), 0, 13},        {Variant("."), 0, 13},
        },
        [](const Variant& v) { return to_int16(v); });
}

TEST(Conversions, Int32AndInt64ConvertExactly) {
    check_whole(
        {
            {Variant(25427.45), 25427, 0},
            {Variant(25427.55), 25428, 0},
            {Variant("2147483648"), 0, 6},
            {Variant("-2147483648"), -2147483648LL, 0},
            {Variant("&h0abcdef"), 11259375, 0},
            {Variant("&HFFFF"), 65535, 0},
            {Variant("&HFFFFFFFF"), -1, 0},
            {Variant(int64_t{1} << 31), 0, 6},
            {Variant::date(46362.5), 46362, 0},
            {Variant::date(46363.5), 46364, 0},
        },
        [](const Variant& v) { return to_int32(v); });
    check_whole(
        {
            {Variant("9223372036854775807"), std::numeric_limits<int64_t>::max(), 0},
            {Variant("-9223372036854775808"), std::numeric_limits<int64_t>::min(), 0},
            {Variant("9223372036854775808"), 0, 6},
            {Variant("9223372036854775807.5"), 0, 6},
            {Variant("12345678901234567.5"), 12345678901234568, 0},
            {Variant("12345678901234568.5"), 12345678901234568, 0},
            {Variant("1,234,567,890,123,456,789"), 1234567890123456789, 0},
            {Variant("1e18"), 1000000000000000000, 0},
            {Variant("1e19"), 0, 6},
            {Variant("1e-99999999999"), 0, 0},
            {Variant("0.000000000000000000000000000006"), 0, 0},
            {Variant("&HFFFFFFFFFFFFFFFF"), -1, 0},
            {Variant("&H10000000000000000"), 0, 6},
            {Variant(std::numeric_limits<int64_t>::max()), std::numeric_limits<int64_t>::max(), 0},
            {Variant::currency_scaled(std::numeric_limits<int64_t>::max()), 922337203685478, 0},
            {Variant::currency_scaled(std::numeric_limits<int64_t>::min()), -922337203685478, 0},
            {Variant(9223372036854775808.0), 0, 6},
            {Variant(-9223372036854775808.0), std::numeric_limits<int64_t>::min(), 0},
        },
        [](const Variant& v) { return to_int64(v); });
}

TEST(Conversions, DoubleFromEachKind) {
    struct Case {
        Variant input;
        double expected;
        int error;
    };
    const Case cases[] = {
        {Variant("1,234.5"), 1234.5, 0}, {Variant("($1,234.5)"), -1234.5, 0}, {Variant(" .5 "), 0.5, 0},
        {Variant("5."), 5, 0}, {Variant("-1.5D2"), -150, 0}, {Variant("0.1"), 0.1, 0},
        {Variant("1e308"), 1e308, 0}, {Variant("1e309"), 0, 6}, {Variant("1e-400"), 0, 0},
        {Variant("abc"), 0, 13}, {Variant("12/6/2026"), 0, 13}, {Variant(true), -1, 0}, {Variant(), 0, 0},
        {Variant::null(), 0, 94}, {Variant::currency_scaled(15), 0.0015, 0},
        {Variant::currency_scaled(std::numeric_limits<int64_t>::max()), 922337203685477.5807, 0},
        {Variant(int64_t{9007199254740993}), 9007199254740992.0, 0}, {Variant::date(46362.25), 46362.25, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(describe(c.input));
        double got = 0;
        EXPECT_EQ(error_number([&] { got = to_double(c.input); }), c.error);
        if (c.error == 0) {
            EXPECT_EQ(got, c.expected);
        }
    }
}

TEST(Conversions, CurrencyRoundsToFourDecimalsHalfToEven) {
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    struct Case {
        Variant input;
        int64_t scaled;
        int error;
    };
    const Case cases[] = {
        {Variant(0.12345), 1234, 0},  // judged on the decimal digits, not the binary expansion
        {Variant(0.12355), 1236, 0}, {Variant(-0.12345), -1234, 0}, {Variant(1.5), 15000, 0},
        {Variant(0.00005), 0, 0}, {Variant(1e15), 0, 6}, {Variant(-1e300), 0, 6}, {Variant(INFINITY), 0, 6},
        {Variant("0.00015"), 2, 0}, {Variant("0.000150001"), 2, 0}, {Variant("0.00025"), 2, 0},
        {Variant("$1,234.56789"), 12345679, 0}, {Variant("922337203685477.5807"), kMax, 0},
        {Variant("922337203685477.5808"), 0, 6}, {Variant("-922337203685477.5808"), kMin, 0},
        {Variant("&HFFFF"), 655350000, 0}, {Variant("x"), 0, 13}, {Variant(true), -10000, 0},
        {Variant(int64_t{922337203685477}), 9223372036854770000, 0}, {Variant(int64_t{922337203685478}), 0, 6},
        {Variant(int64_t{-922337203685477}), -9223372036854770000, 0}, {Variant::date(1.25), 12500, 0},
        {Variant::null(), 0, 94},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(describe(c.input));
        Currency got{};
        EXPECT_EQ(error_number([&] { got = to_currency(c.input); }), c.error);
        if (c.error == 0) {
            EXPECT_EQ(got.scaled, c.scaled);
        }
    }
}

TEST(Conversions, BoolFromTextAndNumbers) {
    struct Case {
        Variant input;
        bool expected;
        int error;
    };
    const Case cases[] = {
        {Variant("True"), true, 0},     {Variant("tRUE"), true, 0},       {Variant("FALSE"), false, 0},
        {Variant("#TRUE#"), true, 0},   {Variant("#FALSE#"), false, 0},   {Variant("#true#"), false, 13},
        {Variant("0"), false, 0},       {Variant("0.1"), true, 0},        {Variant(" -1 "), true, 0},
        {Variant("Yes"), false, 13},    {Variant("On"), false, 13},       {Variant(""), false, 13},
        {Variant("Truex"), false, 13},  {Variant(0.0), false, 0},         {Variant(int16_t{2}), true, 0},
        {Variant::currency_scaled(1), true, 0},                           {Variant(), false, 0},
        {Variant::null(), false, 94},   {Variant(Variant::ObjectRef{}), false, 13},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(describe(c.input));
        bool got = false;
        EXPECT_EQ(error_number([&] { got = to_bool(c.input); }), c.error);
        if (c.error == 0) {
            EXPECT_EQ(got, c.expected);
        }
    }
}

// The host may switch the process to a locale that writes "1,5" (the terminal forms call setlocale); the
// conversions keep the system's own forms whatever it is.
TEST(Conversions, TextFormsIgnoreTheProcessLocale) {
    const test_support::ScopedLocale comma(test_support::kCommaDecimal);
    if (!comma.ok()) GTEST_SKIP() << comma.why();
    char probe[16];
    std::snprintf(probe, sizeof probe, "%g", 1.5);
    ASSERT_STREQ(probe, "1,5") << "the comma locale is not in effect";

    EXPECT_EQ(to_text(Variant(1234.5)), "1234.5");
    EXPECT_EQ(to_text(Variant(1.0 / 3)), "0.333333333333333");
    EXPECT_EQ(to_text(Variant(1e-20)), "1E-20");
    EXPECT_EQ(to_text(Variant::currency_scaled(-12345)), "-1.2345");
    EXPECT_EQ(to_double(Variant("1,234.5")), 1234.5);
    EXPECT_EQ(to_double(Variant("2.5E+3")), 2500);
    EXPECT_EQ(to_currency(Variant("$1,234.56")).scaled, 12345600);
    EXPECT_EQ(val(" 1.5xyz"), 1.5);
    EXPECT_EQ(format_thousands(1234567.0), "1,234,567");
    EXPECT_EQ(signed_text(-0.5), "-.5");
}
