// AsciiCase.h: case folding and character classes of ASCII only, for names the system matches without regard
// to case (member names, ProgIDs, providers, connection-string keys, month names, SQL keywords) and for
// blanks in SQL text. Never locale-dependent: <cctype> follows the process locale, and in a Turkish one-byte
// locale tolower('I') is the dotless i (0xFD), so "INSERT" would not read as "insert".
#pragma once

#include <string>
#include <string_view>

inline char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
inline char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
inline bool ascii_is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool ascii_is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline bool ascii_is_alnum(char c) { return ascii_is_alpha(c) || (c >= '0' && c <= '9'); }

inline std::string ascii_lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = ascii_lower(c);
    return out;
}

inline std::string ascii_uppered(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = ascii_upper(c);
    return out;
}

inline bool equals_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}
