// NumberText.cpp: the default text form of doubles and currency values.
//
// A double prints with at most 15 significant digits. It stays in plain notation while the rounded
// number is below 10^15 and needs no more than 15 digits after the point ("0.000000000056789");
// otherwise it is d.dddE±xx. Ties in the 15-digit rounding go away from zero, which std::to_chars
// (ties to even) does not do, so exact ties are detected and rounded here.
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "common/Conversions.h"
#include "common/ConversionsDetail.h"

namespace vb {
namespace detail {
namespace {

// Splits "d.ddddde±xx" from std::to_chars into its digits and exponent.
void split_scientific(std::string_view text, std::string& digits, int& exponent) {
    digits.clear();
    size_t i = 0;
    for (; i < text.size() && text[i] != 'e'; ++i)
        if (text[i] >= '0' && text[i] <= '9') digits.push_back(text[i]);
    exponent = 0;
    std::from_chars(text.data() + i + (text[i + 1] == '+' ? 2 : 1), text.data() + text.size(), exponent);
}

std::string_view scientific(char* buf, size_t size, double value, int precision) {
    const auto res = std::to_chars(buf, buf + size, value, std::chars_format::scientific, precision);
    return std::string_view(buf, static_cast<size_t>(res.ptr - buf));
}

}  // namespace

// The 17-digit form decides the 15-digit rounding on its own unless its 16th and 17th digits read
// "50": the exact value may then be a tie (rounded up: away from zero) or just below one ("…4999…"
// rounded up to "…50"), and the exact expansion, at most 767 significant digits, decides.
SignificantDigits significant_digits(double value) {
    SignificantDigits out;
    out.negative = value < 0;
    char buf[800];
    split_scientific(scientific(buf, sizeof buf, std::fabs(value), 16), out.digits, out.exponent);
    if (out.digits[15] == '5' && out.digits[16] == '0')
        split_scientific(scientific(buf, sizeof buf, std::fabs(value), 780), out.digits, out.exponent);
    const bool up = out.digits[15] >= '5';
    out.digits.resize(15);
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

std::string double_text(double value) {
    if (std::isnan(value)) return std::signbit(value) ? "-1.#IND" : "1.#QNAN";  // what the VB run time prints
    if (std::isinf(value)) return value < 0 ? "-1.#INF" : "1.#INF";
    if (value == 0) return "0";  // also negative zero
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
