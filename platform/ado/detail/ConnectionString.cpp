// ConnectionString.cpp: parsing of ADO-style connection strings.
#include "platform/ado/detail/ConnectionString.h"

#include <cctype>

namespace ado::detail {
namespace {

std::string trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

}  // namespace

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::pair<std::string, std::string>> parse_connection_string(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> pairs;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        const std::string part = text.substr(start, end - start);
        start = end + 1;
        if (trim(part).empty()) continue;
        const size_t eq = part.find('=');
        std::string key = lower(trim(part.substr(0, eq)));
        std::string value = eq == std::string::npos ? "" : trim(part.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        pairs.emplace_back(std::move(key), std::move(value));
    }
    return pairs;
}

}  // namespace ado::detail
