// ConversionsDate_test.cpp: date serials, their text form, and reading dates from text (CDate).
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

#include "common/Conversions.h"
#include "tests/common/ConversionsTestSupport.h"

using namespace vb;

namespace {

int this_year() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_year + 1900;
}

}  // namespace

TEST(ConversionsDate, SerialsAndCalendarParts) {
    struct Case {
        int year, month, day, hour, minute, second;
        double serial;
    };
    const Case cases[] = {
        {1899, 12, 30, 0, 0, 0, 0},         {1899, 12, 31, 0, 0, 0, 1},
        {1900, 1, 1, 0, 0, 0, 2},           {1900, 2, 28, 0, 0, 0, 60},  // no 29 February 1900
        {1900, 3, 1, 0, 0, 0, 61},          {1970, 1, 1, 0, 0, 0, 25569},
        {2000, 1, 1, 0, 0, 0, 36526},       {2000, 2, 29, 0, 0, 0, 36585},
        {2026, 12, 6, 0, 0, 0, 46362},      {2026, 12, 6, 12, 0, 0, 46362.5},
        {1899, 12, 29, 6, 0, 0, -1.25},     {1899, 12, 29, 18, 0, 0, -1.75},
        {1765, 4, 24, 5, 45, 36, -49192.24}, {100, 1, 1, 0, 0, 0, -657434},
        {9999, 12, 31, 0, 0, 0, 2958465},   {9999, 12, 31, 23, 59, 59, 2958465 + 86399.0 / 86400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.serial);
        EXPECT_NEAR(make_date_serial(c.year, c.month, c.day, c.hour, c.minute, c.second), c.serial, 1e-9);
        const DateParts p = split_date_serial(c.serial);
        EXPECT_EQ((std::vector<int>{p.year, p.month, p.day, p.hour, p.minute, p.second}),
                  (std::vector<int>{c.year, c.month, c.day, c.hour, c.minute, c.second}));
    }
    EXPECT_EQ(make_date_serial(2026, 13, 1), make_date_serial(2027, 1, 1));  // parts carry over
    EXPECT_EQ(make_date_serial(2026, 12, 6, 24), 46363);
    EXPECT_EQ(error_number([] { make_date_serial(99, 12, 31); }), kErrOverflow);
    EXPECT_EQ(error_number([] { make_date_serial(9999, 12, 31, 24); }), kErrOverflow);
    for (double bad : {-657435.0, 2958466.0, std::nan("")}) EXPECT_EQ(error_number([&] { split_date_serial(bad); }), kErrOverflow);
}

TEST(ConversionsDate, TextFormOfSerials) {
    struct Case {
        double serial;
        const char* text;
    };
    const Case cases[] = {
        {46362, "12/6/2026"}, {0.627835648, "3:04:05 PM"}, {0, "12:00:00 AM"}, {0.5, "12:00:00 PM"},
        {-0.5, "12:00:00 PM"},  // between -1 and 1: a time alone
        {46362.627835648, "12/6/2026 3:04:05 PM"}, {3.34, "1/2/1900 8:09:36 AM"}, {365, "12/30/1900"},
        {365.25, "12/30/1900 6:00:00 AM"}, {1461.5, "12/31/1903 12:00:00 PM"},
        {-49192.24, "4/24/1765 5:45:36 AM"}, {-657434, "1/1/100"}, {-657434.999, "1/1/100 11:58:34 PM"},
        {2958465, "12/31/9999"}, {1, "12/31/1899"}, {-1, "12/29/1899"}, {-1.25, "12/29/1899 6:00:00 AM"},
        {60, "2/28/1900"}, {61, "3/1/1900"},
        {46362 + 43200.4 / 86400, "12/6/2026 12:00:00 PM"},  // to the nearest second
        {46362 + 43200.6 / 86400, "12/6/2026 12:00:01 PM"},
        {46362 + 86399.6 / 86400, "12/7/2026"},       // rounds into the next day
        {-1 - 86399.6 / 86400, "12:00:00 AM"},        // 12/29/1899 23:59:59.6 becomes day 0
        {2958465.9999999, "12/31/9999 11:59:59 PM"},  // cannot round into year 10000
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(date_text(c.serial), c.text);
        EXPECT_EQ(to_text(Variant::date(c.serial)), c.text);
    }
}

TEST(ConversionsDate, AcceptedTextForms) {
    const int year = this_year();
    struct Case {
        const char* text;
        double serial;
    };
    const Case cases[] = {
        {"12/6/2026", 46362}, {"12-6-2026", 46362}, {"2026-12-06", 46362}, {"1970-1-13", 25581},
        {"2026/12/6", 46362}, {"13/6/2026", make_date_serial(2026, 6, 13)}, {"6 Dec 2026", 46362},
        {"6-Dec-2026", 46362}, {"6/Dec/2026", 46362}, {"December 6, 2026", 46362}, {"6 December, 2026", 46362},
        {"dec 6 2026", 46362}, {"2026 Dec 6", 46362}, {"Sept 30, 2026", make_date_serial(2026, 9, 30)},
        {" 12/6/2026 ", 46362}, {"\t12/6/2026\r\n", 46362},
        {"Dec 6, 2026 3:04 PM", make_date_serial(2026, 12, 6, 15, 4)},
        {"12/6/2026 3:04:05 PM", make_date_serial(2026, 12, 6, 15, 4, 5)},
        {"3:04:05 PM 12/6/2026", make_date_serial(2026, 12, 6, 15, 4, 5)},
        {"12/6/2026 3 PM", make_date_serial(2026, 12, 6, 15)},
        {"2026-12-06 15:04:05", make_date_serial(2026, 12, 6, 15, 4, 5)},
        {"2026-12-06T15:04:05", make_date_serial(2026, 12, 6, 15, 4, 5)},
        {"2026-12-06 15:04:05.017", make_date_serial(2026, 12, 6, 15, 4, 5)},  // fraction rounded
        {"2026-12-06T15:04:05.5", make_date_serial(2026, 12, 6, 15, 4, 6)}, {"2026-12-06 23:59:59.999999", 46363},
        {"2026-12-06 3:04 PM", make_date_serial(2026, 12, 6, 15, 4)},
        {"3:04:05 PM", make_date_serial(1899, 12, 30, 15, 4, 5)},
        {"15:04", make_date_serial(1899, 12, 30, 15, 4)}, {"12:59 AM", make_date_serial(1899, 12, 30, 0, 59)},
        {"00:00 PM", 0.5}, {"13:00 AM", make_date_serial(1899, 12, 30, 13)},
        {"1 am", make_date_serial(1899, 12, 30, 1)}, {"12 PM", 0.5}, {"12/6", make_date_serial(year, 12, 6)},
        {"6 Dec", make_date_serial(year, 12, 6)}, {"12/6/26", 46362}, {"12/6/29", make_date_serial(2029, 12, 6)},
        {"12/6/30", make_date_serial(1930, 12, 6)}, {"12/6/99", make_date_serial(1999, 12, 6)},
        {"Jan 35", make_date_serial(1935, 1, 1)}, {"2/29/2000", make_date_serial(2000, 2, 29)},
        {"1/1/100", -657434}, {"12/31/9999 11:59:59 PM", 2958465 + 86399.0 / 86400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto serial = parse_date(c.text);
        ASSERT_TRUE(serial.has_value());
        EXPECT_NEAR(*serial, c.serial, 1e-9);
        EXPECT_NEAR(to_date(Variant(c.text)), c.serial, 1e-9);
    }
}

TEST(ConversionsDate, RejectedTextForms) {
    const char* const cases[] = {
        "",           "   ",         "abc",         "0.0",        "2.5",           "46362",
        "12",         "32 49",       "13/13/2026",  "2/30/2026",  "2/29/1900",     "0/6/2026",
        "12/0/2026",  "12/6/10000",  "1/1/99999999999",  "12/6/0099",   "1/1/99 BC",  "Sunday, December 6, 2026",
        "Mon 12/6/2026",             "12//6/2026",  "/12/6/2026", "12/6/2026/",    "12/6/2026,",
        "24:00",      "12:60",       "3:04:61 PM",  "3:",         "1:2:3:4",       "3:04 PM PM",
        "12/6/2026 15:04:05.017",    "2026-12-06 15:04:05.",      "2026-12-06T",   "2026-12-06 15:04:05Z",
        "2026-13-06", "2026-02-30",  "12/6 3:04 PM 2026",         "Dec Jan 6",     "6 2026 Dec",
        "12/6/2026 3:04:05 PMx",     "Ma 6, 2026",  "12.6.2026",  "12/6/2026\v",   "１２/6/2026",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(parse_date(text).has_value());
        EXPECT_EQ(error_number([&] { to_date(Variant(text)); }), kErrTypeMismatch);
    }
}

TEST(ConversionsDate, TextOfWholeSecondsReadsBackToTheSameSerial) {
    const int64_t days[] = {-657434, -49193, -36522, -2, -1, 0, 1, 59, 60, 61, 25569, 36585, 46362, 2958465};
    const int seconds[] = {0, 1, 59, 3599, 43199, 43200, 54245, 86399};
    for (int64_t day : days) {
        for (int second : seconds) {
            const double serial = day >= 0 ? day + second / 86400.0 : day - second / 86400.0;
            const std::string text = date_text(serial);
            SCOPED_TRACE(text);
            const auto back = parse_date(text);
            ASSERT_TRUE(back.has_value());
            EXPECT_EQ(*back, serial);
        }
    }
}

TEST(ConversionsDate, ToDateOfValues) {
    struct Case {
        Variant input;
        double serial;
        int error;
    };
    const Case cases[] = {
        {Variant(46362.5), 46362.5, 0}, {Variant(int32_t{46362}), 46362, 0}, {Variant(true), -1, 0},
        {Variant(), 0, 0}, {Variant(2958465.99999), 2958465.99999, 0}, {Variant(-657434.5), -657434.5, 0},
        {Variant(3000000.0), 0, kErrOverflow}, {Variant(2958466.0), 0, kErrOverflow},
        {Variant(-657435.0), 0, kErrOverflow}, {Variant(int64_t{-700000}), 0, kErrOverflow},
        {Variant(NAN), 0, kErrOverflow}, {Variant::date(1.25), 1.25, 0},
        {Variant::currency_scaled(12500), 1.25, 0}, {Variant::null(), 0, kErrInvalidNull},
        {Variant(""), 0, kErrTypeMismatch}, {Variant(Variant::ObjectRef{}), 0, kErrTypeMismatch},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(describe(c.input));
        double got = 0;
        EXPECT_EQ(error_number([&] { got = to_date(c.input); }), c.error);
        if (c.error == 0) {
            EXPECT_EQ(got, c.serial);
        }
    }
}
