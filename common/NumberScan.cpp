// NumberScan.cpp: reading numeric text the way CDbl, CLng and CCur read it, and exact arithmetic on
// what was read.
//
// Text is kept as a decimal digit string with an exponent rather than turned into a double at once:
// "9223372036854775807" must reach a 64-bit field and "0.00005" a currency value without a binary
// detour that changes the last digit. Only std::from_chars/to_chars are used, so the process locale
// never changes what a "." or "," means.
#include <charconv>
#include <cmath>
#include <limits>

#include "common/ComError.h"
#include "common/Conversions.h"
#include "common/ConversionsDetail.h"

namespace vb {
namespace detail {
namespace {

constexpr int64_t kExponentCap = 100000;  // far beyond any double or 64-bit value; keeps arithmetic safe

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

class Scanner {
public:
    explicit Scanner(std::string_view text) : s_(text) {}

    std::optional<ScannedNumber> run() {
        skip_blanks();
        if (at('&') && i_ + 1 < s_.size()) {
            const char kind = s_[i_ + 1];
            if (kind == 'H' || kind == 'h') return radix(4);
            if (kind == 'O' || kind == 'o') return radix(3);
        }
        bool paren = false, sign = false, dollar = false;
        for (;;) {  // "(", "$" and one sign in any order, each with optional blanks after it
            if (at('(') && !paren && !sign) paren = true;
            else if (at('$') && !dollar) dollar = true;
            else if ((at('+') || at('-')) && !sign && !paren) {
                sign = true;
                out_.negative = at('-');
            } else break;
            ++i_;
            skip_blanks();
        }
        if (!mantissa() || !exponent()) return std::nullopt;
        skip_blanks();
        if ((at('+') || at('-')) && !sign && !paren) {  // "12-" and "12+"
            out_.negative = at('-');
            ++i_;
            skip_blanks();
        }
        if (paren) {
            if (!at(')')) return std::nullopt;
            out_.negative = true;
            ++i_;
            skip_blanks();
        }
        if (i_ != s_.size()) return std::nullopt;
        return std::move(out_);
    }

private:
    bool at(char c) const { return i_ < s_.size() && s_[i_] == c; }
    void skip_blanks() {
        while (i_ < s_.size() && is_blank(s_[i_])) ++i_;
    }

    // &H (shift 4) or &O (shift 3) digits, blanks around, nothing else.
    std::optional<ScannedNumber> radix(int shift) {
        i_ += 2;
        const size_t start = i_;
        out_.radix = true;
        for (int d; i_ < s_.size() && (d = radix_digit(s_[i_], 1 << shift)) != 99; ++i_) {
            if (out_.bits >> (64 - shift)) out_.too_big = true;
            out_.bits = (out_.bits << shift) | static_cast<uint64_t>(d);
        }
        if (i_ == start) return std::nullopt;
        skip_blanks();
        if (i_ != s_.size()) return std::nullopt;
        return std::move(out_);
    }

    void push_digit(char c, bool fraction) {
        if (fraction) --out_.exponent;
        if (out_.digits.empty() && c == '0') return;  // no leading zeros
        out_.digits.push_back(c);
    }

    // Whole part with thousands separators between digits, then one optional "." and its digits.
    bool mantissa() {
        bool any = false;
        while (i_ < s_.size()) {
            if (is_digit(s_[i_])) {
                push_digit(s_[i_++], false);
                any = true;
            } else if (s_[i_] == ',' && any && i_ + 1 < s_.size() && is_digit(s_[i_ + 1])) {
                ++i_;
            } else {
                break;
            }
        }
        if (at('.')) {
            ++i_;
            for (; i_ < s_.size() && is_digit(s_[i_]); any = true) push_digit(s_[i_++], true);
        }
        return any;
    }

    // "e", "E", "d" or "D", optional sign, digits. A letter without digits is not a number.
    bool exponent() {
        if (!(at('e') || at('E') || at('d') || at('D'))) return true;
        ++i_;
        bool minus = false;
        if (at('+') || at('-')) minus = s_[i_++] == '-';
        if (!(i_ < s_.size() && is_digit(s_[i_]))) return false;
        int64_t e = 0;
        for (; i_ < s_.size() && is_digit(s_[i_]); ++i_) e = std::min(e * 10 + (s_[i_] - '0'), kExponentCap);
        out_.exponent += minus ? -e : e;
        return true;
    }

    std::string_view s_;
    size_t i_ = 0;
    ScannedNumber out_;
};

}  // namespace

int radix_digit(char c, int base) {
    int v = 99;
    if (is_digit(c)) v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    return v < base ? v : 99;
}

std::optional<ScannedNumber> scan_number(std::string_view text) { return Scanner(text).run(); }

ScannedNumber scan_double(double value) {
    char buf[40];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    return *scan_number(std::string_view(buf, static_cast<size_t>(res.ptr - buf)));
}

std::optional<int64_t> scale_number(const ScannedNumber& n, int places) {
    using u128 = unsigned __int128;
    const u128 limit = n.negative ? u128(1) << 63 : (u128(1) << 63) - 1;
    u128 acc = 0;
    if (n.radix) {
        if (n.too_big) return std::nullopt;
        acc = n.bits;
        for (int k = 0; k < places && acc <= limit; ++k) acc *= 10;
    } else {
        const int64_t size = static_cast<int64_t>(n.digits.size());
        const int64_t shift = n.exponent + places;  // value × 10^places = digits × 10^shift
        const int64_t keep = shift >= 0 ? size : std::max<int64_t>(size + shift, 0);
        for (int64_t k = 0; k < keep && acc <= limit; ++k) acc = acc * 10 + static_cast<unsigned>(n.digits[k] - '0');
        for (int64_t k = 0; k < shift && acc != 0 && acc <= limit; ++k) acc *= 10;
        if (shift < 0 && size + shift >= 0 && keep < size) {  // round on the dropped digits
            const char first = n.digits[keep];
            const bool rest_zero = n.digits.find_first_not_of('0', keep + 1) == std::string::npos;
            if (first > '5' || (first == '5' && (!rest_zero || (acc & 1)))) ++acc;
        }
    }
    if (acc > limit) return std::nullopt;
    if (n.negative) return static_cast<int64_t>(-static_cast<uint64_t>(acc));  // 2^63 wraps to INT64_MIN
    return static_cast<int64_t>(acc);
}

std::optional<double> number_to_double(const ScannedNumber& n) {
    if (n.radix) {
        if (n.too_big) return std::nullopt;
        return static_cast<double>(n.bits);
    }
    if (n.digits.empty()) return 0.0;
    std::string text = n.digits;
    text += 'e';
    text += std::to_string(n.exponent);
    double value = 0;
    const auto res = std::from_chars(text.data(), text.data() + text.size(), value);
    if (res.ec == std::errc::result_out_of_range) {
        if (static_cast<int64_t>(n.digits.size()) + n.exponent > 0) return std::nullopt;  // too large
        value = 0;                                                                         // too small
    }
    return n.negative ? -value : value;
}

}  // namespace detail

std::optional<double> parse_number(std::string_view text) {
    const auto scanned = detail::scan_number(text);
    if (!scanned) return std::nullopt;
    return detail::number_to_double(*scanned);
}

std::optional<Currency> parse_currency(std::string_view text) {
    const auto scanned = detail::scan_number(text);
    if (!scanned) return std::nullopt;
    const auto scaled = detail::scale_number(*scanned, 4);
    if (!scaled) throw vb_error(kErrOverflow);
    return Currency{*scaled};
}

double round_half_even(double value) {
    const double r = std::round(value);  // halves away from zero
    if (std::fabs(r - value) == 0.5 && std::fmod(r, 2.0) != 0) return r - std::copysign(1.0, value);
    return r;
}

}  // namespace vb
