// ClassRegistry.h: creation of late-bound objects by ProgID ("Skelda.DBConnect", "Mtier.Interface").
//
// Classes are found in two places: the registry file, which maps a ProgID to a shared library and the
// name of its factory function (loaded with dlopen on first use), and classes built into the program.
// The file wins, so an operator can put a different implementation in place without rebuilding.
//
// Registry file: one entry per line, "ProgID = library : symbol"; blank lines and lines starting with
// "#" or ";" are ignored; a relative library path is taken from the folder of the registry file. Its
// path is $CLASS_REGISTRY when set, else $XDG_CONFIG_HOME/record-gateway/classes.conf (default
// ~/.config/record-gateway/classes.conf). The factory has the signature of ClassFactoryFunction.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/object/Dispatch.h"

// A shared library's factory: a new object for `progid`, or nullptr when the library has no such class.
// The caller takes ownership. Libraries stay loaded until the process ends, since their objects may.
extern "C" {
typedef Dispatch* (*ClassFactoryFunction)(const char* progid);
}

class ClassRegistry final {
public:
    using Factory = std::function<DispatchPtr()>;

    // The process-wide registry; its file is read on the first creation that needs it.
    static ClassRegistry& instance();

    // A class built into this program. A later registration of the same ProgID replaces the earlier one.
    void register_class(const std::string& progid, Factory factory);

    // A new object of `progid` (case-insensitive); 429 "ActiveX component can't create object" when no
    // class is known or its library cannot be loaded (the description then says why).
    DispatchPtr create(std::string_view progid);

    // Reads a registry file, replacing the entries read before; a missing file means no entries.
    // Malformed lines raise ComError 5 naming the file and line.
    void load_file(const std::string& path);

    static std::string default_file();

private:
    struct FileEntry {
        std::string library;  // absolute path or as dlopen should search it
        std::string symbol;
    };
    DispatchPtr create_from_library(const std::string& progid, const FileEntry& entry);

    std::mutex mutex_;                           // several client threads may create objects at once
    bool file_loaded_ = false;
    std::map<std::string, Factory> builtin_;     // keyed by lower-case ProgID
    std::map<std::string, FileEntry> from_file_; // keyed by lower-case ProgID
};
