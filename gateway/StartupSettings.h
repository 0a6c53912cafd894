// StartupSettings.h: the gateway's saved settings in the settings store of application "TCPServer":
// section "Startup" with the texts the start-up form shows, and section "Monitor" with the length of the
// debug list.
#pragma once

#include <cstddef>
#include <string>

#include "platform/settings/SettingsStore.h"

constexpr const char* kSettingsApplication = "TCPServer";

// The saved texts, as the start-up form loads and saves them; "Cursorlocation" is the list position
// (0 adUseClient, 1 adUseServer). Absent keys read as empty text.
struct StartupTexts {
    std::string Provider;
    std::string Connect;
    std::string IP;
    std::string Port;
    std::string ConnectionTimeout;
    std::string CommandTimeout;
    std::string Cursorlocation;
};

StartupTexts load_startup(const SettingsStore& store);
// "Run Server": saves every text in one write, in the form's order.
void save_startup(SettingsStore& store, const StartupTexts& texts);

// Section "Limits" (MaxConnections, MaxQueuedReply, MaxRequestLine, MaxAllText: numbers of connections and
// of bytes) and section "Access" (Allow: addresses or networks separated by commas; ReadOnly: 0 or 1), as
// saved; absent keys read as empty text, which keeps the default.
struct LimitTexts {
    std::string MaxConnections;
    std::string MaxQueuedReply;
    std::string MaxRequestLine;
    std::string MaxAllText;
    std::string Allow;
    std::string ReadOnly;
};

LimitTexts load_limits(const SettingsStore& store);

// "Monitor" / "DebugLines": the newest lines the debug list keeps (10,000 when absent); ComError 5 for text
// that is not a whole number 1..10,000,000.
size_t debug_lines_setting(const SettingsStore& store);
