// GatewaySettings.cpp: checked conversions of the gateway settings from text.
#include "gateway/GatewaySettings.h"

#include <charconv>

#include "common/ComError.h"
#include "common/Conversions.h"

namespace {

constexpr const char* kSource = "GatewaySettings";

[[noreturn]] void refuse(const std::string& what) { throw ComError(kErrInvalidCall, kSource, what); }

// A plain decimal whole number with blanks around it and no sign, fraction or grouping: a port or a
// setting a person types. Locale-independent.
template <class Number>
bool whole_number(std::string_view text, Number& out) {
    const std::string trimmed = vb::trim(text);
    if (trimmed.empty()) return false;
    const auto [end, ec] = std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), out);
    return ec == std::errc() && end == trimmed.data() + trimmed.size();
}

}  // namespace

uint16_t port_from_text(std::string_view text) {
    long port = 0;
    if (!whole_number(text, port) || port < 1 || port > 65535)
        refuse("Port \"" + std::string(text) + "\" is not a TCP port (a whole number 1..65535)");
    return static_cast<uint16_t>(port);
}

int16_t timeout_from_text(std::string_view text, const char* setting) {
    if (vb::trim(text).empty()) return 0;
    long seconds = 0;
    if (!whole_number(text, seconds) || seconds < 0 || seconds > 32767)
        refuse(std::string(setting) + " \"" + std::string(text) + "\" is not a number of seconds (0..32767)");
    return static_cast<int16_t>(seconds);
}

uint64_t bounded_from_text(std::string_view text, const char* setting, uint64_t fallback, uint64_t min, uint64_t max) {
    if (vb::trim(text).empty()) return fallback;
    uint64_t value = 0;
    if (!whole_number(text, value) || value < min || value > max)
        refuse(std::string(setting) + " \"" + std::string(text) + "\" is not a whole number " + std::to_string(min) +
               ".." + std::to_string(max));
    return value;
}

bool switch_from_text(std::string_view text, const char* setting, bool fallback) {
    const std::string trimmed = vb::trim(text);
    if (trimmed.empty()) return fallback;
    if (trimmed != "0" && trimmed != "1") refuse(std::string(setting) + " \"" + trimmed + "\" is neither 0 nor 1");
    return trimmed == "1";
}

int32_t cursor_location_from_text(std::string_view text) {
    long value = 0;
    if (!whole_number(text, value) || (value != GatewaySettings::adUseServer && value != GatewaySettings::adUseClient))
        refuse("CursorLocation \"" + std::string(text) + "\" is neither 2 (adUseServer) nor 3 (adUseClient)");
    return static_cast<int32_t>(value);
}

int32_t cursor_location_from_position(std::string_view text) {
    long position = 0;
    if (vb::trim(text).empty()) return GatewaySettings::adUseClient;
    if (!whole_number(text, position) || position < 0 || position > 1)
        refuse("Cursorlocation \"" + std::string(text) + "\" is neither 0 (adUseClient) nor 1 (adUseServer)");
    return position == 0 ? GatewaySettings::adUseClient : GatewaySettings::adUseServer;
}
