// HeadlessOptions.h: the command line of vantrel, and the settings it resolves to: each setting comes from
// its flag when given, else from the settings store. With the forms, the flags fill the start-up form's
// boxes instead.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "gateway/GatewayLimits.h"
#include "gateway/GatewaySettings.h"
#include "gateway/StartupSettings.h"

struct HeadlessOptions {
    bool headless = false;
    bool help = false;
    bool debug = false;
    std::optional<std::string> provider, connect, ip, port, command_timeout, connection_timeout, cursor_location;
    std::optional<std::string> settings_file;
    std::optional<std::string> max_connections, max_queued_reply, max_request_line, max_all_text;
    std::vector<std::string> allow;   // --allow, repeatable; any given replaces the saved list
    bool read_only = false;           // --read-only; the saved ReadOnly = 1 switches it on as well
};

// Parses the arguments after the program name ("--port 1007" or "--port=1007"); an unknown flag or a flag
// without its value raises ComError 5 with the reason.
HeadlessOptions parse_options(const std::vector<std::string>& args);

// The text of --help.
std::string usage_text();

// Flags over saved texts, converted and checked (ComError 5 names the bad setting).
GatewaySettings resolve_settings(const StartupTexts& saved, const HeadlessOptions& options);

// The limits and access rules: flags over saved texts over the defaults, converted and checked (ComError 5
// names the bad setting).
GatewayLimits resolve_limits(const LimitTexts& saved, const HeadlessOptions& options);

// Flags over saved texts, unconverted, for the start-up form to show (--cursor-location 2|3 becomes the
// list position; ComError 5 when it is neither).
StartupTexts override_texts(StartupTexts saved, const HeadlessOptions& options);
