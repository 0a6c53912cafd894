// SettingsStore.h: the per-user application settings store: sections of keys with text values in an INI
// file, $XDG_CONFIG_HOME/<application>/settings.ini (by default ~/.config/<application>/settings.ini).
//
// Values are kept as text, exactly: SettingsText.h says how a value with line breaks, blanks at its ends,
// comment characters or more characters than the INI reader's line takes is written so that it reads
// back unchanged. Every save rewrites the file atomically (temporary file, fsync, rename), so a crash
// leaves either the old file or the new one, never half of one. Names match without regard to case.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

class SettingsStore final {
public:
    using Entries = std::vector<std::pair<std::string, std::string>>;

    // The file of `application` under the XDG configuration folder.
    static std::filesystem::path default_file(const std::string& application);

    // Reads `file`; a missing file is an empty store. A file that cannot be read, or that holds a line
    // the INI reader cannot take, raises ComError 5 naming the file (and line), and nothing is overwritten.
    explicit SettingsStore(std::filesystem::path file);

    // The saved text of `key` in `section`, or `fallback` when there is none.
    std::string get(const std::string& section, const std::string& key, const std::string& fallback = "") const;
    // Saves one value, or several in one write. Section and key names are letters, digits, "_", "-", "."
    // and blanks inside (ComError 5 otherwise); a failed write raises ComError 75 and leaves the file as it was.
    void save(const std::string& section, const std::string& key, const std::string& value);
    void save(const std::string& section, const Entries& values);

    const std::filesystem::path& file() const { return file_; }

private:
    struct Section {
        std::string name;
        Entries entries;
    };
    Section& section(const std::string& name);
    void write() const;

    std::filesystem::path file_;
    std::vector<Section> sections_;   // in file order
};
