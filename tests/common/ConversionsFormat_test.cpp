// ConversionsFormat_test.cpp: Val, Format(n, "#,###"), Trim, Str, rounding and parse_number.
#include <gtest/gtest.h>

#include <cmath>

#include "common/Conversions.h"
#include "tests/common/ConversionsTestSupport.h"

using namespace vb;

TEST(ConversionsFormat, ValReadsTheLeadingNumber) {
    struct Case {
        const char* text;
        double value;
        int error;
    };
    const Case cases[] = {
        {"2457", 2457, 0}, {" 2 45 7", 2457, 0}, {"    1615 198th Street N.E.", 1615198, 0}, {"24 and 57", 24, 0},
        {"1\t2\n3", 123, 0}, {"&HFFFF", -1, 0}, {"&HFFFF&", 65535, 0}, {"&H1F", 31, 0}, {"&h10000", 65536, 0},
        {"&HFFFFFFFF", -1, 0}, {"&O17", 15, 0}, {"&O177777", -1, 0}, {"&H100000000", 0, kErrOverflow},
        {"&H", 0, 0}, {"50%", 50, 0}, {"50.5%", 0, kErrTypeMismatch}, {"40000%", 0, kErrTypeMismatch},
        {"40000&", 40000, 0}, {"1.5#", 1.5, 0}, {"1.5e3", 1500, 0}, {"1.5e", 1.5, 0}, {"2d2", 200, 0},
        {"1.5.6", 1.5, 0}, {"-12.5abc", -12.5, 0}, {" -1", -1, 0}, {" 12", 12, 0}, {"+7", 7, 0}, {".5", 0.5, 0},
        {"-.5", -0.5, 0}, {"1,000", 1, 0}, {"$12", 0, 0}, {"abc", 0, 0}, {"", 0, 0}, {"-", 0, 0}, {".", 0, 0},
        {"--1", 0, 0}, {"1e999", 0, kErrOverflow},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        double got = -99;
        EXPECT_EQ(error_number([&] { got = val(c.text); }), c.error);
        if (c.error == 0) {
            EXPECT_EQ(got, c.value);
        }
    }
}

TEST(ConversionsFormat, SignedTextAndItsRoundTripThroughVal) {
    struct IntCase {
        int64_t value;
        const char* text;
    };
    const IntCase ints[] = {{12, " 12"},           {0, " 0"},
                            {-1, "-1"},            {3021, " 3021"},
                            {-2146825267, "-2146825267"}, {INT64_MIN, "-9223372036854775808"}};
    for (const IntCase& c : ints) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(signed_text(c.value), c.text);
        EXPECT_EQ(trim(signed_text(c.value)), to_text(Variant(c.value)));
    }
    struct DoubleCase {
        double value;
        const char* text;
    };
    const DoubleCase doubles[] = {{459, " 459"}, {-459.65, "-459.65"}, {1.5, " 1.5"}, {0, " 0"},   {-0.0, " 0"},
                                  {0.5, " .5"},  {-0.25, "-.25"},      {1e20, " 1E+20"},          {-1, "-1"}};
    for (const DoubleCase& c : doubles) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(signed_text(c.value), c.text);
        EXPECT_EQ(val(signed_text(c.value)), c.value);
    }
}

TEST(ConversionsFormat, ThousandsPattern) {
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {
        {0, ""}, {1, "1"}, {999, "999"}, {1000, "1,000"}, {1234, "1,234"}, {100000, "100,000"},
        {1234567, "1,234,567"}, {2147483647, "2,147,483,647"}, {-1234, "-1,234"}, {-999, "-999"},
        {-1000000, "-1,000,000"}, {1234.4, "1,234"},
        // Halves go away from zero, unlike CInt; what rounds to zero prints nothing, not even a sign.
        {1234.5, "1,235"}, {2.5, "3"}, {-2.5, "-3"}, {0.4, ""}, {0.5, "1"}, {-0.4, ""},
        {1e20, "100,000,000,000,000,000,000"}, {123456789012345678.0, "123,456,789,012,346,000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(format_thousands(c.value), c.text);
    }
}

TEST(ConversionsFormat, TrimRemovesSpacesOnly) {
    struct Case {
        const char* text;
        const char* trimmed;
    };
    const Case cases[] = {{"  <-Trim->  ", "<-Trim->"}, {" 12", "12"}, {"\tx\t", "\tx\t"},
                          {"a  b", "a  b"},             {"", ""},      {"   ", ""},
                          {"\xC2\xA0x ", "\xC2\xA0x"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(trim(c.text), c.trimmed);
    }
}

TEST(ConversionsFormat, RoundHalfEven) {
    struct Case {
        double value, rounded;
    };
    const Case cases[] = {{0.5, 0},   {1.5, 2},     {2.5, 2},    {3.5, 4},          {-0.5, 0},
                          {-1.5, -2}, {-2.5, -2},   {0.49999999999999994, 0},        {2.4, 2},
                          {2.6, 3},   {-2.6, -3},   {4503599627370497.0, 4503599627370497.0},
                          {1e300, 1e300}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(round_half_even(c.value), c.rounded);
    }
}

TEST(ConversionsFormat, ParseNumberAcceptsWholeTextOnly) {
    struct Case {
        const char* text;
        std::optional<double> value;
    };
    const Case cases[] = {
        {" 12 ", 12},         {"12-", -12},       {"(1,234.5)", -1234.5}, {"$ 5", 5},   {"-$5", -5},
        {"1.5e3", 1500},      {"&H10", 16},       {"&HFFFF", 65535},      {"0.1", 0.1}, {"-0", 0},
        {"1e309", {}},        {"12abc", {}},      {"1 2", {}},            {"", {}},     {"$", {}},
        {"1,,234", {}},       {"12,", {}},        {"12 - -", {}},         {"--12", {}}, {"12)", {}},
        {"&H10 1", {}},       {"$$5", {}},        {"1e+", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parse_number(c.text), c.value);
    }
}
