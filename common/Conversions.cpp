// Conversions.cpp: the conversions of a tagged value (CStr, CInt, CLng, CDbl, CCur, CBool, CDate),
// one switch over the value's kind each.
//
// Empty reads as 0, "" or False; Null raises 94; objects raise 13. Whole numbers, currency and text
// reach 64-bit and currency targets exactly: text is scaled in decimal and currency in integers, never
// through a double that would drop digits beyond 2^53.
#include <cmath>
#include <cstdlib>

#include "common/ComError.h"
#include "common/Conversions.h"
#include "common/ConversionsDetail.h"

namespace vb {
namespace {

[[noreturn]] void fail(int32_t number) { throw vb_error(number); }

constexpr double kTwoTo63 = 9223372036854775808.0;

int64_t whole_from_double(double value) {
    const double r = round_half_even(value);
    if (!(r >= -kTwoTo63 && r < kTwoTo63)) fail(kErrOverflow);  // NaN too
    return static_cast<int64_t>(r);
}

int64_t whole_from_currency(Currency value) {
    int64_t whole = value.scaled / Currency::kScale;
    const int64_t rest = value.scaled % Currency::kScale;  // same sign as the value
    const int64_t step = rest < 0 ? -1 : 1;
    const int64_t half = std::abs(rest) * 2;
    if (half > Currency::kScale || (half == Currency::kScale && (whole & 1))) whole += step;
    return whole;
}

detail::ScannedNumber scan_or_fail(const std::string& text) {
    auto number = detail::scan_number(text);
    if (!number) fail(kErrTypeMismatch);
    if (number->too_big) fail(kErrOverflow);
    return *std::move(number);
}

// Text to a whole number of `bits` bits. &H/&O text is the bit pattern of that width ("&HFFFF" is -1
// for 16 bits and 65535 for 32), so a 64-bit field can be written in hex like any other.
int64_t whole_from_text(const std::string& text, int bits) {
    const detail::ScannedNumber number = scan_or_fail(text);
    if (number.radix) {
        if (bits == 64) return static_cast<int64_t>(number.bits);
        const uint64_t span = uint64_t{1} << bits;
        if (number.bits >= span) fail(kErrOverflow);
        const auto pattern = static_cast<int64_t>(number.bits);
        return pattern >= static_cast<int64_t>(span / 2) ? pattern - static_cast<int64_t>(span) : pattern;
    }
    const auto whole = detail::scale_number(number, 0);
    if (!whole) fail(kErrOverflow);
    return *whole;
}

// CInt, CLng and the 64-bit form: the value rounded half to even, then checked against [low, high].
int64_t whole_number(const Variant& value, int64_t low, int64_t high, int bits) {
    int64_t result = 0;
    switch (value.type()) {
        case VarType::Empty: return 0;
        case VarType::Null: fail(kErrInvalidNull);
        case VarType::Boolean: return value.as_bool() ? -1 : 0;
        case VarType::Integer: result = value.as_int16(); break;
        case VarType::Long: result = value.as_int32(); break;
        case VarType::LongLong: result = value.as_int64(); break;
        case VarType::Double: result = whole_from_double(value.as_double()); break;
        case VarType::Date: result = whole_from_double(value.as_date()); break;
        case VarType::Currency: result = whole_from_currency(value.as_currency()); break;
        case VarType::String: result = whole_from_text(value.as_text(), bits); break;
        default: fail(kErrTypeMismatch);
    }
    if (result < low || result > high) fail(kErrOverflow);
    return result;
}

double double_from_text(const std::string& text) {
    const auto value = detail::number_to_double(scan_or_fail(text));
    if (!value) fail(kErrOverflow);
    return *value;
}

double double_from_currency(Currency value) {
    constexpr int64_t kExact = int64_t{1} << 53;  // both operands exact: one correctly rounded division
    if (value.scaled > -kExact && value.scaled < kExact) return static_cast<double>(value.scaled) / Currency::kScale;
    return *parse_number(currency_text(value));
}

Currency currency_from_whole(int64_t value) {
    constexpr int64_t kMax = INT64_MAX / Currency::kScale;
    if (value > kMax || value < -kMax - 1) fail(kErrOverflow);  // -kMax-1 still fits: ≥ INT64_MIN
    return Currency{value * Currency::kScale};
}

// A double is taken at its shortest decimal form ("0.12345", not its binary expansion), so a tie in the
// fifth decimal is judged on the digits a person sees.
Currency currency_from_double(double value) {
    if (!std::isfinite(value)) fail(kErrOverflow);
    const auto scaled = detail::scale_number(detail::scan_double(value), 4);
    if (!scaled) fail(kErrOverflow);
    return Currency{*scaled};
}

Currency currency_from_text(const std::string& text) {
    const auto value = parse_currency(text);
    if (!value) fail(kErrTypeMismatch);
    return *value;
}

double checked_date(double serial) {
    if (!(serial > detail::kDateLow && serial < detail::kDateHigh)) fail(kErrOverflow);
    return serial;
}

bool bool_from_text(const std::string& text) {
    static constexpr struct {
        const char* text;
        bool value;
    } kExact[] = {{"#TRUE#", true}, {"#FALSE#", false}};
    for (const auto& e : kExact)
        if (text == e.text) return e.value;
    const auto equals_folded = [&](std::string_view word) {
        if (text.size() != word.size()) return false;
        for (size_t i = 0; i < word.size(); ++i)
            if ((text[i] | 0x20) != word[i]) return false;
        return true;
    };
    if (equals_folded("true")) return true;
    if (equals_folded("false")) return false;
    return double_from_text(text) != 0;
}

}  // namespace

std::string to_text(const Variant& value) {
    switch (value.type()) {
        case VarType::Empty: return {};
        case VarType::Null: fail(kErrInvalidNull);
        case VarType::Boolean: return value.as_bool() ? "True" : "False";
        case VarType::Integer: return std::to_string(value.as_int16());
        case VarType::Long: return std::to_string(value.as_int32());
        case VarType::LongLong: return std::to_string(value.as_int64());
        case VarType::Double: return double_text(value.as_double());
        case VarType::Currency: return currency_text(value.as_currency());
        case VarType::Date: return date_text(value.as_date());
        case VarType::String: return value.as_text();
        default: fail(kErrTypeMismatch);
    }
}

int16_t to_int16(const Variant& value) { return static_cast<int16_t>(whole_number(value, INT16_MIN, INT16_MAX, 16)); }
int32_t to_int32(const Variant& value) { return static_cast<int32_t>(whole_number(value, INT32_MIN, INT32_MAX, 32)); }
int64_t to_int64(const Variant& value) { return whole_number(value, INT64_MIN, INT64_MAX, 64); }

double to_double(const Variant& value) {
    switch (value.type()) {
        case VarType::Empty: return 0;
        case VarType::Null: fail(kErrInvalidNull);
        case VarType::Boolean: return value.as_bool() ? -1 : 0;
        case VarType::Integer: return value.as_int16();
        case VarType::Long: return value.as_int32();
        case VarType::LongLong: return static_cast<double>(value.as_int64());
        case VarType::Double: return value.as_double();
        case VarType::Currency: return double_from_currency(value.as_currency());
        case VarType::Date: return value.as_date();
        case VarType::String: return double_from_text(value.as_text());
        default: fail(kErrTypeMismatch);
    }
}

Currency to_currency(const Variant& value) {
    switch (value.type()) {
        case VarType::Empty: return Currency{};
        case VarType::Null: fail(kErrInvalidNull);
        case VarType::Boolean: return currency_from_whole(value.as_bool() ? -1 : 0);
        case VarType::Integer: return currency_from_whole(value.as_int16());
        case VarType::Long: return currency_from_whole(value.as_int32());
        case VarType::LongLong: return currency_from_whole(value.as_int64());
        case VarType::Double: return currency_from_double(value.as_double());
        case VarType::Currency: return value.as_currency();
        case VarType::Date: return currency_from_double(value.as_date());
        case VarType::String: return currency_from_text(value.as_text());
        default: fail(kErrTypeMismatch);
    }
}

bool to_bool(const Variant& value) {
    switch (value.type()) {
        case VarType::Empty: return false;
        case VarType::Null: fail(kErrInvalidNull);
        case VarType::Boolean: return value.as_bool();
        case VarType::Integer: return value.as_int16() != 0;
        case VarType::Long: return value.as_int32() != 0;
        case VarType::LongLong: return value.as_int64() != 0;
        case VarType::Double: return value.as_double() != 0;
        case VarType::Currency: return value.as_currency().scaled != 0;
        case VarType::Date: return value.as_date() != 0;
        case VarType::String: return bool_from_text(value.as_text());
        default: fail(kErrTypeMismatch);
    }
}

double to_date(const Variant& value) {
    switch (value.type()) {
        case VarType::Empty: return 0;
        case VarType::Null: fail(kErrInvalidNull);
        case VarType::Date: return checked_date(value.as_date());
        case VarType::String: {
            const auto serial = parse_date(value.as_text());
            if (!serial) fail(kErrTypeMismatch);
            return *serial;
        }
        case VarType::Object: fail(kErrTypeMismatch);
        default: return checked_date(to_double(value));
    }
}

}  // namespace vb
