// settings_file_fuzz.cpp: the settings store reading a settings file of any content, then saving a value of
// any content into it.
//
// Input: the file's text up to the first NUL byte (the INI reader reads a C string), the value after it.
// A file the reader refuses must give ComError 5 and nothing else. A file it takes must survive a save:
// the file the save writes must read back, give the saved value back exactly, and be written again byte
// for byte by a second save of the same value, so no value read from a file (the operator's hand-written
// ones included) is changed by passing through the store.
//
// The files live in a folder of their own under /dev/shm when it exists (a save flushes the file and the
// folder to the disk, which a memory file system makes free), removed when the run ends.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>

#include "common/ComError.h"
#include "fuzz/ScratchFolder.h"
#include "platform/settings/SettingsStore.h"

namespace {

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "settings_file_fuzz: %s\n", what.c_str());
    std::abort();
}

std::string read_file(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::filesystem::path& file, std::string_view text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out) fail("cannot write the input file");
}

constexpr const char* kSection = "Fuzz";
constexpr const char* kKey = "value";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ScratchFolder folder("settings-fuzz");
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t nul = input.find('\0');
    const std::string_view text = input.substr(0, nul);
    const std::string value(nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1));
    const std::filesystem::path file = folder.path() / "settings.ini";
    write_file(file, text);

    std::string first;
    try {
        SettingsStore store(file);
        store.save(kSection, kKey, value);
        first = read_file(file);
    } catch (const ComError& e) {
        if (e.number() != kErrInvalidCall) fail("the reader raised " + std::to_string(e.number()) + ": " + e.description());
        return 0;   // a refused file
    }
    try {
        SettingsStore again(file);
        if (again.get(kSection, kKey) != value) fail("the saved value did not read back");
        again.save(kSection, kKey, value);
    } catch (const ComError& e) {
        fail("a file the store wrote was refused: " + e.description() + "\n" + first);
    }
    if (read_file(file) != first) fail("a second save wrote another file:\n" + first + "\n----\n" + read_file(file));
    return 0;
}
