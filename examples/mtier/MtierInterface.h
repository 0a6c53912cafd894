// MtierInterface.h: the example middle tier, "Mtier.Interface". It answers "name STX arg STX arg ..." by
// running the statement of that name, read from a file of named statements, with the arguments bound as
// parameters (never pasted into the SQL), and replies in the text format of the channel's All: every
// value of every row, separated by STX, a null as the empty text. Failures go to its error list as error
// entries, which the gateway reads with DError and clears with ErrClear, as it does a channel's.
//
// This example works on SQLite databases ("Data Source=<file>"); it keeps a connection of its own.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/object/Dispatch.h"

struct sqlite3;

class MtierInterface final : public Dispatch {
public:
    static constexpr const char* kProgId = "Mtier.Interface";
    // A reply longer than this is refused (error 7): the gateway sends each reply in one piece.
    static constexpr size_t kMaxReply = 16u << 20;

    // `statements_file`: the named statements, one per line "name = SQL" ("#" starts a comment line).
    explicit MtierInterface(std::string statements_file);
    ~MtierInterface() override;

    // Opens the database and reads the statements; false (and an error entry) on failure.
    bool DBInit(const std::string& Provider, const std::string& Connect, int16_t CommandTimeO, int16_t ConnectionTimeO,
                int32_t CursorLoc);
    std::string MTier(const std::string& request);
    std::string DError() const { return errors_.empty() ? std::string() : errors_.front(); }
    void ErrClear() { errors_.clear(); }

    Variant Invoke(std::string_view name, InvokeKind kind, std::vector<Variant> args) override;
    std::string type_name() const override { return "Interface"; }

private:
    struct Closer {
        void operator()(sqlite3* db) const noexcept;
    };
    void record(int32_t number, const std::string& description);
    void read_statements();
    std::string run(const std::string& sql, const std::vector<std::string>& args);

    std::string statements_file_;
    std::map<std::string, std::string> statements_;   // name → SQL
    std::unique_ptr<sqlite3, Closer> db_;
    int32_t command_timeout_ms_ = 30000;              // a statement's bound on the gateway's one thread
    std::vector<std::string> errors_;                  // oldest first
};

extern "C" {
// The registry file's factory: a new middle tier for "Mtier.Interface" (any case), reading the statements
// from "mtier-statements.txt" beside this library (or $MTIER_STATEMENTS when set).
Dispatch* mtier_create_object(const char* progid);
}
