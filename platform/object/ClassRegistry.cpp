// ClassRegistry.cpp: built-in classes, the registry file and dlopen of factory libraries.
#include "platform/object/ClassRegistry.h"

#include <dlfcn.h>

#include <cstdlib>
#include <fstream>

#include "common/AsciiCase.h"

namespace {

std::string strip(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
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

void ClassRegistry::load_file(const std::string& path) {
    std::map<std::string, FileEntry> entries;
    std::ifstream in(path);
    const std::string folder = path.find('/') == std::string::npos ? "." : path.substr(0, path.rfind('/'));
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string text = strip(line);
        if (text.empty() || text[0] == '#' || text[0] == ';') continue;
        const auto eq = text.find('=');
        const auto colon = text.rfind(':');
        if (eq == std::string::npos || colon == std::string::npos || colon < eq)
            throw ComError(kErrInvalidCall, "ClassRegistry",
                           path + ":" + std::to_string(number) + ": expected \"ProgID = library : symbol\"");
        FileEntry entry{strip(std::string_view(text).substr(eq + 1, colon - eq - 1)),
                        strip(std::string_view(text).substr(colon + 1))};
        const std::string progid = strip(std::string_view(text).substr(0, eq));
        if (progid.empty() || entry.library.empty() || entry.symbol.empty())
            throw ComError(kErrInvalidCall, "ClassRegistry",
                           path + ":" + std::to_string(number) + ": empty ProgID, library or symbol");
        // A bare file name is left to dlopen's search; a relative path is relative to the file's folder.
        if (entry.library[0] != '/' && entry.library.find('/') != std::string::npos)
            entry.library = folder + "/" + entry.library;
        entries[ascii_lowered(progid)] = std::move(entry);
    }
    std::lock_guard lock(mutex_);
    from_file_ = std::move(entries);
    file_loaded_ = true;
}

DispatchPtr ClassRegistry::create(std::string_view progid) {
    bool need_file;
    {
        std::lock_guard lock(mutex_);
        need_file = !file_loaded_;
    }
    if (need_file) load_file(default_file());

    const std::string key = ascii_lowered(progid);
    Factory factory;
    FileEntry entry;
    bool in_file = false;
    {
        std::lock_guard lock(mutex_);
        if (auto it = from_file_.find(key); it != from_file_.end()) {
            entry = it->second;
            in_file = true;
        } else if (auto b = builtin_.find(key); b != builtin_.end()) {
            factory = b->second;
        }
    }
    if (in_file) return create_from_library(std::string(progid), entry);
    if (!factory) throw cannot_create(progid, "class not registered");
    DispatchPtr object = factory();
    if (!object) throw cannot_create(progid, "the factory returned no object");
    return object;
}

DispatchPtr ClassRegistry::create_from_library(const std::string& progid, const FileEntry& entry) {
    // RTLD_NODELETE: objects of the library may outlive every handle we hold, so it is never unmapped.
    void* library = dlopen(entry.library.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!library) throw cannot_create(progid, dlerror());
    auto factory = reinterpret_cast<ClassFactoryFunction>(dlsym(library, entry.symbol.c_str()));
    if (!factory) {
        const std::string why = entry.library + ": no symbol " + entry.symbol;
        dlclose(library);
        throw cannot_create(progid, why);
    }
    DispatchPtr object(factory(progid.c_str()));
    dlclose(library);  // the NODELETE mapping stays; the handle count is back where it was
    if (!object) throw cannot_create(progid, entry.library + " has no class of that name");
    return object;
}
