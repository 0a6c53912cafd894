// Shell.h: the commands of the client shell, one line at a time, on one iConnection.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "common/Variant.h"
#include "tolvix/iConnection.h"

class Shell {
public:
    // Results go to `out`, errors to `err`; the GatewayDown event is printed on `out`.
    Shell(tolvix::iConnection& connection, std::ostream& out, std::ostream& err);

    // Runs one line; blank lines and lines starting with # do nothing. False when the command failed (its
    // error has been printed).
    bool run_line(std::string_view line);
    bool any_failed() const { return any_failed_; }

private:
    struct Command {
        const char* word;
        void (Shell::*run)(std::string_view rest);
    };
    static const Command kCommands[];

    tolvix::iRecordSet& rs();   // the record set of the last open; 5 when there is none
    void do_direct(std::string_view rest);
    void do_mtier(std::string_view rest);
    void do_open(std::string_view rest);
    void do_first(std::string_view rest);
    void do_last(std::string_view rest);
    void do_next(std::string_view rest);
    void do_prev(std::string_view rest);
    void do_get(std::string_view rest);
    void do_set(std::string_view rest);
    void do_setnum(std::string_view rest);
    void do_add(std::string_view rest);
    void do_update(std::string_view rest);
    void do_delete(std::string_view rest);
    void do_eof(std::string_view rest);
    void do_rowcount(std::string_view rest);
    void do_all(std::string_view rest);
    void do_buffer(std::string_view rest);
    void do_close(std::string_view rest);

    tolvix::iConnection& connection_;
    std::ostream& out_;
    std::ostream& err_;
    std::shared_ptr<tolvix::iRecordSet> rs_;
    bool any_failed_ = false;
};

// The shell's text forms: a typed value ("text:abc", "int:5", "null" …) and its argument escapes.
std::string typed_text(const Variant& value);
// \xNN and \\ in an argument become the character they stand for; any other backslash raises 5.
std::string unescaped(std::string_view text);
