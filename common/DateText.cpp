// DateText.cpp: dates to their default text form and text to dates, with en-US settings.
//
// Text form: "M/d/yyyy" when the time is midnight, "h:mm:ss AM" alone on 30 December 1899 (serial
// whole part 0), both joined by one blank otherwise. Fractions of a second round to the nearest second.
//
// Reading: the text is cut into numbers, month names, AM/PM designators and separators. A time is
// numbers joined by ":" (or one number followed by AM/PM); what is left is the date, read month first
// ("12/6/2026"), day first when the first number cannot be a month ("13/6/2026"), year first when the
// first number has three or more digits ("2026-12-06"), or with a month name ("Dec 6, 2026", "6 Dec
// 2026"). Two-digit years 00–29 are 2000–2029 and 30–99 are 1930–1999; a missing year is the current
// one. A bare number is not a date, nor is anything with a word we do not know (weekday names).
//
// Fractional seconds ("2026-12-06 15:04:05.017") are accepted in ISO-8601 text only (year first, with
// a blank or "T" before the time) and rounded to the nearest second: databases hand out timestamps in
// that form. Elsewhere a "." is not accepted in a date.
#include <ctime>

#include "common/AsciiCase.h"
#include "common/Conversions.h"
#include "common/ConversionsDetail.h"

namespace vb {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

int current_year() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_year + 1900;
}

// ---- ISO-8601: yyyy-mm-dd[( |T)hh:mm[:ss[.fff]]] ----

// Reads `min`..`max` digits at `i`; nullopt when there are fewer or more.
std::optional<int> read_digits(std::string_view s, size_t& i, size_t min, size_t max) {
    size_t start = i;
    int value = 0;
    while (i < s.size() && is_digit(s[i]) && i - start < max + 1) value = value * 10 + (s[i++] - '0');
    if (i - start < min || i - start > max) return std::nullopt;
    return value;
}

bool eat(std::string_view s, size_t& i, char c) {
    if (i < s.size() && s[i] == c) return ++i, true;
    return false;
}

// nullopt when the text is not in this form at all; a result of nullopt inside when it is but names
// no valid date (the general reader would reject it too).
std::optional<std::optional<double>> parse_iso(std::string_view s) {
    size_t i = 0;
    int hour = 0, minute = 0, second = 0;
    bool round_up = false;
    const auto year = read_digits(s, i, 4, 4);
    if (!year || !eat(s, i, '-')) return std::nullopt;
    const auto month = read_digits(s, i, 1, 2);
    if (!month || !eat(s, i, '-')) return std::nullopt;
    const auto day = read_digits(s, i, 1, 2);
    if (!day) return std::nullopt;
    if (i < s.size()) {
        if (!eat(s, i, 'T') && !eat(s, i, ' ')) return std::nullopt;
        const auto h = read_digits(s, i, 1, 2);
        if (!h || !eat(s, i, ':')) return std::nullopt;
        const auto m = read_digits(s, i, 2, 2);
        if (!m) return std::nullopt;
        hour = *h;
        minute = *m;
        if (eat(s, i, ':')) {
            const auto sec = read_digits(s, i, 2, 2);
            if (!sec) return std::nullopt;
            second = *sec;
            if (eat(s, i, '.')) {
                if (i >= s.size() || !is_digit(s[i])) return std::nullopt;
                round_up = s[i] >= '5';
                while (i < s.size() && is_digit(s[i])) ++i;
            }
        }
    }
    if (i != s.size()) return std::nullopt;
    if (*month < 1 || *month > 12 || *day < 1 || *day > detail::days_in_month(*year, *month) || hour > 23 ||
        minute > 59 || second > 59 || *year < 100)
        return std::optional<double>();
    return detail::serial_from_parts(*year, *month, *day, hour, minute, second + (round_up ? 1 : 0));
}

// ---- General en-US reader ----

enum class Kind { Number, Month, Meridiem, Separator };

struct Token {
    Kind kind = Kind::Separator;
    int value = 0;  // number value, month 1..12, 1 for PM and 0 for AM, or the separator character
    int width = 0;  // digits of a number
};

constexpr const char* kMonths[] = {"january", "february", "march",     "april",   "may",      "june",
                                   "july",    "august",   "september", "october", "november", "december"};

// A month name, whole or shortened to three letters or more ("Dec", "Sept"), or AM/PM ("A", "PM").
std::optional<Token> word_token(std::string_view word) {
    if (word.size() > 9) return std::nullopt;  // "september" is the longest word we know
    char folded[9];
    for (size_t i = 0; i < word.size(); ++i) folded[i] = ascii_lower(word[i]);
    const std::string_view w(folded, word.size());
    if (w == "am" || w == "a") return Token{Kind::Meridiem, 0, 0};
    if (w == "pm" || w == "p") return Token{Kind::Meridiem, 1, 0};
    if (w.size() >= 3)
        for (int m = 0; m < 12; ++m)
            if (std::string_view(kMonths[m]).substr(0, w.size()) == w) return Token{Kind::Month, m + 1, 0};
    return std::nullopt;
}

// The tokens of one text. A date has few: "December 6, 2026 3:04:05 PM" makes 14, so longer text is
// not a date and no allocation is needed.
struct Tokens {
    static constexpr size_t kCapacity = 24;
    Token items[kCapacity];
    size_t count = 0;
    bool push(Token token) {
        if (count == kCapacity) return false;
        items[count++] = token;
        return true;
    }
    size_t size() const { return count; }
    const Token& operator[](size_t i) const { return items[i]; }
};

std::optional<Tokens> tokenize(std::string_view s) {
    Tokens tokens;
    for (size_t i = 0; i < s.size();) {
        const char c = s[i];
        if (is_digit(c)) {
            int value = 0, width = 0;
            for (; i < s.size() && is_digit(s[i]); ++i, ++width) {
                if (width == 4) return std::nullopt;  // no date part has more than four digits
                value = value * 10 + (s[i] - '0');
            }
            if (!tokens.push({Kind::Number, value, width})) return std::nullopt;
        } else if (is_letter(c)) {
            const size_t start = i;
            while (i < s.size() && is_letter(s[i])) ++i;
            const auto word = word_token(s.substr(start, i - start));
            if (!word) return std::nullopt;
            if (!tokens.push(*word)) return std::nullopt;
        } else if (is_blank(c)) {
            while (i < s.size() && is_blank(s[i])) ++i;
            if (!tokens.push({Kind::Separator, ' ', 0})) return std::nullopt;
        } else if (c == '/' || c == '-' || c == ',' || c == ':') {
            if (!tokens.push({Kind::Separator, c, 0})) return std::nullopt;
            ++i;
        } else {
            return std::nullopt;
        }
    }
    return tokens;
}

bool is_sep(const Token& t, char c) { return t.kind == Kind::Separator && t.value == c; }

struct Clock {
    int hour = 0, minute = 0, second = 0;
};

// Reads the time that starts at tokens[begin]: h:mm[:ss] [AM|PM] or h AM|PM. Sets `end` past it.
std::optional<Clock> read_time(const Tokens& t, size_t begin, size_t& end) {
    int parts[3] = {t[begin].value, 0, 0};
    int count = 1;
    size_t i = begin + 1;
    while (count < 3 && i + 1 < t.size() && is_sep(t[i], ':') && t[i + 1].kind == Kind::Number) {
        if (t[i + 1].width > 2) return std::nullopt;
        parts[count++] = t[i + 1].value;
        i += 2;
    }
    if (i < t.size() && is_sep(t[i], ':')) return std::nullopt;  // "3:" or a fourth part
    size_t j = i < t.size() && is_sep(t[i], ' ') ? i + 1 : i;
    const bool meridiem = j < t.size() && t[j].kind == Kind::Meridiem;
    if (count == 1 && !meridiem) return std::nullopt;
    if (t[begin].width > 2 || parts[0] > 23 || parts[1] > 59 || parts[2] > 59) return std::nullopt;
    Clock clock{parts[0], parts[1], parts[2]};
    if (meridiem) {  // AM/PM matters only up to 12: "13:00 AM" is 1 PM, "00:00 PM" noon
        if (t[j].value == 1 && clock.hour < 12) clock.hour += 12;
        else if (t[j].value == 0 && clock.hour == 12) clock.hour = 0;
        i = j + 1;
    }
    end = i;
    return clock;
}

int window_year(const Token& number) {
    if (number.width > 2) return number.value;
    return number.value < 30 ? 2000 + number.value : 1900 + number.value;
}

struct Ymd {
    int year, month, day;
};

// Date elements (numbers and at most one month name) in order; nullopt when separators are misplaced.
std::optional<Ymd> read_date(const Tokens& t, size_t begin, size_t end) {
    Token numbers[3];
    size_t number_count = 0;
    int month_name = 0;
    size_t month_position = 0;  // how many numbers came before the month name
    bool need_element = true;   // start, or just after a non-blank separator
    for (size_t i = begin; i < end; ++i) {
        if (t[i].kind == Kind::Separator) {
            if (t[i].value == ' ') continue;
            if (need_element || t[i].value == ':') return std::nullopt;  // leading or doubled separator
            need_element = true;
            continue;
        }
        if (t[i].kind == Kind::Meridiem) return std::nullopt;
        if (t[i].kind == Kind::Month) {
            if (month_name != 0) return std::nullopt;
            month_name = t[i].value;
            month_position = number_count;
        } else {
            if (number_count == 3) return std::nullopt;
            numbers[number_count++] = t[i];
        }
        need_element = false;
    }
    if (need_element) return std::nullopt;  // trailing separator or nothing at all
    const auto small = [](const Token& n) { return n.width <= 2; };
    if (month_name != 0) {
        if (number_count == 2 && month_position == 1 && !small(numbers[0]))  // "2026 Dec 6"
            return Ymd{numbers[0].value, month_name, numbers[1].value};
        if (number_count == 2 && month_position < 2) return Ymd{window_year(numbers[1]), month_name, numbers[0].value};
        if (number_count == 1) {  // "Dec 6" this year; "Jan 35" is January 1935
            if (small(numbers[0]) && numbers[0].value >= 1 && numbers[0].value <= 31)
                return Ymd{current_year(), month_name, numbers[0].value};
            return Ymd{window_year(numbers[0]), month_name, 1};
        }
        return std::nullopt;
    }
    if (number_count == 3) {
        const Token &a = numbers[0], &b = numbers[1], &c = numbers[2];
        if (!small(a)) return Ymd{a.value, b.value, c.value};
        if (a.value <= 12) return Ymd{window_year(c), a.value, b.value};
        return Ymd{window_year(c), b.value, a.value};  // 13 and more can only be the day
    }
    if (number_count == 2) {
        const Token &a = numbers[0], &b = numbers[1];
        if (a.value <= 12 && small(b) && b.value <= 31) return Ymd{current_year(), a.value, b.value};
        if (a.value <= 12) return Ymd{window_year(b), a.value, 1};  // "12/2026"
        if (small(a) && b.value <= 12) return Ymd{current_year(), b.value, a.value};
    }
    return std::nullopt;  // one bare number, or nothing that fits
}

std::optional<double> parse_general(std::string_view s) {
    const auto tokens = tokenize(s);
    if (!tokens || tokens->size() == 0) return std::nullopt;
    const Tokens& t = *tokens;
    // The time starts at the first number followed by ":" or by AM/PM.
    size_t time_begin = t.size(), time_end = t.size();
    std::optional<Clock> clock;
    for (size_t i = 0; i < t.size() && !clock; ++i) {
        if (t[i].kind != Kind::Number) continue;
        const bool colon = i + 1 < t.size() && is_sep(t[i + 1], ':');
        const size_t j = i + 1 < t.size() && is_sep(t[i + 1], ' ') ? i + 2 : i + 1;
        const bool meridiem = j < t.size() && t[j].kind == Kind::Meridiem;
        if (!colon && !meridiem) continue;
        clock = read_time(t, i, time_end);
        if (!clock) return std::nullopt;
        time_begin = i;
    }
    // The date lies before or after the time, never on both sides, with a blank between them.
    size_t date_begin = 0, date_end = time_begin;
    if (clock) {
        const bool before = time_begin > 0, after = time_end < t.size();
        if (before && after) return std::nullopt;
        if (before && !is_sep(t[time_begin - 1], ' ')) return std::nullopt;
        if (after && !is_sep(t[time_end], ' ')) return std::nullopt;
        if (after) date_begin = time_end + 1, date_end = t.size();  // past the blank
        if (before) date_end = time_begin - 1;
        if (date_begin == date_end) {  // time alone: 30 December 1899
            return detail::serial_from_parts(1899, 12, 30, clock->hour, clock->minute, clock->second);
        }
    }
    const auto date = read_date(t, date_begin, date_end);
    if (!date || date->year < 100 || date->year > 9999 || date->month < 1 || date->month > 12 || date->day < 1 ||
        date->day > detail::days_in_month(date->year, date->month))
        return std::nullopt;
    const Clock time = clock.value_or(Clock{});
    return detail::serial_from_parts(date->year, date->month, date->day, time.hour, time.minute, time.second);
}

}  // namespace

std::string date_text(double serial) {
    const DateParts p = split_date_serial(serial);
    const bool day_zero = p.year == 1899 && p.month == 12 && p.day == 30;
    const bool midnight = p.hour == 0 && p.minute == 0 && p.second == 0;
    char buf[32];  // "12/31/9999 12:59:59 PM" at most
    char* out = buf;
    const auto number = [&](int value) {  // 1 to 9999, no leading zeros
        char digits[4];
        int count = 0;
        do digits[count++] = static_cast<char>('0' + value % 10);
        while ((value /= 10) != 0 && count < 4);
        while (count > 0) *out++ = digits[--count];
    };
    const auto two_digits = [&](int value) {
        *out++ = static_cast<char>('0' + value / 10);
        *out++ = static_cast<char>('0' + value % 10);
    };
    if (!day_zero) {
        number(p.month);
        *out++ = '/';
        number(p.day);
        *out++ = '/';
        number(p.year);
    }
    if (day_zero || !midnight) {
        if (!day_zero) *out++ = ' ';
        number(p.hour % 12 == 0 ? 12 : p.hour % 12);
        *out++ = ':';
        two_digits(p.minute);
        *out++ = ':';
        two_digits(p.second);
        *out++ = ' ';
        *out++ = p.hour < 12 ? 'A' : 'P';
        *out++ = 'M';
    }
    return std::string(buf, out);
}

std::optional<double> parse_date(std::string_view text) {
    size_t first = 0, last = text.size();
    while (first < last && is_blank(text[first])) ++first;
    while (last > first && is_blank(text[last - 1])) --last;
    text = text.substr(first, last - first);
    if (const auto iso = parse_iso(text)) return *iso;
    return parse_general(text);
}

}  // namespace vb
