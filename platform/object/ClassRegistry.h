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
#include <vector>

#include "platform/object/Dispatch.h"

// A shared library's factory: a new object for `progid` (spelt as the registry file spells it), or nullptr
// when the library has no such class. The caller takes ownership. Libraries stay loaded until the process
// ends, since their objects may.
extern "C" {
typedef Dispatch* (*ClassFactoryFunction)(const char* progid);
}

class ClassRegistry final {
public:
    using Factory = std::function<DispatchPtr()>;
    using ReportSink = std::function<void(const std::string&)>;

    // The process-wide registry; its file is read on the first creation that needs it.
    static ClassRegistry& instance();

    // A class built into this program. A later registration of the same ProgID replaces the earlier one.
    void register_class(const std::string& progid, Factory factory);
    // A built-in class that a library offers as the fallback for a ProgID: registered only when no
    // built-in class of that name exists yet, so neither the program's own class nor a file entry is ever
    // replaced by it. Returns whether it was registered.
    bool register_default_class(const std::string& progid, Factory factory);

    // A new object of `progid` (case-insensitive); 429 "ActiveX component can't create object" when no
    // class is known, its file line is malformed or its library cannot be loaded (the description then
    // says why).
    DispatchPtr create(std::string_view progid);

    // Reads a registry file, replacing the entries read before; a missing file means no entries. Each
    // malformed line is reported once through the report sink, naming the file and line, and skipped; the
    // other lines and the built-in classes stay usable. A malformed line that names a ProgID keeps that
    // ProgID from being created (429 with the line's problem), since it was meant to replace any other.
    void load_file(const std::string& path);

    // Where problems of the registry file go. The default writes each to standard error, because a
    // program that cannot create its classes must tell its operator why even before it has a log.
    void set_report_sink(ReportSink sink);

    static std::string default_file();

private:
    struct FileEntry {
        std::string progid;   // as the file spells it: what the factory is given
        std::string library;  // absolute path or as dlopen should search it
        std::string symbol;
        std::string problem;  // set for a malformed line: why the class cannot be created
    };
    struct ParsedFile {
        std::map<std::string, FileEntry> entries;   // keyed by lower-case ProgID
        std::vector<std::string> problems;          // "file:line: what is wrong", in file order
    };
    static ParsedFile parse_file(const std::string& path);
    ReportSink install(std::map<std::string, FileEntry> entries);   // with mutex_ held
    static DispatchPtr create_from_library(const FileEntry& entry);

    std::mutex mutex_;                           // several client threads may create objects at once
    bool file_loaded_ = false;
    std::map<std::string, Factory> builtin_;     // keyed by lower-case ProgID
    std::map<std::string, FileEntry> from_file_; // keyed by lower-case ProgID
    ReportSink report_;
};
