// GatewaySettings.h: the settings the listening server runs with (provider, connect text, time-outs,
// cursor location, address, port), and their conversion from the texts the settings store, the start-up
// form and the command line give. Every conversion checks its range and raises ComError 5 with a message
// that names the setting, so bad input is refused before anything listens.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct GatewaySettings {
    static constexpr int32_t adUseServer = 2;
    static constexpr int32_t adUseClient = 3;

    std::string Provider;
    std::string Connect;
    int16_t CommandTimeout = 0;      // seconds; 0 leaves the provider's default
    int16_t ConnectionTimeout = 0;
    int32_t CursorLocation = adUseClient;
    std::string IP;                  // dotted local address; empty listens on every address
    uint16_t Port = 0;               // a TCP port, 1..65535
};

// A TCP port: a whole number 1..65535 (blanks around allowed). All of them, not only the 16-bit signed
// range: ports above 32767 are common, and the system hands them out when asked for a free one.
uint16_t port_from_text(std::string_view text);
// A time-out in seconds: empty text is 0 (the provider's default), else a whole number 0..32767.
int16_t timeout_from_text(std::string_view text, const char* setting);
// A count or a size in bytes: empty text keeps `fallback`, else a whole number within min..max (ComError 5
// names the setting and the range).
uint64_t bounded_from_text(std::string_view text, const char* setting, uint64_t fallback, uint64_t min, uint64_t max);
// A switch: empty text keeps `fallback`, "0" is off and "1" on.
bool switch_from_text(std::string_view text, const char* setting, bool fallback);
// The ADO cursor location: 2 (adUseServer) or 3 (adUseClient).
int32_t cursor_location_from_text(std::string_view text);
// The saved list position of the start-up form's cursor location list: 0 adUseClient, 1 adUseServer;
// empty text is position 0.
int32_t cursor_location_from_position(std::string_view text);
