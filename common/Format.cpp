// Format.cpp: Val, Format(n, "#,###"), Trim and Str — the text helpers that do not follow the
// regional settings: Val knows only "." as decimal point and stops at "," or "$"; Str puts a blank
// where a plus sign would be.
#include <cfloat>
#include <cmath>

#include "common/ComError.h"
#include "common/Conversions.h"
#include "common/ConversionsDetail.h"

namespace vb {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Val of "&H…"/"&O…" (prefix already in `s` at 0): the digits that follow, read as a 16-bit value when
// they fit 16 bits ("&HFFFF" is -1), else as 32 bits; a "&" suffix asks for the 32-bit reading
// ("&HFFFF&" is 65535). More than 32 bits is an overflow.
double radix_val(std::string_view s) {
    const int base = (s[1] == 'H' || s[1] == 'h') ? 16 : 8;
    uint64_t value = 0;
    size_t i = 2;
    for (int d; i < s.size() && (d = detail::radix_digit(s[i], base)) != 99; ++i) {
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
        if (value > 0xFFFFFFFFu) throw vb_error(kErrOverflow);
    }
    const bool long_suffix = i < s.size() && s[i] == '&';
    if (i < s.size() && s[i] == '%' && value > 0xFFFF) throw vb_error(kErrTypeMismatch);
    if (value <= 0xFFFF && !long_suffix) return static_cast<int16_t>(static_cast<uint16_t>(value));
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

// Checks a type-declaration character after a decimal number: the number must fit that type.
void check_suffix(char suffix, double value, bool whole) {
    struct Limit {
        char suffix;
        bool whole;  // no decimals allowed
        double max;
    };
    static constexpr Limit kLimits[] = {
        {'%', true, 32767.0}, {'&', true, 2147483647.0}, {'!', false, FLT_MAX}, {'#', false, DBL_MAX},
        {'@', false, 922337203685477.5807},
    };
    for (const Limit& l : kLimits) {
        if (l.suffix != suffix) continue;
        const double low = l.whole ? -l.max - 1 : -l.max;
        if ((l.whole && !whole) || value < low || value > l.max) throw vb_error(kErrTypeMismatch);
    }
}

}  // namespace

double val(std::string_view text) {
    std::string s;  // blanks, tabs and line feeds are dropped anywhere, not only in front
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\n') s += c;
    if (s.size() >= 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h' || s[1] == 'O' || s[1] == 'o'))
        return radix_val(s);
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    const size_t digits_start = i;
    while (i < s.size() && is_digit(s[i])) ++i;
    bool whole = true;
    if (i < s.size() && s[i] == '.') {
        whole = false;
        ++i;
        while (i < s.size() && is_digit(s[i])) ++i;
    }
    if (i == digits_start || (i == digits_start + 1 && !whole)) return 0;  // no digits at all
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        if (j < s.size() && is_digit(s[j])) {
            while (j < s.size() && is_digit(s[j])) ++j;
            i = j;
            whole = false;
        }
    }
    const auto number = detail::scan_number(std::string_view(s).substr(0, i));
    const auto value = number ? detail::number_to_double(*number) : std::optional<double>(0.0);
    if (!value) throw vb_error(kErrOverflow);
    if (i < s.size()) check_suffix(s[i], *value, whole);
    return *value + 0.0;  // no negative zero
}

// Halves round away from zero. A value that rounds to zero prints as zero does, as nothing: a lone
// "-" for -0.4 would be read back by no one as a number, so no sign is kept for it.
std::string format_thousands(double value) {
    if (!std::isfinite(value)) return double_text(value);
    const double rounded = std::round(value);
    if (rounded == 0) return "";
    std::string digits;
    if (std::fabs(rounded) < 1e15) {
        digits = std::to_string(static_cast<int64_t>(std::fabs(rounded)));
    } else {  // beyond 15 significant digits the value prints as those digits and zeros
        const detail::SignificantDigits sd = detail::significant_digits(rounded);
        digits = sd.digits;
        digits.append(static_cast<size_t>(sd.exponent + 1) - sd.digits.size(), '0');
    }
    std::string out = rounded < 0 ? "-" : "";
    for (size_t k = 0; k < digits.size(); ++k) {
        if (k > 0 && (digits.size() - k) % 3 == 0) out += ',';
        out += digits[k];
    }
    return out;
}

std::string trim(std::string_view text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

std::string signed_text(int64_t value) {
    return value < 0 ? std::to_string(value) : ' ' + std::to_string(value);
}

// Str drops the zero before the decimal point (" .5", "-.5"), unlike CStr's "0.5"; we follow Str.
// Val reads both forms, so the choice only affects how the text looks.
std::string signed_text(double value) {
    std::string text = double_text(value);
    const bool negative = !text.empty() && text[0] == '-';
    const size_t digits = negative ? 1 : 0;
    if (text.compare(digits, 2, "0.") == 0) text.erase(digits, 1);
    return negative ? text : ' ' + text;
}

}  // namespace vb
