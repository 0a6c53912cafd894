// ScopedLocale.h: makes a locale the current thread's locale for the life of the object, so tests can show
// that conversions do not follow the process locale (the host may call setlocale for its terminal forms).
//
// Test machines rarely have such locales installed (Debian's default has only C and POSIX), so each is
// compiled once with localedef into a temporary folder named by LOCPATH; once loaded it stays in memory
// after the folder is removed. ok() is false (and why() says why) only when that fails too.
#pragma once

#include <locale.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace test_support {

struct LocaleRecipe {
    const char* name;      // as newlocale is asked; the codeset part must match the charmap
    int mask;              // the categories it changes
    const char* source;    // localedef -i: a source installed with the Debian package locales, or
    const char* text;      // when not null, the source's text itself
    const char* charmap;   // localedef -f
};

// Numbers written "1.234,5".
inline constexpr LocaleRecipe kCommaDecimal{
    "comma", LC_NUMERIC_MASK, nullptr,
    "LC_NUMERIC\ndecimal_point \",\"\nthousands_sep \".\"\ngrouping 3;3\nEND LC_NUMERIC\n", "ANSI_X3.4-1968"};

// Turkish letter case in a one-byte code page: toupper('i') is the dotted capital I (0xDD), not 'I'.
inline constexpr LocaleRecipe kTurkishCase{"tr_TR.ISO-8859-9", LC_CTYPE_MASK, "tr_TR", nullptr, "ISO-8859-9"};

class ScopedLocale {
public:
    explicit ScopedLocale(const LocaleRecipe& recipe) {
        if (const locale_t loaded = load(recipe, why_)) previous_ = uselocale(loaded);
    }
    ~ScopedLocale() {
        if (previous_) uselocale(previous_);
    }
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;

    bool ok() const { return previous_ != nullptr; }
    const std::string& why() const { return why_; }

private:
    struct Loaded {
        locale_t locale{};
        std::string failure;
    };

    // Compiled and loaded once per process, kept for later tests.
    static locale_t load(const LocaleRecipe& recipe, std::string& why) {
        static std::map<std::string, Loaded> cache;
        auto [it, fresh] = cache.try_emplace(recipe.name);
        if (fresh) it->second = compile(recipe);
        why = it->second.failure;
        return it->second.locale;
    }

    static Loaded compile(const LocaleRecipe& recipe) {
        Loaded out;
        char pattern[] = "/tmp/test-locale.XXXXXX";
        if (!mkdtemp(pattern)) {
            out.failure = "no temporary folder for localedef";
            return out;
        }
        const std::string dir = pattern;
        std::string source = recipe.source ? recipe.source : "";
        if (recipe.text) {
            source = dir + "/source";
            std::ofstream(source) << recipe.text;
        }
        // -c: a source that defines only some categories makes localedef warn (status 1), but it writes them.
        const std::string command = "localedef -c -i '" + source + "' -f " + recipe.charmap + " '" + dir + "/" +
                                    recipe.name + "' >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        const char* old = std::getenv("LOCPATH");
        const std::string saved = old ? old : "";
        setenv("LOCPATH", dir.c_str(), 1);
#if defined(__SANITIZE_ADDRESS__)
        __lsan_disable();   // glibc keeps the parsed LOCPATH as long as the loaded locale
#endif
        out.locale = newlocale(recipe.mask, recipe.name, nullptr);
#if defined(__SANITIZE_ADDRESS__)
        __lsan_enable();
#endif
        old ? setenv("LOCPATH", saved.c_str(), 1) : unsetenv("LOCPATH");
        if (!out.locale)
            out.failure = std::string("cannot build the locale ") + recipe.name + " with localedef (status " +
                          std::to_string(status) + "; is the Debian package locales installed?)";
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
        return out;
    }

    locale_t previous_ = nullptr;
    std::string why_;
};

}  // namespace test_support
