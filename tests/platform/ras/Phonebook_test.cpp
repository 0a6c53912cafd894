// Phonebook_test.cpp: the phonebook file as the calls see it: listing, entry dial parameters, the
// rules that refuse a malformed file, and the error texts.
#include "platform/ras/Phonebook.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>

#include "RasTestSupport.h"

namespace {

constexpr const char* kTwoEntries =
    "# office links\n"
    "\n"
    "[Office]\n"
    "Backend=simulated\n"
    "User=alice\n"
    "Password=secret\n"
    "Domain=CORP\n"
    "; a comment line\n"
    "[Caf\xC3\xA9 VPN]\n"
    "  backend = command  \n"
    "UpCommand=/usr/bin/true\n";

std::vector<std::string> enum_names(const char* path, uint32_t* result = nullptr) {
    std::vector<uint8_t> probe(4);
    ras::record::put_u32(probe.data(), 0, ras::kEntryNameSize);
    uint32_t size = 4, count = 0;
    uint32_t rc = ras::RasEnumEntriesA(nullptr, path, probe.data(), &size, &count);
    std::vector<uint8_t> buffer(std::max<uint32_t>(size, 4));
    ras::record::put_u32(buffer.data(), 0, ras::kEntryNameSize);
    if (rc == ras::kErrorBufferTooSmall) rc = ras::RasEnumEntriesA(nullptr, path, buffer.data(), &size, &count);
    if (result != nullptr) *result = rc;
    std::vector<std::string> names;
    for (uint32_t i = 0; rc == 0 && i < count; ++i)
        names.push_back(ras::record::get_text(buffer.data() + i * ras::kEntryNameSize, ras::record::kEntryName));
    return names;
}

TEST(Phonebook, EntriesAreListedInFileOrderAsAnsiRecords) {
    PhonebookFile book(kTwoEntries);
    std::vector<uint8_t> probe(4);
    ras::record::put_u32(probe.data(), 0, ras::kEntryNameSize);
    uint32_t size = 4, count = 0;
    EXPECT_EQ(ras::RasEnumEntriesA(nullptr, book.path(), probe.data(), &size, &count), ras::kErrorBufferTooSmall);
    EXPECT_EQ(size, 2 * ras::kEntryNameSize);
    EXPECT_EQ(enum_names(book.path()), (std::vector<std::string>{"Office", "Caf\xE9 VPN"}));   // Windows-1252

    ras::record::put_u32(probe.data(), 0, 532);   // a record version the stand-in does not know
    EXPECT_EQ(ras::RasEnumEntriesA(nullptr, book.path(), probe.data(), &size, &count), ras::kErrorInvalidSize);
}

TEST(Phonebook, DialParamsOfAnEntryCarryItsCredentials) {
    PhonebookFile book(kTwoEntries);
    DialParams params = dial_params("OFFICE");   // names match without regard to case
    ras::record::put_text(params.data(), ras::record::kDialPhoneNumber, "left over");
    int32_t has_password = -1;
    ASSERT_EQ(ras::RasGetEntryDialParamsA(book.path(), params.data(), &has_password), 0u);
    EXPECT_EQ(ras::record::get_text(params.data(), ras::record::kDialUserName), "alice");
    EXPECT_EQ(ras::record::get_text(params.data(), ras::record::kDialPassword), "secret");
    EXPECT_EQ(ras::record::get_text(params.data(), ras::record::kDialDomain), "CORP");
    EXPECT_EQ(ras::record::get_text(params.data(), ras::record::kDialPhoneNumber), "");   // the entry's own
    EXPECT_EQ(has_password, 1);

    DialParams unknown = dial_params("Home");
    EXPECT_EQ(ras::RasGetEntryDialParamsA(book.path(), unknown.data(), &has_password),
              ras::kErrorCannotFindPhonebookEntry);
}

TEST(Phonebook, MissingFileHasNoEntriesUnreadableOneGives621) {
    PhonebookFile book("");
    uint32_t rc = 1;
    EXPECT_TRUE(enum_names((book.dir() / "absent.ini").c_str(), &rc).empty());
    EXPECT_EQ(rc, 0u);
    enum_names(book.dir().c_str(), &rc);   // a folder cannot be read as a phonebook
    EXPECT_EQ(rc, ras::kErrorCannotOpenPhonebook);
}

TEST(Phonebook, DefaultPathComesFromTheEnvironment) {
    ::setenv("RAS_PHONEBOOK", "/tmp/x/book.ini", 1);
    EXPECT_EQ(ras::default_phonebook(), "/tmp/x/book.ini");
    ::unsetenv("RAS_PHONEBOOK");
    ::setenv("XDG_CONFIG_HOME", "/tmp/cfg", 1);
    EXPECT_EQ(ras::default_phonebook(), "/tmp/cfg/record-gateway/phonebook.ini");
    ::unsetenv("XDG_CONFIG_HOME");
}

TEST(Phonebook, MalformedFilesAreRefusedWholeWith625AndTheLineLogged) {
    std::mutex mutex;
    std::vector<std::string> logged;
    ras::set_log_sink([&](const std::string& text) {
        std::lock_guard lock(mutex);
        logged.push_back(text);
    });
    const std::string name256(256, 'n');
    struct Case {
        const char* why;
        std::string text;
        bool accepted;
    };
    const Case cases[] = {
        {"name of 256 characters", "[" + name256 + "]\nBackend=simulated\n", true},
        {"name of 257 characters", "[" + name256 + "x]\nBackend=simulated\n", false},
        {"domain of 15 characters", "[a]\nBackend=simulated\nDomain=" + std::string(15, 'd') + "\n", true},
        {"domain of 16 characters", "[a]\nBackend=simulated\nDomain=" + std::string(16, 'd') + "\n", false},
        {"same name twice", "[a]\nBackend=simulated\n[A]\nBackend=simulated\n", false},
        {"unknown key", "[a]\nBackend=simulated\nPasword=x\n", false},
        {"key given twice", "[a]\nBackend=simulated\nUser=x\nUser=y\n", false},
        {"setting before any entry", "User=x\n[a]\nBackend=simulated\n", false},
        {"no backend", "[a]\nUser=x\n", false},
        {"command without UpCommand", "[a]\nBackend=command\n", false},
        {"unterminated quote", "[a]\nBackend=command\nUpCommand=pppd \"call\n", false},
        {"FailAt not among States", "[a]\nBackend=simulated\nStates=0,1,8192\nError=691\nFailAt=5\n", false},
        {"state list with text", "[a]\nBackend=simulated\nStates=0,one\n", false},
        {"unmapped exit status", "[a]\nBackend=command\nUpCommand=x\nExitErrors=1:42\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        PhonebookFile book("# header\n" + c.text);
        uint32_t rc = 0;
        const auto names = enum_names(book.path(), &rc);
        EXPECT_EQ(rc, c.accepted ? 0u : ras::kErrorCorruptPhonebook);
        EXPECT_EQ(names.size(), c.accepted ? 1u : 0u);
        std::lock_guard lock(mutex);
        if (!c.accepted) {
            ASSERT_FALSE(logged.empty());
            EXPECT_NE(logged.back().find(std::string(book.path()) + " line "), std::string::npos) << logged.back();
        }
        logged.clear();
    }
    ras::set_log_sink(nullptr);
}

TEST(Phonebook, CommandLinesSplitIntoWordsWithoutAShell) {
    EXPECT_EQ(ras::split_command("pppd call  office"), (std::vector<std::string>{"pppd", "call", "office"}));
    EXPECT_EQ(ras::split_command(R"(vpn "my link" a"b c"d "q\"\\")"),
              (std::vector<std::string>{"vpn", "my link", "ab cd", "q\"\\"}));
    EXPECT_EQ(ras::split_command("echo $HOME;rm -rf x|y"),
              (std::vector<std::string>{"echo", "$HOME;rm", "-rf", "x|y"}));   // nothing a shell would act on
    EXPECT_EQ(ras::split_command("vpn \"open"), std::nullopt);
}

TEST(RasErrorString, KnownNumbersHaveTheirTextOthersAreRefused) {
    char text[1000] = {};
    ASSERT_EQ(ras::RasGetErrorStringA(691, text, sizeof text), 0u);
    EXPECT_STREQ(text, "Access denied because the user name, password, or both is not valid on the domain.");
    char small[10] = {};
    EXPECT_EQ(ras::RasGetErrorStringA(691, small, sizeof small), ras::kErrorInsufficientBuffer);
    EXPECT_EQ(ras::RasGetErrorStringA(6, text, sizeof text), ras::kErrorInvalidParameter);
}

}  // namespace
