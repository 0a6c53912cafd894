// ClassRegistry.cpp: built-in classes, the registry file and dlopen of factory libraries.
#include "platform/object/ClassRegistry.h"

#include <dlfcn.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>

#include "common/AsciiCase.h"

namespace {

std::string strip(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

constexpr const char* kEntryForm = "expected \"ProgID = library : symbol\"";

// Hands each problem to the sink (standard error without one). A failing sink must not turn a report
// into a failure of the creation that triggered it.
void report(const ClassRegistry::ReportSink& sink, const std::vector<std::string>& problems) noexcept {
    for (const std::string& problem : problems) {
        try {
            if (sink) sink(problem);
            else std::fprintf(stderr, "ClassRegistry: %s\n", problem.c_str());
        } catch (...) {
        }
    }
}

ComError cannot_create(std::string_view progid, const std::string& why) {
    std::string text = vb_error_text(kErrCannotCreate);
    text += " (" + std::string(progid) + ")";
    if (!why.empty()) text += ": " + why;
    return ComError(kErrCannotCreate, "ClassRegistry", text);
}

}  // namespace

ClassRegistry& ClassRegistry::instance() {
    static ClassRegistry registry;
    return registry;
}

std::string ClassRegistry::default_file() {
    if (const char* path = std::getenv("CLASS_REGISTRY"); path && *path) return path;
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = std::string(home) + "/.config";
    } else {
        base = ".config";
    }
    return base + "/record-gateway/classes.conf";
}

void ClassRegistry::register_class(const std::string& progid, Factory factory) {
    std::lock_guard lock(mutex_);
    builtin_[ascii_lowered(progid)] = std::move(factory);
}

bool ClassRegistry::register_default_class(const std::string& progid, Factory factory) {
    std::lock_guard lock(mutex_);
    return builtin_.try_emplace(ascii_lowered(progid), std::move(factory)).second;
}

void ClassRegistry::set_report_sink(ReportSink sink) {
    std::lock_guard lock(mutex_);
    report_ = std::move(sink);
}

// One line per entry. A malformed line becomes a problem "file:line: what is wrong"; when it still names a
// ProgID, that ProgID keeps an entry carrying the problem, so creating it says why it fails instead of
// quietly falling back to a built-in class the operator meant to replace.
ClassRegistry::ParsedFile ClassRegistry::parse_file(const std::string& path) {
    ParsedFile out;
    std::ifstream in(path);
    if (!in.is_open()) {
        if (errno != ENOENT) out.problems.push_back(path + ": cannot be read: " + std::strerror(errno));
        return out;
    }
    const std::string folder = path.find('/') == std::string::npos ? "." : path.substr(0, path.rfind('/'));
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string text = strip(line);
        if (text.empty() || text[0] == '#' || text[0] == ';') continue;
        const auto eq = text.find('=');
        const auto colon = text.rfind(':');
        FileEntry entry;
        entry.progid = eq == std::string::npos ? std::string() : strip(std::string_view(text).substr(0, eq));
        if (eq == std::string::npos || colon == std::string::npos || colon < eq) {
            entry.problem = kEntryForm;
        } else {
            entry.library = strip(std::string_view(text).substr(eq + 1, colon - eq - 1));
            entry.symbol = strip(std::string_view(text).substr(colon + 1));
            if (entry.progid.empty() || entry.library.empty() || entry.symbol.empty())
                entry.problem = "empty ProgID, library or symbol";
        }
        if (!entry.problem.empty()) {
            entry.problem = path + ":" + std::to_string(number) + ": " + entry.problem + "; line skipped";
            out.problems.push_back(entry.problem);
            if (entry.progid.empty()) continue;
        } else if (entry.library[0] != '/' && entry.library.find('/') != std::string::npos) {
            // A bare file name is left to dlopen's search; a relative path is relative to the file's folder.
            entry.library = folder + "/" + entry.library;
        }
        const std::string key = ascii_lowered(entry.progid);
        out.entries[key] = std::move(entry);
    }
    return out;
}

// The file's entries replace the earlier ones; returns the sink its problems go to, for the caller to
// report them once it has let go of the lock.
ClassRegistry::ReportSink ClassRegistry::install(std::map<std::string, FileEntry> entries) {
    from_file_ = std::move(entries);
    file_loaded_ = true;
    return report_;
}

void ClassRegistry::load_file(const std::string& path) {
    ParsedFile parsed = parse_file(path);
    ReportSink sink;
    {
        std::lock_guard lock(mutex_);
        sink = install(std::move(parsed.entries));
    }
    report(sink, parsed.problems);
}

DispatchPtr ClassRegistry::create(std::string_view progid) {
    const std::string key = ascii_lowered(progid);
    std::vector<std::string> problems;
    ReportSink sink;
    std::optional<FileEntry> entry;
    Factory factory;
    {
        std::lock_guard lock(mutex_);
        if (!file_loaded_) {   // read under the lock, so the file is read and its problems reported once
            ParsedFile parsed = parse_file(default_file());
            sink = install(std::move(parsed.entries));
            problems = std::move(parsed.problems);
        }
        if (auto it = from_file_.find(key); it != from_file_.end()) {
            entry = it->second;
        } else if (auto b = builtin_.find(key); b != builtin_.end()) {
            factory = b->second;
        }
    }
    report(sink, problems);   // outside the lock: a sink may create objects itself

    if (entry) {
        if (!entry->problem.empty()) throw cannot_create(progid, entry->problem);
        return create_from_library(*entry);
    }
    if (!factory) throw cannot_create(progid, "class not registered");
    DispatchPtr object = factory();
    if (!object) throw cannot_create(progid, "the factory returned no object");
    return object;
}

// The factory is given the ProgID as the file spells it: lookups ignore case, a library's own comparison
// need not.
DispatchPtr ClassRegistry::create_from_library(const FileEntry& entry) {
    // RTLD_NODELETE: objects of the library may outlive every handle we hold, so it is never unmapped.
    void* library = dlopen(entry.library.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!library) throw cannot_create(entry.progid, dlerror());
    auto factory = reinterpret_cast<ClassFactoryFunction>(dlsym(library, entry.symbol.c_str()));
    if (!factory) {
        const std::string why = entry.library + ": no symbol " + entry.symbol;
        dlclose(library);
        throw cannot_create(entry.progid, why);
    }
    DispatchPtr object(factory(entry.progid.c_str()));
    dlclose(library);  // the NODELETE mapping stays; the handle count is back where it was
    if (!object) throw cannot_create(entry.progid, entry.library + " has no class of that name");
    return object;
}
