// ConversionsDetail.h: pieces the conversion sources share and callers do not need: numeric text kept
// as an exact decimal (so 64-bit and currency conversions never lose digits through a double), the
// 15-significant-digit form of a double, and calendar arithmetic that reports instead of throwing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vb::detail {

// A number read from text. Decimal text: value = ±digits × 10^exponent, exactly as written.
// &H/&O text: the unsigned bit pattern in `bits` (its meaning depends on the target width).
struct ScannedNumber {
    bool negative = false;
    bool radix = false;     // &H or &O text
    bool too_big = false;   // &H/&O text wider than 64 bits
    uint64_t bits = 0;      // value of &H/&O text
    std::string digits;     // decimal digits without leading zeros; empty for zero
    int64_t exponent = 0;
};

// Value of a digit in base 16 or 8; 99 when `c` is none.
int radix_digit(char c, int base);

// The whole text in the form CDbl accepts (see parse_number); nullopt when it is not a number.
std::optional<ScannedNumber> scan_number(std::string_view text);

// The shortest decimal that reads back as `value` (finite values only).
ScannedNumber scan_double(double value);

// round(number × 10^places), halves to even; nullopt when it does not fit in 64 bits.
std::optional<int64_t> scale_number(const ScannedNumber& number, int places);

// The nearest double; nullopt beyond the double range (too small a magnitude gives 0).
std::optional<double> number_to_double(const ScannedNumber& number);

// A finite non-zero double rounded to 15 significant digits, ties away from zero:
// value ≈ ±0.d1d2…×10^(exponent+1), i.e. d1 is the digit of 10^exponent. Trailing zeros removed.
struct SignificantDigits {
    bool negative = false;
    std::string digits;
    int exponent = 0;
};
SignificantDigits significant_digits(double value);

// Calendar arithmetic without throwing. Months and times outside their usual ranges carry over
// (month 13 is January of the next year); nullopt when the result lies outside 1/1/100 … 12/31/9999.
std::optional<double> serial_from_parts(int year, int month, int day, int hour, int minute, int64_t second);
bool is_leap_year(int year);
int days_in_month(int year, int month);

// Exclusive bounds of a date serial: 1 January 100 00:00 minus one day, 31 December 9999 plus one day.
constexpr double kDateLow = -657435.0;
constexpr double kDateHigh = 2958466.0;

}  // namespace vb::detail
