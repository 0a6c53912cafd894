// Conversions.h: the VB run time's conversions between tagged values and text, fixed to en-US regional
// settings (decimal ".", thousands ",", short date M/d/yyyy, long time h:mm:ss AM/PM).
// Failures raise ComError with VB's numbers: 6 Overflow, 13 Type mismatch, 94 Invalid use of Null.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/Variant.h"

namespace vb {

// Default text form (CStr): "1.5", 15 significant digits for doubles, "True"/"False", dates as
// "12/6/2026", "3:04:05 PM" or "12/6/2026 3:04:05 PM". Empty gives ""; Null raises 94; an object 13.
std::string to_text(const Variant& value);
std::string double_text(double value);           // CStr of a Double
std::string currency_text(Currency value);       // CStr of a Currency: up to 4 decimals, no symbol
std::string date_text(double serial);            // CStr of a Date

// Whole numbers (CInt, CLng): numbers and numeric text, halves rounded to even, range checked.
int16_t to_int16(const Variant& value);
int32_t to_int32(const Variant& value);
int64_t to_int64(const Variant& value);          // same rules, 64-bit range
double to_double(const Variant& value);          // CDbl
Currency to_currency(const Variant& value);      // CCur: rounded half to even to 4 decimals
bool to_bool(const Variant& value);              // CBool
double to_date(const Variant& value);            // CDate: text forms below, numbers in the date range

// Text parsed as a whole number the way CDbl reads it (blanks around, signs before or after, "$",
// thousands separators, one decimal point, exponent, parentheses, &H and &O); nullopt when it is not one.
// Text beyond the double range also gives nullopt (to_double tells the two apart: 6 versus 13); &H and
// &O text gives its unsigned value ("&HFFFF" is 65535 here, -1 through to_int16).
std::optional<double> parse_number(std::string_view text);

// Text read exactly as CCur reads it (the same forms as parse_number, scaled in integers, halves to even at
// the fourth decimal); nullopt when it is not a number. A number outside the currency range raises
// Overflow (6).
std::optional<Currency> parse_currency(std::string_view text);

// Text to a date serial (CDate of text): en-US forms ("12/6/2026", "Dec 6, 2026", "3:04:05 PM",
// "12/6/2026 3:04:05 PM") and ISO-8601 ("2026-12-06", "2026-12-06 15:04:05", "2026-12-06T15:04:05");
// nullopt when the text is not a date.
std::optional<double> parse_date(std::string_view text);

// Val: the longest leading number after removing blanks, tabs and line feeds; 0 when there is none.
double val(std::string_view text);

// Format(value, "#,###"): thousands grouped, decimals rounded away, and empty text for 0.
std::string format_thousands(double value);

// Trim: spaces (code 32) only, both ends.
std::string trim(std::string_view text);

// Signed-number text form (Str): a blank before a non-negative number, "-" before a negative one.
std::string signed_text(int64_t value);
std::string signed_text(double value);

// Round half to even to a whole number (the rule CInt and CLng use).
double round_half_even(double value);

// Date serials from and to calendar parts; no 29 February 1900 exists (serial 60 is 2/28/1900).
double make_date_serial(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
struct DateParts {
    int year, month, day, hour, minute, second;
};
DateParts split_date_serial(double serial);  // seconds rounded to the nearest

}  // namespace vb
