// TempDir.h: a folder of the test's own under /tmp (mkdtemp), removed with everything in it when the object
// goes, so that tests never share files and two runs never collide.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace test_support {

class TempDir {
public:
    // `prefix` names the folder ("/tmp/<prefix>.XXXXXX") so that a left-over one tells whose it was.
    explicit TempDir(std::string_view prefix) {
        std::string pattern = "/tmp/" + std::string(prefix) + ".XXXXXX";
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
        path_ = std::move(pattern);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

private:
    std::string path_;
};

}  // namespace test_support
