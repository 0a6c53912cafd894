// GatewaySettings_test.cpp: the settings' checked conversions, and the saved texts' round trip through the
// settings store with flags taking precedence.
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "gateway/HeadlessOptions.h"
#include "tests/support/ErrorOf.h"

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
    char pattern[] = "/tmp/gateway-settings.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::filesystem::path file = std::filesystem::path(pattern) / "TCPServer" / "settings.ini";
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
    std::filesystem::remove_all(pattern);
}
