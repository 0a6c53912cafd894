// class_registry_fuzz.cpp: the class registry reading a registry file of any content.
//
// Every malformed line must be reported once, as "file:line: what is wrong" with the number of a line the
// file has, and reading must neither fail nor stop at it. No object is created: an entry the reader takes
// would be loaded with dlopen, and the fuzzer must not pick libraries and symbols to call.
//
// The file lives in a folder of its own under /dev/shm when it exists, removed when the run ends.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "fuzz/ScratchFolder.h"
#include "platform/object/ClassRegistry.h"

namespace {

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "class_registry_fuzz: %s\n", what.c_str());
    std::abort();
}

// The number of the line a problem names: "<file>:<number>: ..."; 0 when it names none.
long line_of(const std::string& problem, const std::string& file) {
    if (problem.compare(0, file.size() + 1, file + ":") != 0) return 0;
    return std::strtol(problem.c_str() + file.size() + 1, nullptr, 10);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ScratchFolder folder("class-registry-fuzz");
    const std::string file = (folder.path() / "classes.conf").string();
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out) fail("cannot write the input file");
    }
    // getline's count: a last line without a line feed is a line too.
    const auto* end = data + size;
    const long lines = std::count(data, end, '\n') + (size > 0 && data[size - 1] != '\n' ? 1 : 0);

    ClassRegistry& registry = ClassRegistry::instance();
    std::vector<std::string> problems;
    registry.set_report_sink([&problems](const std::string& problem) { problems.push_back(problem); });
    registry.load_file(file);
    long previous = 0;
    for (const std::string& problem : problems) {
        const long line = line_of(problem, file);
        if (line < 1 || line > lines) fail("a problem names no line of the file: " + problem);
        if (line <= previous) fail("a line was reported twice or out of order: " + problem);
        previous = line;
    }
    registry.set_report_sink(nullptr);
    return 0;
}
