// ScratchFolder.h: a folder of the fuzz target's own for the files its inputs become, in /dev/shm when there
// is one (tens of thousands of writes a minute stay off the disk), removed when the process ends normally.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& prefix) {
        const bool shm = std::filesystem::is_directory("/dev/shm");
        std::string pattern =
            (shm ? std::filesystem::path("/dev/shm") : std::filesystem::temp_directory_path()) / (prefix + ".XXXXXX");
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::fprintf(stderr, "%s: mkdtemp failed\n", prefix.c_str());
            std::abort();
        }
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};
