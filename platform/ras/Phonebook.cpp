// Phonebook.cpp: reading and checking the phonebook file, and the log sink.
//
// Every field the service keeps in a fixed record is bounded here, so that what the file holds always
// fits the records the calls fill: names and user names 256 characters (Windows-1252), passwords 256,
// domains 15, phone numbers 128. A file that breaks a rule is refused whole (625) and the offending
// line is logged, so a typo never dials with half an entry.
#include "platform/ras/Phonebook.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <set>

#include "common/AsciiCase.h"
#include "common/Cp1252.h"
#include "platform/msgloop/UniqueFd.h"
#include "platform/ras/Ras.h"

namespace ras {

namespace {

constexpr size_t kMaxFileBytes = 1 << 20;
constexpr size_t kMaxEntries = 4096;   // EntryCount is a 16-bit number for the dialer
constexpr size_t kMaxName = 256, kMaxUser = 256, kMaxPassword = 256, kMaxDomain = 15, kMaxPhone = 128;
constexpr size_t kMaxStates = 64;
constexpr long long kMaxDelayMs = 3'600'000;
constexpr long long kMaxConnectTimeout = 3600;

// The dial of a plain modem link, as the service usually reports it.
const std::vector<uint32_t> kDefaultStates = {0, 1, 2, 3, 4, 5, 6, 10, 14, 18, 0x2000};

std::mutex g_sink_mutex;
std::function<void(const std::string&)> g_sink;   // guarded by g_sink_mutex

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::optional<long long> whole_number(std::string_view text, long long low, long long high) {
    text = trim(text);
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) return std::nullopt;
    return value;
}

// "a, b, c" as numbers; an empty list is refused.
std::optional<std::vector<uint32_t>> number_list(std::string_view text) {
    std::vector<uint32_t> out;
    while (!text.empty()) {
        const size_t comma = text.find(',');
        const auto n = whole_number(text.substr(0, comma), 0, 0xFFFF);
        if (!n || out.size() == kMaxStates) return std::nullopt;
        out.push_back(static_cast<uint32_t>(*n));
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    if (out.empty()) return std::nullopt;
    return out;
}

bool fits(std::string_view utf8, size_t limit) { return cp1252::from_utf8(utf8).size() <= limit; }

// One key's handler: stores the value, or returns why it cannot.
using KeyHandler = std::function<std::string(PhonebookEntry&, std::string_view)>;

KeyHandler text_key(std::string PhonebookEntry::*field, size_t limit) {
    return [field, limit](PhonebookEntry& e, std::string_view v) -> std::string {
        if (!fits(v, limit)) return "longer than " + std::to_string(limit) + " characters";
        e.*field = std::string(v);
        return {};
    };
}

KeyHandler command_key(std::vector<std::string> CommandSpec::*field) {
    return [field](PhonebookEntry& e, std::string_view v) -> std::string {
        auto words = split_command(v);
        if (!words || words->empty()) return "not a command";
        e.command.*field = std::move(*words);
        return {};
    };
}

KeyHandler milliseconds_key(std::function<void(PhonebookEntry&, std::chrono::milliseconds)> store) {
    return [store](PhonebookEntry& e, std::string_view v) -> std::string {
        const auto n = whole_number(v, 0, kMaxDelayMs);
        if (!n) return "not a number of milliseconds from 0 to " + std::to_string(kMaxDelayMs);
        store(e, std::chrono::milliseconds(*n));
        return {};
    };
}

// "1:691, 2:678"
std::string parse_exit_errors(PhonebookEntry& e, std::string_view v) {
    e.command.exit_errors.clear();
    while (!v.empty()) {
        const size_t comma = v.find(',');
        const std::string_view pair = v.substr(0, comma);
        const size_t colon = pair.find(':');
        const auto status = colon == std::string_view::npos ? std::nullopt : whole_number(pair.substr(0, colon), 1, 255);
        const auto error = status ? whole_number(pair.substr(colon + 1), 600, 799) : std::nullopt;
        if (!error) return "not a list of exit status:error pairs (1-255:600-799)";
        e.command.exit_errors.emplace_back(static_cast<int>(*status), static_cast<uint32_t>(*error));
        if (comma == std::string_view::npos) break;
        v.remove_prefix(comma + 1);
    }
    return {};
}

const std::vector<std::pair<std::string_view, KeyHandler>>& key_table() {
    static const std::vector<std::pair<std::string_view, KeyHandler>> table = {
        {"Phone", text_key(&PhonebookEntry::phone, kMaxPhone)},
        {"User", text_key(&PhonebookEntry::user, kMaxUser)},
        {"Password", text_key(&PhonebookEntry::password, kMaxPassword)},
        {"Domain", text_key(&PhonebookEntry::domain, kMaxDomain)},
        {"Backend",
         [](PhonebookEntry& e, std::string_view v) -> std::string {
             if (equals_ignoring_case(v, "simulated")) e.backend = Backend::simulated;
             else if (equals_ignoring_case(v, "command")) e.backend = Backend::command;
             else return "neither simulated nor command";
             return {};
         }},
        {"States",
         [](PhonebookEntry& e, std::string_view v) -> std::string {
             auto states = number_list(v);
             if (!states) return "not a list of 1 to 64 state numbers";
             e.simulated.states = std::move(*states);
             return {};
         }},
        {"StepDelay", milliseconds_key([](PhonebookEntry& e, std::chrono::milliseconds d) { e.simulated.step_delay = d; })},
        {"DropAfter", milliseconds_key([](PhonebookEntry& e, std::chrono::milliseconds d) { e.simulated.drop_after = d; })},
        {"Error",
         [](PhonebookEntry& e, std::string_view v) -> std::string {
             const auto n = whole_number(v, 0, 0xFFFF);
             if (!n) return "not an error number";
             e.simulated.error = static_cast<uint32_t>(*n);
             return {};
         }},
        {"FailAt",
         [](PhonebookEntry& e, std::string_view v) -> std::string {
             const auto n = whole_number(v, 0, 0xFFFF);
             if (!n) return "not a state number";
             e.simulated.fail_at = static_cast<uint32_t>(*n);
             return {};
         }},
        {"Address",
         [](PhonebookEntry& e, std::string_view v) -> std::string {
             if (v.size() > 15) return "not a dotted IPv4 address";
             e.simulated.address = std::string(v);
             return {};
         }},
        {"UpCommand", command_key(&CommandSpec::up)},
        {"DownCommand", command_key(&CommandSpec::down)},
        {"Interface",
         [](PhonebookEntry& e, std::string_view v) -> std::string {
             if (v.empty() || v.size() > 15) return "not an interface name";
             e.command.interface_name = std::string(v);
             return {};
         }},
        {"AddressFrom",
         [](PhonebookEntry& e, std::string_view v) -> std::string {
             if (equals_ignoring_case(v, "stdout")) e.command.address_from_stdout = true;
             else if (equals_ignoring_case(v, "interface")) e.command.address_from_stdout = false;
             else return "neither stdout nor interface";
             return {};
         }},
        {"ConnectTimeout",
         [](PhonebookEntry& e, std::string_view v) -> std::string {
             const auto n = whole_number(v, 1, kMaxConnectTimeout);
             if (!n) return "not a number of seconds from 1 to 3600";
             e.command.connect_timeout = std::chrono::seconds(*n);
             return {};
         }},
        {"ExitErrors", parse_exit_errors},
    };
    return table;
}

// What an entry must have once all its lines are read; empty when it is complete.
std::string check_entry(PhonebookEntry& e, const std::set<std::string>& keys) {
    if (!keys.contains("backend")) return "entry " + e.name + " needs Backend (simulated or command)";
    if (e.backend == Backend::command) {
        if (e.command.up.empty()) return "a command entry needs UpCommand";
        if (!keys.contains("addressfrom")) e.command.address_from_stdout = e.command.interface_name.empty();
        if (!e.command.address_from_stdout && e.command.interface_name.empty())
            return "AddressFrom=interface needs Interface";
        return {};
    }
    SimulatedScript& script = e.simulated;
    if (script.states.empty()) script.states = kDefaultStates;
    if (script.fail_at && (*script.fail_at == RASCS_Connected ||
                           std::find(script.states.begin(), script.states.end(), *script.fail_at) == script.states.end()))
        return "FailAt must be one of States, other than 8192";
    return {};
}

}  // namespace

void set_log_sink(std::function<void(const std::string&)> sink) {
    std::lock_guard lock(g_sink_mutex);
    g_sink = std::move(sink);
}

void log_message(const std::string& text) {
    std::function<void(const std::string&)> sink;
    {
        std::lock_guard lock(g_sink_mutex);
        sink = g_sink;
    }
    if (!sink) return;
    try {
        sink(text);
    } catch (...) {   // a failing sink has nowhere else to go
    }
}

std::string default_phonebook() {
    if (const char* path = std::getenv("RAS_PHONEBOOK"); path != nullptr && *path != '\0') return path;
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg != '\0') base = xdg;
    else if (const char* home = std::getenv("HOME"); home != nullptr) base = std::string(home) + "/.config";
    else base = ".config";
    return base + "/record-gateway/phonebook.ini";
}

std::optional<std::vector<std::string>> split_command(std::string_view line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false, quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"') quoted = false;
            else if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) word += line[++i];
            else word += c;
        } else if (c == ' ' || c == '\t') {
            if (in_word) words.push_back(std::move(word));
            word.clear();
            in_word = false;
        } else {
            in_word = true;
            if (c == '"') quoted = true;
            else word += c;
        }
    }
    if (quoted) return std::nullopt;
    if (in_word) words.push_back(std::move(word));
    return words;
}

Phonebook parse_phonebook(std::string_view text, const std::string& origin) {
    Phonebook book;
    PhonebookEntry* current = nullptr;
    std::set<std::string> keys;   // of the current entry, lower case
    int line_number = 0;
    const auto fail = [&](const std::string& why) {
        log_message("phonebook " + origin + " line " + std::to_string(line_number) + ": " + why);
        book.result = kErrorCorruptPhonebook;
        book.entries.clear();
        return book;
    };
    const auto finish_entry = [&]() -> std::string {
        return current == nullptr ? std::string() : check_entry(*current, keys);
    };
    while (!text.empty()) {
        ++line_number;
        const size_t eol = text.find('\n');
        const std::string_view line = trim(text.substr(0, eol));
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        if (line.empty() || line.front() == '#' || line.front() == ';') continue;
        if (line.front() == '[') {
            if (line.back() != ']') return fail("an entry name must end with ']'");
            if (std::string why = finish_entry(); !why.empty()) return fail(why);
            const std::string_view name = trim(line.substr(1, line.size() - 2));
            if (name.empty() || !fits(name, kMaxName)) return fail("an entry name has 1 to 256 characters");
            if (find_entry(book, name) != nullptr) return fail("a second entry called " + std::string(name));
            if (book.entries.size() == kMaxEntries) return fail("more than 4096 entries");
            book.entries.push_back(PhonebookEntry{});
            current = &book.entries.back();
            current->name = std::string(name);
            keys.clear();
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) return fail("neither [entry name] nor Key=Value");
        if (current == nullptr) return fail("a setting before the first [entry name]");
        const std::string_view key = trim(line.substr(0, equals));
        const std::string_view value = trim(line.substr(equals + 1));
        const KeyHandler* handler = nullptr;
        for (const auto& [name, h] : key_table())
            if (equals_ignoring_case(name, key)) handler = &h;
        if (handler == nullptr) return fail("unknown setting " + std::string(key));
        if (!keys.insert(ascii_lowered(key)).second) return fail(std::string(key) + " is given twice");
        if (std::string why = (*handler)(*current, value); !why.empty()) return fail(std::string(key) + " is " + why);
    }
    if (std::string why = finish_entry(); !why.empty()) return fail(why);
    return book;
}

// Warns once per file and process that a phonebook holding passwords can be read by others.
void warn_if_readable(const std::string& file, int fd, const Phonebook& book) {
    static std::mutex mutex;
    static std::set<std::string> warned;
    struct stat info{};
    if (::fstat(fd, &info) != 0 || (info.st_mode & 077) == 0) return;
    bool has_password = false;
    for (const PhonebookEntry& e : book.entries) has_password |= !e.password.empty();
    if (!has_password) return;
    {
        std::lock_guard lock(mutex);
        if (!warned.insert(file).second) return;
    }
    log_message("phonebook " + file + " holds passwords and may be read by other users (chmod 600 it)");
}

Phonebook read_phonebook(const char* path) {
    const std::string file = path != nullptr ? std::string(path) : default_phonebook();
    Phonebook book;
    const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        if (errno != ENOENT) book.result = kErrorCannotOpenPhonebook;   // missing: simply no entries
        return book;
    }
    std::string text;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            book.result = kErrorCannotOpenPhonebook;   // a folder, say
            return book;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > kMaxFileBytes) {
            log_message("phonebook " + file + " is larger than 1 MiB");
            book.result = kErrorCorruptPhonebook;
            return book;
        }
    }
    book = parse_phonebook(text, file);
    if (book.result == 0) warn_if_readable(file, fd.get(), book);
    return book;
}

const PhonebookEntry* find_entry(const Phonebook& book, std::string_view name) {
    for (const PhonebookEntry& e : book.entries)
        if (equals_ignoring_case(e.name, name)) return &e;
    return nullptr;
}

}  // namespace ras
