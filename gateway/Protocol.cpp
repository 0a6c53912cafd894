// Protocol.cpp: refusals at the protocol's limits, numbers from tokens, value letters and texts.
#include "gateway/Protocol.h"

#include <cmath>

#include "common/Conversions.h"
#include "common/Cp1252.h"
#include "common/WireCodec.h"

namespace protocol {

namespace {

constexpr int32_t kBadArgument = kErrInvalidCall;   // 5
constexpr int32_t kOverflow = kErrOverflow;         // 6

std::string shown(std::string_view token) {
    constexpr size_t kShownLength = 40;   // a whole statement in a message helps nobody
    std::string text = cp1252::to_utf8(token.substr(0, kShownLength));
    return "\"" + text + (token.size() > kShownLength ? "...\"" : "\"");
}

}  // namespace

int16_t int16_token(std::string_view token, const char* what) {
    try {
        return vb::to_int16(Variant(cp1252::to_utf8(token)));
    } catch (const ComError& e) {
        if (e.number() == kErrOverflow)
            throw RequestRefused(kOverflow, std::string(what) + " " + shown(token) + " is outside -32768..32767");
        throw RequestRefused(kBadArgument, std::string(what) + " " + shown(token) + " is not a whole number");
    }
}

int16_t int16_of(double value, const char* what) {
    const double rounded = vb::round_half_even(value);
    if (!(rounded >= -32768 && rounded <= 32767))
        throw RequestRefused(kOverflow, std::string(what) + " " + vb::double_text(value) + " is outside -32768..32767");
    return static_cast<int16_t>(rounded);
}

std::vector<std::string> field_names(std::string_view rest) {
    std::vector<std::string> names;
    while (!rest.empty()) {
        if (names.size() == kMaxNames)
            throw RequestRefused(kBadArgument, "more than 12 field names in one request");
        names.push_back(cp1252::to_utf8(wire::next_token(rest)));
    }
    return names;
}

std::string error_entry(int32_t number, std::string_view description) {
    std::string entry = vb::signed_text(static_cast<int64_t>(number));
    entry += wire::kSeparator;
    entry += description;
    return entry;
}

std::string value_text(const Variant& value) { return value.is_null() ? std::string() : vb::to_text(value); }

char value_letter(const Variant& value) {
    switch (value.type()) {
        case VarType::String: return 's';
        case VarType::Date: return 'd';
        default: return 'n';
    }
}

char cell_letter(const Variant& value) {
    switch (value.type()) {
        case VarType::String:
        case VarType::Null: return 's';
        case VarType::Date: return 'd';
        case VarType::Integer:
        case VarType::Long: return 'i';
        default: return 'n';
    }
}

}  // namespace protocol
