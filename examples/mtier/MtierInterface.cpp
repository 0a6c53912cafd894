// MtierInterface.cpp: named statements with bound arguments over SQLite, for the gateway's "mtier".
#include "examples/mtier/MtierInterface.h"

#include <dlfcn.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/AsciiCase.h"
#include "common/ComError.h"
#include "common/Conversions.h"
#include "common/WireCodec.h"

namespace {

constexpr int32_t kStatementFailed = -2147217900;   // the number ADO gives a failing statement
constexpr const char* kSource = "Mtier.Interface";

// The file path after "Data Source=" in a connection string; "" when there is none.
std::string data_source(const std::string& connect) {
    std::string_view rest = connect;
    while (!rest.empty()) {
        const size_t end = rest.find(';');
        const std::string_view part = rest.substr(0, end);
        const size_t eq = part.find('=');
        if (eq != std::string_view::npos && equals_ignoring_case(vb::trim(part.substr(0, eq)), "Data Source"))
            return vb::trim(part.substr(eq + 1));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    return "";
}

std::string column_text(sqlite3_stmt* st, int i) {
    switch (sqlite3_column_type(st, i)) {
        case SQLITE_NULL: return "";
        case SQLITE_INTEGER: return std::to_string(sqlite3_column_int64(st, i));
        case SQLITE_FLOAT: return vb::double_text(sqlite3_column_double(st, i));
        default:
            return std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, i)),
                               static_cast<size_t>(sqlite3_column_bytes(st, i)));
    }
}

// Interrupts a statement that runs past its deadline (the gateway serves every client on one thread).
int past_deadline(void* deadline) {
    return std::chrono::steady_clock::now() > *static_cast<std::chrono::steady_clock::time_point*>(deadline);
}

}  // namespace

void MtierInterface::Closer::operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }

MtierInterface::MtierInterface(std::string statements_file) : statements_file_(std::move(statements_file)) {}
MtierInterface::~MtierInterface() = default;

void MtierInterface::record(int32_t number, const std::string& description) {
    errors_.push_back(vb::signed_text(static_cast<int64_t>(number)) + wire::kSeparator + description);
}

bool MtierInterface::DBInit(const std::string& Provider, const std::string& Connect, int16_t CommandTimeO,
                            int16_t ConnectionTimeO, int32_t) {
    db_.reset();
    if (!equals_ignoring_case(Provider, "SQLite")) {
        record(kErrInvalidCall, "this middle tier works on SQLite databases, not on provider \"" + Provider + "\"");
        return false;
    }
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(data_source(Connect).c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    std::unique_ptr<sqlite3, Closer> db(raw);   // owned even on failure: the message is read through it
    if (rc != SQLITE_OK) {
        record(kStatementFailed, std::string("cannot open the database: ") + sqlite3_errmsg(db.get()));
        return false;
    }
    // Waits are bounded: a lock held elsewhere fails after ConnectionTimeout (default 2 s).
    sqlite3_busy_timeout(db.get(), ConnectionTimeO > 0 ? ConnectionTimeO * 1000 : 2000);
    if (CommandTimeO > 0) command_timeout_ms_ = CommandTimeO * 1000;
    db_ = std::move(db);
    try {
        read_statements();
    } catch (const ComError& e) {
        record(e.number(), e.description());
        return false;
    }
    return true;
}

void MtierInterface::read_statements() {
    std::ifstream in(statements_file_);
    if (!in) throw ComError(53, kSource, "cannot read the statements file " + statements_file_);
    statements_.clear();
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        const std::string text = vb::trim(line);
        if (text.empty() || text[0] == '#') continue;
        const size_t eq = text.find('=');
        if (eq == std::string::npos || vb::trim(text.substr(0, eq)).empty())
            throw ComError(kErrInvalidCall, kSource,
                           statements_file_ + " line " + std::to_string(number) + " is not \"name = statement\"");
        statements_[vb::trim(text.substr(0, eq))] = vb::trim(text.substr(eq + 1));
    }
}

// "name STX arg STX arg ...": the statement of that name with the arguments bound in order.
std::string MtierInterface::MTier(const std::string& request) {
    std::string_view rest = request;
    const std::string name(wire::next_token(rest));
    std::vector<std::string> args;
    while (!rest.empty()) args.emplace_back(wire::next_token(rest));
    const auto found = statements_.find(name);
    if (found == statements_.end()) {
        record(kErrInvalidCall, "no statement named \"" + name + "\"");
        return "";
    }
    if (!db_) {
        record(3709, "the middle tier's database is not open (DBInit failed)");
        return "";
    }
    try {
        return run(found->second, args);
    } catch (const ComError& e) {
        record(e.number(), e.description());
        return "";
    }
}

std::string MtierInterface::run(const std::string& sql, const std::vector<std::string>& args) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
        throw ComError(kStatementFailed, kSource, sqlite3_errmsg(db_.get()));
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> st(raw, sqlite3_finalize);
    const int wanted = sqlite3_bind_parameter_count(st.get());
    if (wanted != static_cast<int>(args.size()))
        throw ComError(kErrInvalidCall, kSource,
                       "the statement takes " + std::to_string(wanted) + " arguments, not " + std::to_string(args.size()));
    for (int i = 0; i < wanted; ++i)
        sqlite3_bind_text(st.get(), i + 1, args[i].data(), static_cast<int>(args[i].size()), SQLITE_TRANSIENT);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(command_timeout_ms_);
    sqlite3_progress_handler(db_.get(), 1000, past_deadline, &deadline);
    std::string reply;
    bool first = true;
    int rc;
    while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
        for (int i = 0; i < sqlite3_column_count(st.get()); ++i) {
            if (!first) reply += wire::kSeparator;
            first = false;
            reply += column_text(st.get(), i);
        }
        if (reply.size() > kMaxReply) rc = SQLITE_TOOBIG;
        if (rc == SQLITE_TOOBIG) break;
    }
    sqlite3_progress_handler(db_.get(), 0, nullptr, nullptr);
    if (rc == SQLITE_TOOBIG) throw ComError(kErrOutOfMemory, kSource, "the reply exceeds 16 MB");
    if (rc != SQLITE_DONE) throw ComError(kStatementFailed, kSource, sqlite3_errmsg(db_.get()));
    return reply;
}

Variant MtierInterface::Invoke(std::string_view name, InvokeKind, std::vector<Variant> args) {
    const auto text = [&](size_t i) { return i < args.size() && !args[i].is_empty() ? vb::to_text(args[i]) : std::string(); };
    const auto number = [&](size_t i) { return i < args.size() && !args[i].is_empty() ? vb::to_int32(args[i]) : 0; };
    if (equals_ignoring_case(name, "MTier")) return Variant(MTier(vb::to_text(argument(args, 0, "Interface.MTier"))));
    if (equals_ignoring_case(name, "DError")) return Variant(DError());
    if (equals_ignoring_case(name, "ErrClear")) {
        ErrClear();
        return Variant();
    }
    if (equals_ignoring_case(name, "DBInit"))
        return Variant(DBInit(text(0), text(1), static_cast<int16_t>(number(2)), static_cast<int16_t>(number(3)),
                              number(4)));
    throw vb_error(kErrNoMember, kSource);
}

extern "C" Dispatch* mtier_create_object(const char* progid) {
    if (!progid || !equals_ignoring_case(progid, MtierInterface::kProgId)) return nullptr;
    std::string file;
    if (const char* env = std::getenv("MTIER_STATEMENTS"); env && *env) {
        file = env;
    } else {
        Dl_info info{};
        if (::dladdr(reinterpret_cast<void*>(&mtier_create_object), &info) && info.dli_fname)
            file = (std::filesystem::path(info.dli_fname).parent_path() / "mtier-statements.txt").string();
    }
    try {
        return new MtierInterface(file);
    } catch (...) {
        return nullptr;
    }
}
