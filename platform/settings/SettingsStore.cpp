// SettingsStore.cpp: reading the file with libinih, and the atomic rewrite.
#include "platform/settings/SettingsStore.h"

#include <fcntl.h>
#include <ini.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/AsciiCase.h"
#include "common/ComError.h"
#include "platform/msgloop/UniqueFd.h"
#include "platform/settings/SettingsText.h"

namespace {

constexpr const char* kSource = "SettingsStore";
constexpr int32_t kErrPathFile = 75;   // "Path/File access error"
constexpr size_t kMaxNameLength = 40;  // keeps "key=" and a piece within the reader's line

ComError file_error(const std::filesystem::path& file, const std::string& what) {
    return ComError(kErrPathFile, kSource, file.string() + ": " + what);
}

void check_name(const std::string& name, const char* what) {
    bool ok = !name.empty() && name.size() <= kMaxNameLength && name.front() != ' ' && name.back() != ' ';
    for (const char c : name)
        ok = ok && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                    c == '-' || c == '.' || c == ' ');
    if (!ok)
        throw ComError(kErrInvalidCall, kSource,
                       std::string(what) + " \"" + name + "\" is not a settings name (up to 40 letters, digits, _ - .)");
}

// What the reader hands over, line by line; pieces of one value arrive as calls with the same name.
struct ParseState {
    std::vector<std::pair<std::string, SettingsStore::Entries>> sections;
    bool continuing = false;   // the last piece ended in a continuation mark
};

int on_value(void* user, const char* section, const char* name, const char* value) {
    // A name the store could not write back is refused like any other line the reader cannot take: without
    // a name a continuation line reads as a line of its own, and a longer name than save() allows pushes
    // "name=" and a piece of the value beyond the reader's line.
    if (*name == '\0' || std::strlen(name) > kMaxNameLength) return 0;
    auto& state = *static_cast<ParseState*>(user);
    if (state.sections.empty() || state.sections.back().first != section) state.sections.emplace_back(section, SettingsStore::Entries{});
    SettingsStore::Entries& entries = state.sections.back().second;
    if (!(state.continuing && !entries.empty() && entries.back().first == name)) entries.emplace_back(name, "");
    state.continuing = settings_text::decode_piece(value, entries.back().second);
    return 1;
}

// Sets `key` in `entries` (the first entry of that name, without regard to case), or appends it.
void set_entry(SettingsStore::Entries& entries, const std::string& key, std::string value) {
    auto it = std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return equals_ignoring_case(e.first, key); });
    if (it != entries.end())
        it->second = std::move(value);
    else
        entries.emplace_back(key, std::move(value));
}

}  // namespace

std::filesystem::path SettingsStore::default_file(const std::string& application) {
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::filesystem::path(home && *home ? home : ".") / ".config";
    }
    return base / application / "settings.ini";
}

SettingsStore::SettingsStore(std::filesystem::path file) : file_(std::move(file)) {
    std::ifstream in(file_, std::ios::binary);
    if (!in) {
        if (errno == ENOENT) return;
        throw file_error(file_, std::strerror(errno));
    }
    std::ostringstream text;
    text << in.rdbuf();
    ParseState state;
    const int line = ini_parse_string(text.str().c_str(), on_value, &state);
    if (line != 0)
        throw ComError(kErrInvalidCall, kSource,
                       file_.string() + " line " + std::to_string(line) + " is not a setting (name=value) or [section]");
    for (auto& [name, entries] : state.sections) {
        Section& s = section(name);
        for (auto& [key, value] : entries) set_entry(s.entries, key, std::move(value));   // a later duplicate wins
    }
}

SettingsStore::Section& SettingsStore::section(const std::string& name) {
    for (Section& s : sections_)
        if (equals_ignoring_case(s.name, name)) return s;
    sections_.push_back(Section{name, {}});
    return sections_.back();
}

std::string SettingsStore::get(const std::string& section, const std::string& key, const std::string& fallback) const {
    for (const Section& s : sections_) {
        if (!equals_ignoring_case(s.name, section)) continue;
        for (const auto& [k, v] : s.entries)
            if (equals_ignoring_case(k, key)) return v;
    }
    return fallback;
}

void SettingsStore::save(const std::string& section, const std::string& key, const std::string& value) {
    save(section, Entries{{key, value}});
}

void SettingsStore::save(const std::string& section_name, const Entries& values) {
    check_name(section_name, "Section");
    for (const auto& [key, value] : values) check_name(key, "Key");
    const std::vector<Section> before = sections_;
    Section& s = section(section_name);
    for (const auto& [key, value] : values) set_entry(s.entries, key, value);
    try {
        write();
    } catch (...) {
        sections_ = before;   // the store keeps saying what the file says
        throw;
    }
}

// Writes a temporary file beside the store, flushes it to the disk, and renames it over the store; then
// flushes the folder, so that the rename itself survives a crash.
void SettingsStore::write() const {
    std::string text;
    for (const Section& s : sections_) {
        text += "[" + s.name + "]\n";
        for (const auto& [key, value] : s.entries) {
            const std::vector<std::string> pieces = settings_text::encode(value);
            text += key + "=" + pieces.front() + "\n";
            for (size_t i = 1; i < pieces.size(); ++i) text += "  " + pieces[i] + "\n";
        }
        text += "\n";
    }
    const std::filesystem::path folder = file_.parent_path().empty() ? "." : file_.parent_path();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) throw file_error(folder, ec.message());
    std::string temp = (folder / (file_.filename().string() + ".XXXXXX")).string();
    UniqueFd fd(::mkstemp(temp.data()));
    if (fd.get() < 0) throw file_error(temp, std::strerror(errno));
    const auto fail = [&](const char* step) {
        const int saved = errno;
        ::unlink(temp.c_str());
        return file_error(file_, std::string(step) + ": " + std::strerror(saved));
    };
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw fail("write");
        done += static_cast<size_t>(n);
    }
    if (::fchmod(fd.get(), S_IRUSR | S_IWUSR) != 0 || ::fsync(fd.get()) != 0) throw fail("fsync");
    if (::close(fd.release()) != 0) throw fail("close");
    if (::rename(temp.c_str(), file_.c_str()) != 0) throw fail("rename");
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
}
