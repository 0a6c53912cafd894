// ConnectionString.cpp: parsing of ADO-style connection strings.
#include "platform/ado/detail/ConnectionString.h"

#include <cctype>

#include "common/AsciiCase.h"

namespace ado::detail {
namespace {

std::string trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// Splits at ";" outside quotes, so a quoted value ("a;b" or 'a;b') may hold one. A quote opens only at
// the start of a value, so "User ID=O'Brien" is a plain value.
std::vector<std::string> split_parts(const std::string& text) {
    std::vector<std::string> parts(1);
    char quote = 0;
    bool value_start = false;
    for (char c : text) {
        if (quote) {
            if (c == quote) quote = 0;
        } else if (value_start && (c == '"' || c == '\'')) {
            quote = c;
        } else if (c == ';') {
            parts.emplace_back();
            value_start = false;
            continue;
        }
        if (c == '=') value_start = !quote;
        else if (c != ' ') value_start = false;
        parts.back() += c;
    }
    return parts;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> parse_connection_string(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const std::string& part : split_parts(text)) {
        if (trim(part).empty()) continue;
        const size_t eq = part.find('=');
        std::string key = ascii_lowered(trim(part.substr(0, eq)));
        std::string value = eq == std::string::npos ? "" : trim(part.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        pairs.emplace_back(std::move(key), std::move(value));
    }
    return pairs;
}

}  // namespace ado::detail
