// SettingsStore_test.cpp: values come back exactly as saved, whatever they hold; bad files are refused
// and left alone; a save that cannot be written changes nothing.
#include "platform/settings/SettingsStore.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

#include "tests/support/ErrorOf.h"
#include "tests/support/TempDir.h"

namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    void write_file(const std::string& text) {
        std::filesystem::create_directories(file_.parent_path());
        std::ofstream(file_, std::ios::binary) << text;
    }
    std::string read_file() {
        std::ifstream in(file_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    const test_support::TempDir folder_{"settings-test"};
    const std::filesystem::path file_ = std::filesystem::path(folder_.path()) / "TCPServer" / "settings.ini";
};

}  // namespace

TEST_F(SettingsStoreTest, ValuesRoundTripExactly) {
    const std::string long_value = [] {
        std::string v;
        for (int i = 0; i < 700; ++i) v += static_cast<char>(i % 7 == 0 ? ' ' : i % 11 == 0 ? ';' : 'a' + i % 26);
        return v + "\\";
    }();
    const std::vector<std::pair<std::string, std::string>> values = {
        {"Provider", "SQLite"},
        {"Connect", "Data Source=/srv/db/demo.db;Mode=ReadWrite"},
        {"Empty", ""},
        {"Blanks", "  both ends  "},
        {"Comment", "x ;not a comment #nor this"},
        {"Hash", "#starts with a hash"},
        {"Semicolon", ";starts with a semicolon"},
        {"Lines", "one\r\ntwo\nthree\ttab"},
        {"Backslashes", "C:\\path\\\\x41\\"},
        {"Controls", std::string("a\x01" "b\x7F", 4)},
        {"Utf8", "Bj\xC3\xB6rk \xE2\x82\xAC"},
        {"Long", long_value},
        {"Port", "40000"},
    };
    {
        SettingsStore store(file_);
        store.save("Startup", values);
    }
    for (const std::string& line : [&] {
             std::vector<std::string> lines;
             std::ifstream in(file_);
             for (std::string l; std::getline(in, l);) lines.push_back(l);
             return lines;
         }())
        EXPECT_LT(line.size(), 200u) << line;   // the reader's line limit
    SettingsStore again(file_);
    for (const auto& [key, value] : values) {
        SCOPED_TRACE(key);
        EXPECT_EQ(again.get("Startup", key), value);
        EXPECT_EQ(again.get("startup", key), value);   // names match without regard to case
    }
    EXPECT_EQ(again.get("Startup", "Absent", "fallback"), "fallback");
    EXPECT_EQ(again.get("Other", "Provider"), "");
}

TEST_F(SettingsStoreTest, SavingKeepsOtherSectionsAndReplacesOneValue) {
    write_file("; written by hand\n[Startup]\nIP = 127.0.0.1\nPort=1007\n[Monitor]\nDebugLines=500\n");
    SettingsStore store(file_);
    EXPECT_EQ(store.get("Startup", "IP"), "127.0.0.1");
    store.save("Startup", "port", "2000");
    SettingsStore again(file_);
    EXPECT_EQ(again.get("Startup", "Port"), "2000");
    EXPECT_EQ(again.get("Startup", "IP"), "127.0.0.1");
    EXPECT_EQ(again.get("Monitor", "DebugLines"), "500");
    for (const auto& entry : std::filesystem::directory_iterator(file_.parent_path()))
        EXPECT_EQ(entry.path().filename(), "settings.ini");   // no temporary file left behind
}

TEST_F(SettingsStoreTest, MissingFileIsEmptyAndBadFilesAreRefusedUntouched) {
    EXPECT_EQ(SettingsStore(file_).get("Startup", "Port", "none"), "none");
    const std::string bad = "[Startup]\nPort=1007\nthis line has no equals sign\n";
    write_file(bad);
    const ComError e = error_of([&] { SettingsStore store(file_); });
    EXPECT_EQ(e.number(), 5);
    EXPECT_NE(e.description().find("line 3"), std::string::npos) << e.description();
    EXPECT_EQ(read_file(), bad);
    write_file("[Startup]\nConnect=" + std::string(250, 'x') + "\n");   // beyond the reader's line
    EXPECT_EQ(error_number([&] { SettingsStore store(file_); }), 5);
    // Names the store could not write back: none, and longer than a save allows.
    for (const std::string& line : {std::string("= no name"), std::string(41, 'k') + "=1"}) {
        write_file("[Startup]\n" + line + "\n");
        EXPECT_EQ(error_number([&] { SettingsStore store(file_); }), 5) << line;
    }
}

TEST_F(SettingsStoreTest, BadNamesAndFailedWritesChangeNothing) {
    SettingsStore store(file_);
    store.save("Startup", "Port", "1007");
    EXPECT_EQ(error_number([&] { store.save("Startup", "Po=rt", "1"); }), 5);
    EXPECT_EQ(error_number([&] { store.save("Start]up", "Port", "1"); }), 5);
    if (::geteuid() != 0) {   // root writes through permissions
        ::chmod(file_.parent_path().c_str(), 0500);
        EXPECT_EQ(error_number([&] { store.save("Startup", "Port", "2000"); }), 75);
        ::chmod(file_.parent_path().c_str(), 0700);
        EXPECT_EQ(store.get("Startup", "Port"), "1007");
    }
    EXPECT_EQ(SettingsStore(file_).get("Startup", "Port"), "1007");
}

TEST(SettingsStoreFile, FollowsXdgConfigHome) {
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string previous = saved ? saved : "";
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(SettingsStore::default_file("TCPServer"), "/cfg/TCPServer/settings.ini");
    ::setenv("XDG_CONFIG_HOME", "relative", 1);   // not absolute: ignored, as the XDG rules say
    ::setenv("HOME", "/home/u", 1);
    EXPECT_EQ(SettingsStore::default_file("TCPServer"), "/home/u/.config/TCPServer/settings.ini");
    ::setenv("HOME", home.c_str(), 1);
    if (saved)
        ::setenv("XDG_CONFIG_HOME", previous.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}
