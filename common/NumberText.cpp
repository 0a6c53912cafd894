// NumberText.cpp: the default text form of doubles and currency values.
//
// A double prints with at most 15 significant digits. It stays in plain notation while the rounded
// number is below 10^15 and needs no more than 15 digits after the point ("0.000000000056789");
// otherwise it is d.dddE±xx. Ties in the 15-digit rounding go away from zero, which std::to_chars
// (ties to even) does not do, so exact ties are detected and rounded here.
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>

#include "common/Conversions.h"
#include "common/ConversionsDetail.h"

namespace vb {
namespace detail {
namespace {

// The first (up to 17) digits and the exponent of scientific text from std::to_chars.
struct Leading {
    char digits[17];
    int count = 0;  // digits of the text, counting only the first 17
    int exponent = 0;
};

Leading scientific(double magnitude, std::optional<int> precision) {
    char buf[800];  // 780 decimals: the exact expansion of any double fits
    const auto res = precision ? std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific, *precision)
                               : std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific);
    Leading out;
    const char* p = buf;
    for (; *p != 'e'; ++p)
        if (*p != '.' && out.count < 17) out.digits[out.count++] = *p;
    std::from_chars(p + (p[1] == '+' ? 2 : 1), res.ptr, out.exponent);
    return out;
}

}  // namespace

// The shortest text that reads back as the value is the answer when it has 15 digits or fewer and the
// value is normal: the value lies closer to it than to any other 15-digit number. A subnormal value has
// fewer significant bits, so its shortest text can be much shorter than 15 digits ("5e-324" for
// 4.94065645841247e-324) and is rounded from the 17-digit form like any other. Otherwise the 17-digit form decides the
// rounding unless its 16th and 17th digits read "50": the exact value may then be a tie (rounded up:
// away from zero) or just below one ("…4999…" rounded up to "…50"), and the exact expansion decides.
SignificantDigits significant_digits(double value) {
    const double magnitude = std::fabs(value);
    Leading lead = scientific(magnitude, std::nullopt);
    bool up = false;
    if (lead.count > 15 || magnitude < std::numeric_limits<double>::min()) {
        lead = scientific(magnitude, 16);
        if (lead.digits[15] == '5' && lead.digits[16] == '0') lead = scientific(magnitude, 780);
        up = lead.digits[15] >= '5';
        lead.count = 15;
    }
    SignificantDigits out;
    out.negative = value < 0;
    out.exponent = lead.exponent;
    out.digits.assign(lead.digits, static_cast<size_t>(lead.count));
    if (up) {
        size_t k = out.digits.size();
        while (k > 0 && out.digits[k - 1] == '9') out.digits[--k] = '0';
        if (k == 0) {
            out.digits.insert(out.digits.begin(), '1');
            ++out.exponent;
        } else {
            ++out.digits[k - 1];
        }
    }
    const size_t last = out.digits.find_last_not_of('0');
    out.digits.resize(last == std::string::npos ? 1 : last + 1);
    return out;
}

}  // namespace detail

namespace {

// The common case in one call: a value whose shortest round-trip form has at most 15 significant digits
// and lies where plain notation is used prints exactly as std::to_chars writes it in fixed notation (no
// rounding to do, no trailing zeros). Returns false when the general path must decide.
bool plain_shortest(double value, std::string& out) {
    const double magnitude = std::fabs(value);
    if (!(magnitude >= 1e-5 && magnitude < 1e15)) return false;
    char buf[48];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    if (res.ec != std::errc()) return false;
    int significant = 0, after_point = 0;
    bool leading = true, point = false;
    for (const char* p = buf; p != res.ptr; ++p) {
        if (*p == '.') {
            point = true;
            continue;
        }
        if (*p < '0' || *p > '9') continue;
        if (point) ++after_point;
        if (leading && *p == '0') continue;
        leading = false;
        ++significant;
    }
    if (significant > 15 || after_point > 15) return false;
    out.assign(buf, res.ptr);
    return true;
}

}  // namespace

std::string double_text(double value) {
    if (std::isnan(value)) return std::signbit(value) ? "-1.#IND" : "1.#QNAN";  // what the VB run time prints
    if (std::isinf(value)) return value < 0 ? "-1.#INF" : "1.#INF";
    if (value == 0) return "0";  // also negative zero
    if (std::string plain; plain_shortest(value, plain)) return plain;
    const detail::SignificantDigits sd = detail::significant_digits(value);
    const int count = static_cast<int>(sd.digits.size());
    const int e = sd.exponent;
    const int after_point = std::max(0, count - 1 - e);
    std::string out = sd.negative ? "-" : "";
    if (e < 15 && after_point <= 15) {
        if (e < 0) {
            out += "0.";
            out.append(static_cast<size_t>(-e - 1), '0');
            out += sd.digits;
        } else if (count <= e + 1) {
            out += sd.digits;
            out.append(static_cast<size_t>(e + 1 - count), '0');
        } else {
            out.append(sd.digits, 0, static_cast<size_t>(e + 1));
            out += '.';
            out.append(sd.digits, static_cast<size_t>(e + 1));
        }
        return out;
    }
    out += sd.digits[0];
    if (count > 1) {
        out += '.';
        out.append(sd.digits, 1);
    }
    out += e < 0 ? "E-" : "E+";
    const int magnitude = std::abs(e);
    if (magnitude < 10) out += '0';
    out += std::to_string(magnitude);
    return out;
}

std::string currency_text(Currency value) {
    const bool negative = value.scaled < 0;
    // Magnitude in unsigned arithmetic: the most negative value has no positive counterpart.
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value.scaled) : static_cast<uint64_t>(value.scaled);
    std::string out = negative ? "-" : "";
    out += std::to_string(magnitude / Currency::kScale);
    uint64_t fraction = magnitude % Currency::kScale;
    if (fraction != 0) {
        std::string decimals = std::to_string(fraction + Currency::kScale).substr(1);  // four digits
        decimals.erase(decimals.find_last_not_of('0') + 1);
        out += '.';
        out += decimals;
    }
    return out;
}

}  // namespace vb
