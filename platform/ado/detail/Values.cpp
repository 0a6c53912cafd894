// Values.cpp: raw ↔ tagged value conversion by column kind; see Values.h.
#include "platform/ado/detail/Values.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>

#include "common/ComError.h"
#include "common/Conversions.h"
#include "platform/ado/AdoTypes.h"

namespace ado::detail {
namespace {

Variant whole_number(int64_t v) {
    if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max())
        return Variant(static_cast<int32_t>(v));
    return Variant(v);
}

// Numbers are read with std::from_chars: unlike strtod it ignores the process locale, so a "." stays the
// decimal point when the host has switched to a locale that writes "1,5".
template <class T>
std::optional<T> parse_entire(const std::string& s) {
    T v{};
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return v;
}

std::optional<int64_t> parse_int(const std::string& s) { return parse_entire<int64_t>(s); }
std::optional<double> parse_real(const std::string& s) { return parse_entire<double>(s); }

// The currency value of a number stored in a currency column, exactly; Overflow (6) outside the currency
// range, as CCur raises, because no currency value could show it.
Currency currency_of_integer(int64_t v) {
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max() / Currency::kScale;
    if (v > kMax || v < -kMax) throw vb_error(kErrOverflow, kSourceField);  // -kMax - 1 would not fit
    return Currency{v * Currency::kScale};
}

std::optional<bool> parse_bool(const std::string& s) {
    if (s == "t" || s == "true" || s == "1") return true;
    if (s == "f" || s == "false" || s == "0") return false;
    return std::nullopt;
}

// A value by its storage class alone (untyped columns and values the column kind cannot read).
Variant natural(const RawValue& raw) {
    switch (raw.type) {
        case RawValue::Type::Null: return Variant::null();
        case RawValue::Type::Integer: return whole_number(raw.integer);
        case RawValue::Type::Real: return Variant(raw.real);
        case RawValue::Type::Text:
        case RawValue::Type::Blob: return Variant(raw.text);
    }
    return Variant::null();
}

Variant read_text(const std::string& s, ColumnKind kind) {
    switch (kind) {
        case ColumnKind::Integer:
            if (auto v = parse_int(s)) return whole_number(*v);
            break;
        case ColumnKind::SmallInt:
            if (auto v = parse_int(s)) {
                if (*v >= INT16_MIN && *v <= INT16_MAX) return Variant(static_cast<int16_t>(*v));
                return whole_number(*v);
            }
            break;
        case ColumnKind::Double:
            if (auto v = parse_real(s)) return Variant(*v);
            if (s == "NaN") return Variant(std::numeric_limits<double>::quiet_NaN());
            if (s == "Infinity") return Variant(std::numeric_limits<double>::infinity());
            if (s == "-Infinity") return Variant(-std::numeric_limits<double>::infinity());
            break;
        case ColumnKind::Currency:  // PostgreSQL money in lc_monetary C: "-$1,234.56", read as CCur reads it
            if (auto v = vb::parse_currency(s)) return Variant(*v);
            break;
        case ColumnKind::Date:
        case ColumnKind::Time:
        case ColumnKind::DateTime:
            if (auto v = parse_iso_date(s)) return Variant::date(*v);
            break;
        case ColumnKind::Boolean:
            if (auto v = parse_bool(s)) return Variant(*v);
            break;
        default: break;
    }
    return Variant(s);
}

[[noreturn]] void refuse() { throw ado_error(kDbErrorsOccurred, kSourceField); }

double date_serial_of(const Variant& value) {
    if (value.type() == VarType::Date) return value.as_date();
    if (value.is_text()) {
        if (auto v = parse_iso_date(value.as_text())) return *v;
        if (auto v = vb::parse_date(value.as_text())) return *v;
        refuse();
    }
    return vb::to_date(value);
}

// Exact decimal text ("-1234.5"): PostgreSQL parses it exactly; SQLite's numeric affinity of a MONEY
// column stores it as an INTEGER or a REAL. A REAL keeps 15 significant digits for sure, so a value with
// more (922337203685477.5807) goes as a blob of the same text, which no affinity converts: it reads back
// exactly, and SQLite arithmetic still reads the blob as a number.
RawValue currency_raw(Currency c) {
    std::string text = vb::currency_text(c);
    const auto digits = std::count_if(text.begin(), text.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
    return RawValue::of_text(std::move(text), digits > 15 ? RawValue::Type::Blob : RawValue::Type::Text);
}

RawValue untyped_raw(const Variant& value) {
    switch (value.type()) {
        case VarType::Integer: return RawValue::of_integer(value.as_int16());
        case VarType::Long: return RawValue::of_integer(value.as_int32());
        case VarType::LongLong: return RawValue::of_integer(value.as_int64());
        case VarType::Double: return RawValue::of_real(value.as_double());
        case VarType::Currency: return RawValue::of_text(vb::currency_text(value.as_currency()));
        case VarType::Date: return RawValue::of_text(iso_text(value.as_date(), ColumnKind::DateTime));
        case VarType::Boolean: return RawValue::of_integer(value.as_bool() ? 1 : 0);
        default: return RawValue::of_text(vb::to_text(value));
    }
}

RawValue convert(const Variant& value, ColumnKind kind) {
    switch (kind) {
        case ColumnKind::Integer: return RawValue::of_integer(vb::to_int64(value));
        case ColumnKind::SmallInt: return RawValue::of_integer(vb::to_int16(value));
        case ColumnKind::Double: return RawValue::of_real(vb::to_double(value));
        case ColumnKind::Currency: return currency_raw(vb::to_currency(value));
        case ColumnKind::Date:
        case ColumnKind::Time:
        case ColumnKind::DateTime: return RawValue::of_text(iso_text(date_serial_of(value), kind));
        case ColumnKind::Boolean: return RawValue::of_integer(vb::to_bool(value) ? 1 : 0);
        case ColumnKind::Text: return RawValue::of_text(vb::to_text(value));
        case ColumnKind::Blob: return RawValue::of_text(vb::to_text(value), RawValue::Type::Blob);
        case ColumnKind::Untyped: return untyped_raw(value);
    }
    return untyped_raw(value);
}

// Reads up to `width` digits at `p`; advances p. -1 when none.
int digits(std::string_view s, size_t& p, size_t width) {
    int v = 0;
    size_t n = 0;
    while (p < s.size() && n < width && s[p] >= '0' && s[p] <= '9') v = v * 10 + (s[p++] - '0'), ++n;
    return n == width ? v : -1;
}

// "HH:MM[:SS[.fff]]" at p; false when malformed.
bool parse_time(std::string_view s, size_t& p, int& h, int& m, int& sec) {
    h = digits(s, p, 2);
    if (h < 0 || p >= s.size() || s[p++] != ':') return false;
    m = digits(s, p, 2);
    if (m < 0) return false;
    sec = 0;
    if (p < s.size() && s[p] == ':') {
        ++p;
        sec = digits(s, p, 2);
        if (sec < 0) return false;
        if (p < s.size() && s[p] == '.')
            for (++p; p < s.size() && s[p] >= '0' && s[p] <= '9';) ++p;
    }
    return h < 24 && m < 60 && sec < 62;
}

bool is_zone(std::string_view rest) {
    if (rest.empty() || rest == "Z") return true;
    if (rest[0] != '+' && rest[0] != '-') return false;
    for (char c : rest.substr(1))
        if (!((c >= '0' && c <= '9') || c == ':')) return false;
    return true;
}

}  // namespace

std::optional<double> parse_iso_date(std::string_view s) {
    size_t p = 0;
    int h = 0, m = 0, sec = 0;
    if (s.size() >= 5 && s[2] == ':') {  // time of day only
        if (!parse_time(s, p, h, m, sec) || !is_zone(s.substr(p))) return std::nullopt;
        return vb::make_date_serial(1899, 12, 30, h, m, sec);
    }
    const int y = digits(s, p, 4);
    if (y < 0 || p >= s.size() || s[p++] != '-') return std::nullopt;
    const int mo = digits(s, p, 2);
    if (mo < 1 || mo > 12 || p >= s.size() || s[p++] != '-') return std::nullopt;
    const int d = digits(s, p, 2);
    if (d < 1 || d > 31) return std::nullopt;
    if (p < s.size() && (s[p] == ' ' || s[p] == 'T')) {
        ++p;
        if (!parse_time(s, p, h, m, sec)) return std::nullopt;
    }
    if (!is_zone(s.substr(p))) return std::nullopt;
    return vb::make_date_serial(y, mo, d, h, m, sec);
}

std::string iso_text(double serial, ColumnKind kind) {
    const vb::DateParts t = vb::split_date_serial(serial);
    char buf[48];
    if (kind == ColumnKind::Time) {
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    } else if (t.hour == 0 && t.minute == 0 && t.second == 0) {
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.year, t.month, t.day);
    } else {
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                      t.second);
    }
    return buf;
}

Variant to_variant(const RawValue& raw, ColumnKind kind) {
    switch (raw.type) {
        case RawValue::Type::Null: return Variant::null();
        case RawValue::Type::Text: return read_text(raw.text, kind);
        case RawValue::Type::Blob:
            if (kind == ColumnKind::Currency) return read_text(raw.text, kind);  // see currency_raw
            return Variant(raw.text);
        case RawValue::Type::Integer:
            if (kind == ColumnKind::Boolean) return Variant(raw.integer != 0);
            if (kind == ColumnKind::Double) return Variant(static_cast<double>(raw.integer));
            if (kind == ColumnKind::Currency) return Variant(currency_of_integer(raw.integer));
            if (kind == ColumnKind::SmallInt && raw.integer >= INT16_MIN && raw.integer <= INT16_MAX)
                return Variant(static_cast<int16_t>(raw.integer));
            return whole_number(raw.integer);
        case RawValue::Type::Real:
            if (kind == ColumnKind::Currency) return Variant(vb::to_currency(Variant(raw.real)));  // 6 outside
            return Variant(raw.real);
    }
    return natural(raw);
}

RawValue to_raw(const Variant& value, ColumnKind kind) {
    if (value.is_empty() || value.is_null()) return RawValue{};
    if (value.is_object()) refuse();
    try {
        return convert(value, kind);
    } catch (const ComError&) {  // VB's 6 or 13 from the conversion: ADO reports the field's status error
        refuse();
    }
}

}  // namespace ado::detail
