// Phonebook.h: the stand-in's phonebook, a plain text file of entries (format in the README, "Dial-up
// networking"). The file is read again by every call that needs it, as the service reads its own, so
// an operator's edit shows at the next call.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ras {

enum class Backend { simulated, command };

// How a simulated dial goes.
struct SimulatedScript {
    std::vector<uint32_t> states;                          // reported in this order
    std::chrono::milliseconds step_delay{0};               // before each state
    uint32_t error = 0;                                    // 0: the dial succeeds
    std::optional<uint32_t> fail_at;                       // the state that fails (default: the last listed)
    std::string address;                                   // the IP projection's address; empty: none
    std::optional<std::chrono::milliseconds> drop_after;   // the link goes down this long after connecting
};

// How a real link is brought up and down.
struct CommandSpec {
    std::vector<std::string> up;      // program and arguments, run without a shell
    std::vector<std::string> down;    // empty: the up command's process group is ended instead
    std::string interface_name;       // the link's network interface, when it has one
    bool address_from_stdout = true;  // "IP=a.b.c.d" on the up command's output, else the interface's address
    std::chrono::seconds connect_timeout{60};
    std::vector<std::pair<int, uint32_t>> exit_errors;   // up command's exit status -> RAS error
};

struct PhonebookEntry {
    std::string name;   // as in the file (UTF-8)
    std::string phone, user, password, domain;
    Backend backend = Backend::simulated;
    SimulatedScript simulated;
    CommandSpec command;
};

struct Phonebook {
    uint32_t result = 0;   // 0, 621 (cannot be read) or 625 (malformed)
    std::vector<PhonebookEntry> entries;   // in file order
};

// Reads the phonebook at `path` (the default one when null). A missing file has no entries.
Phonebook read_phonebook(const char* path);

// Parses phonebook text; `origin` names it in messages. Sets result 625 and logs the line on error.
Phonebook parse_phonebook(std::string_view text, const std::string& origin);

// The entry called `name` (ASCII letters compared without regard to case, as the service does).
const PhonebookEntry* find_entry(const Phonebook& book, std::string_view name);

// A command line split into words at blanks; double quotes group blanks into a word and a backslash in
// them escapes '"' and '\'. Nothing else is special (no shell runs). Null for an unterminated quote.
std::optional<std::vector<std::string>> split_command(std::string_view line);

// Hands a message to the log sink (see set_log_sink).
void log_message(const std::string& text);

}  // namespace ras
