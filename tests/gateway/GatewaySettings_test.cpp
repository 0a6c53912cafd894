// GatewaySettings_test.cpp: the settings' checked conversions, and the saved texts' round trip through the
// settings store with flags taking precedence.
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "gateway/HeadlessOptions.h"
#include "tests/support/ErrorOf.h"
#include "tests/support/TempDir.h"

TEST(GatewaySettings, EveryTcpPortIsAcceptedAndNothingElse) {
    EXPECT_EQ(port_from_text("1"), 1);
    EXPECT_EQ(port_from_text(" 40000 "), 40000);   // beyond the 16-bit signed range
    EXPECT_EQ(port_from_text("65535"), 65535);
    for (const char* bad : {"", "0", "65536", "-1", "80.5", "1e3", "12ab", "&H50"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(error_number([&] { port_from_text(bad); }), 5);
    }
    EXPECT_EQ(timeout_from_text("", "CommandTimeout"), 0);
    EXPECT_EQ(error_number([&] { timeout_from_text("40000", "CommandTimeout"); }), 5);
    EXPECT_EQ(cursor_location_from_position("1"), GatewaySettings::adUseServer);
    EXPECT_EQ(cursor_location_from_position("0"), GatewaySettings::adUseClient);
}

TEST(GatewaySettings, SavedTextsComeBackAndFlagsWin) {
    const test_support::TempDir folder("gateway-settings");
    const std::filesystem::path file = std::filesystem::path(folder.path()) / "TCPServer" / "settings.ini";
    StartupTexts saved{"PostgreSQL", "Host=db;Password=a;b", "10.0.0.1", "40000", "5", "30", "1"};
    {
        SettingsStore store(file);
        save_startup(store, saved);
    }
    const StartupTexts loaded = load_startup(SettingsStore(file));
    EXPECT_EQ(loaded.Connect, saved.Connect);
    EXPECT_EQ(loaded.Cursorlocation, "1");

    const GatewaySettings from_file = resolve_settings(loaded, parse_options({"--headless"}));
    EXPECT_EQ(from_file.Port, 40000);
    EXPECT_EQ(from_file.ConnectionTimeout, 5);
    EXPECT_EQ(from_file.CommandTimeout, 30);
    EXPECT_EQ(from_file.CursorLocation, GatewaySettings::adUseServer);

    const GatewaySettings flagged = resolve_settings(
        loaded, parse_options({"--headless", "--port=1007", "--provider", "SQLite", "--cursor-location", "3"}));
    EXPECT_EQ(flagged.Port, 1007);
    EXPECT_EQ(flagged.Provider, "SQLite");
    EXPECT_EQ(flagged.Connect, saved.Connect);
    EXPECT_EQ(flagged.CursorLocation, GatewaySettings::adUseClient);
}

TEST(GatewaySettings, LimitsAndAccessComeFromFlagsOverSavedTexts) {
    const GatewayLimits defaults = resolve_limits(LimitTexts{}, parse_options({"--headless"}));
    EXPECT_EQ(defaults.max_queued_reply, size_t{64} << 20);
    EXPECT_EQ(defaults.max_request_line, 16 << 20);
    EXPECT_TRUE(defaults.allow.empty());
    EXPECT_FALSE(defaults.read_only);

    const LimitTexts saved{"50", "2097152", "65536", "", "10.0.0.0/8, 192.168.1.7", "1"};
    const GatewayLimits from_file = resolve_limits(saved, parse_options({"--headless"}));
    EXPECT_EQ(from_file.max_connections, 50u);
    EXPECT_EQ(from_file.max_queued_reply, 2097152u);
    EXPECT_EQ(from_file.max_request_line, 65536);
    EXPECT_EQ(from_file.allow.text(), "10.0.0.0/8, 192.168.1.7/32");
    EXPECT_TRUE(from_file.read_only);
    EXPECT_TRUE(from_file.allow.allows("10.200.3.4"));
    EXPECT_FALSE(from_file.allow.allows("192.168.1.8"));
    EXPECT_FALSE(from_file.allow.allows("::1"));

    const GatewayLimits flagged = resolve_limits(
        saved, parse_options({"--headless", "--allow", "127.0.0.0/8", "--allow=172.16.5.9/12", "--max-connections=2"}));
    EXPECT_EQ(flagged.allow.text(), "127.0.0.0/8, 172.16.0.0/12");   // flags replace the saved list
    EXPECT_EQ(flagged.max_connections, 2u);
    EXPECT_TRUE(resolve_limits(LimitTexts{}, parse_options({"--headless", "--read-only"})).read_only);

    for (const char* bad : {"127.0.0.0/33", "127.1", "localhost", "10.0.0.0/", "1.2.3.4/8x", ""}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(error_number([&] { resolve_limits(LimitTexts{}, parse_options({"--allow", bad})); }), 5);
    }
    LimitTexts too_small;
    too_small.MaxQueuedReply = "100";
    EXPECT_EQ(error_number([&] { resolve_limits(too_small, parse_options({})); }), 5);
    LimitTexts not_a_switch;
    not_a_switch.ReadOnly = "yes";
    EXPECT_EQ(error_number([&] { resolve_limits(not_a_switch, parse_options({})); }), 5);
}
