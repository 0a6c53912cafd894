// DateSerial.cpp: date serials to and from calendar parts.
//
// A serial counts days from 30 December 1899 in the proleptic Gregorian calendar, so 1900 is not a
// leap year (serial 60 is 2/28/1900, 61 is 3/1/1900). Before day 0 the whole part still names the day
// and the fraction's absolute value is the time: -1.25 is 12/29/1899 6:00 AM. Day numbers are counted
// with the usual era arithmetic (400-year cycles of 146097 days) from 1 March of year 0.
#include <cmath>

#include "common/ComError.h"
#include "common/Conversions.h"
#include "common/ConversionsDetail.h"

namespace vb {
namespace detail {
namespace {

constexpr int64_t kSecondsPerDay = 86400;

int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Days since 1 March of year 0 for a date with a month in 1..12 (day may overflow the month).
constexpr int64_t day_number(int64_t year, int month, int64_t day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t year_of_era = year - era * 400;
    const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era;
}

void civil_from_day_number(int64_t z, int& year, int& month, int& day) {
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t day_of_era = z - era * 146097;
    const int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const int64_t mp = (5 * day_of_year + 2) / 153;
    day = static_cast<int>(day_of_year - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(year_of_era + era * 400 + (month <= 2));
}

constexpr int64_t kEpoch = day_number(1899, 12, 30);
constexpr int64_t kFirstDay = day_number(100, 1, 1) - kEpoch;    // -657434
constexpr int64_t kLastDay = day_number(9999, 12, 31) - kEpoch;  // 2958465

}  // namespace

bool is_leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap_year(year) ? 29 : kDays[month - 1];
}

std::optional<double> serial_from_parts(int year, int month, int day, int hour, int minute, int64_t second) {
    const int64_t month0 = static_cast<int64_t>(month) - 1;
    const int64_t full_year = year + floor_div(month0, 12);
    const int month_in_year = static_cast<int>(month0 - floor_div(month0, 12) * 12) + 1;
    if (std::llabs(full_year) > 1000000 || std::llabs(day) > 100000000) return std::nullopt;
    const int64_t days = day_number(full_year, month_in_year, 1) + day - 1 - kEpoch;
    const int64_t moment = days * kSecondsPerDay + int64_t{hour} * 3600 + int64_t{minute} * 60 + second;
    const int64_t whole = floor_div(moment, kSecondsPerDay);
    const double time = static_cast<double>(moment - whole * kSecondsPerDay) / kSecondsPerDay;
    if (whole < kFirstDay || whole > kLastDay) return std::nullopt;
    return whole >= 0 ? static_cast<double>(whole) + time : static_cast<double>(whole) - time;
}

}  // namespace detail

double make_date_serial(int year, int month, int day, int hour, int minute, int second) {
    const auto serial = detail::serial_from_parts(year, month, day, hour, minute, second);
    if (!serial) throw vb_error(kErrOverflow);
    return *serial;
}

DateParts split_date_serial(double serial) {
    if (!(serial > detail::kDateLow && serial < detail::kDateHigh)) throw vb_error(kErrOverflow);
    const double whole = std::trunc(serial);
    int64_t seconds = std::llround(std::fabs(serial - whole) * detail::kSecondsPerDay);
    int64_t day = static_cast<int64_t>(whole);
    if (seconds == detail::kSecondsPerDay) {  // 23:59:59.6 rounds into the next calendar day
        ++day;
        seconds = 0;
    }
    if (day > detail::kLastDay) {  // 12/31/9999 23:59:59.6 cannot round into year 10000
        day = detail::kLastDay;
        seconds = detail::kSecondsPerDay - 1;
    }
    DateParts parts{};
    detail::civil_from_day_number(day + detail::kEpoch, parts.year, parts.month, parts.day);
    parts.hour = static_cast<int>(seconds / 3600);
    parts.minute = static_cast<int>(seconds / 60 % 60);
    parts.second = static_cast<int>(seconds % 60);
    return parts;
}

}  // namespace vb
