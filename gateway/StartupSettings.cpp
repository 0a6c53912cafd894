// StartupSettings.cpp: the keys of the gateway's saved settings.
#include "gateway/StartupSettings.h"

#include <charconv>

#include "common/ComError.h"
#include "common/Conversions.h"
#include "gateway/SSCode.h"

namespace {

constexpr const char* kStartup = "Startup";
constexpr size_t kMaxDebugLines = 10000000;

}  // namespace

StartupTexts load_startup(const SettingsStore& store) {
    StartupTexts t;
    t.Provider = store.get(kStartup, "Provider");
    t.Connect = store.get(kStartup, "Connect");
    t.IP = store.get(kStartup, "IP");
    t.Port = store.get(kStartup, "Port");
    t.CommandTimeout = store.get(kStartup, "CommandTimeout");
    t.ConnectionTimeout = store.get(kStartup, "ConnectionTimeout");
    t.Cursorlocation = store.get(kStartup, "Cursorlocation", "0");
    return t;
}

void save_startup(SettingsStore& store, const StartupTexts& t) {
    store.save(kStartup, {{"Provider", t.Provider},
                          {"Connect", t.Connect},
                          {"IP", t.IP},
                          {"Port", t.Port},
                          {"ConnectionTimeout", t.ConnectionTimeout},
                          {"CommandTimeout", t.CommandTimeout},
                          {"Cursorlocation", t.Cursorlocation}});
}

LimitTexts load_limits(const SettingsStore& store) {
    LimitTexts t;
    t.MaxConnections = store.get("Limits", "MaxConnections");
    t.MaxQueuedReply = store.get("Limits", "MaxQueuedReply");
    t.MaxRequestLine = store.get("Limits", "MaxRequestLine");
    t.MaxAllText = store.get("Limits", "MaxAllText");
    t.Allow = store.get("Access", "Allow");
    t.ReadOnly = store.get("Access", "ReadOnly");
    return t;
}

size_t debug_lines_setting(const SettingsStore& store) {
    const std::string text = vb::trim(store.get("Monitor", "DebugLines"));
    if (text.empty()) return SSCode::kDefaultDebugLines;
    size_t lines = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), lines);
    if (ec != std::errc() || end != text.data() + text.size() || lines < 1 || lines > kMaxDebugLines)
        throw ComError(kErrInvalidCall, "GatewaySettings",
                       "DebugLines \"" + text + "\" is not a number of lines (1..10000000)");
    return lines;
}
