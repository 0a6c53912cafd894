// Shell.cpp: parsing one command line and running it on the client library.
#include "tools/Shell.h"

#include <charconv>

#include "common/ComError.h"
#include "common/Conversions.h"
#include "tolvix/frmDebug.h"

namespace {

constexpr const char* kSource = "tolvix";

ComError usage_error(const std::string& why) { return ComError(kErrInvalidCall, kSource, why); }

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view skip_blanks(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    return text;
}

// The next blank-separated word of `rest`, taken off it.
std::string_view next_word(std::string_view& rest) {
    rest = skip_blanks(rest);
    size_t end = 0;
    while (end < rest.size() && !is_blank(rest[end])) ++end;
    const std::string_view word = rest.substr(0, end);
    rest = skip_blanks(rest.substr(end));
    return word;
}

std::string_view required_word(std::string_view& rest, const char* what) {
    const std::string_view word = next_word(rest);
    if (word.empty()) throw usage_error(std::string("missing ") + what);
    return word;
}

int32_t whole_number(std::string_view text, const char* what) {
    int32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        throw usage_error(std::string(what) + " must be a whole number, not \"" + std::string(text) + "\"");
    return value;
}

// NAME, or #N for the zero-based position N.
Variant field_ident(std::string_view word) {
    if (word.size() > 1 && word[0] == '#') return Variant(whole_number(word.substr(1), "a field position"));
    return Variant(unescaped(word));
}

std::vector<std::string> names(std::string_view rest) {
    std::vector<std::string> out;
    for (std::string_view w = next_word(rest); !w.empty(); w = next_word(rest)) out.push_back(unescaped(w));
    if (out.empty()) throw usage_error("missing field names");
    return out;
}

void no_arguments(std::string_view rest) {
    if (!skip_blanks(rest).empty()) throw usage_error("unexpected \"" + std::string(rest) + "\"");
}

}  // namespace

std::string typed_text(const Variant& value) {
    switch (value.type()) {
    case VarType::Empty: return "empty";
    case VarType::Null: return "null";
    case VarType::Integer:
    case VarType::Long: return "int:" + vb::to_text(value);
    case VarType::LongLong: return "long:" + vb::to_text(value);
    case VarType::Double: return "double:" + vb::to_text(value);
    case VarType::Currency: return "currency:" + vb::to_text(value);
    case VarType::Date: return "date:" + vb::to_text(value);
    case VarType::String: return "text:" + tolvix::escaped(value.as_text());
    case VarType::Boolean: return "bool:" + vb::to_text(value);
    case VarType::Object: return "object";
    }
    return "object";
}

std::string unescaped(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned code = 0;
        if (text[i] != '\\') {
            out += text[i];
        } else if (text.substr(i + 1, 1) == "\\") {
            out += '\\';
            i += 1;
        } else if (text.substr(i + 1, 1) == "x" && i + 3 < text.size() &&
                   std::from_chars(text.data() + i + 2, text.data() + i + 4, code, 16).ptr == text.data() + i + 4) {
            out += static_cast<char>(code);
            i += 3;
        } else {
            throw usage_error("a backslash must start an escape: backslash, x and two hex digits, or two "
                              "backslashes");
        }
    }
    return out;
}

const Shell::Command Shell::kCommands[] = {
    {"direct", &Shell::do_direct}, {"mtier", &Shell::do_mtier},   {"open", &Shell::do_open},
    {"first", &Shell::do_first},   {"last", &Shell::do_last},     {"next", &Shell::do_next},
    {"prev", &Shell::do_prev},     {"get", &Shell::do_get},       {"set", &Shell::do_set},
    {"setnum", &Shell::do_setnum}, {"add", &Shell::do_add},       {"update", &Shell::do_update},
    {"delete", &Shell::do_delete}, {"eof", &Shell::do_eof},       {"rowcount", &Shell::do_rowcount},
    {"all", &Shell::do_all},       {"buffer", &Shell::do_buffer}, {"close", &Shell::do_close},
};

Shell::Shell(tolvix::iConnection& connection, std::ostream& out, std::ostream& err)
    : connection_(connection), out_(out), err_(err) {
    connection_.on_GatewayDown([this] { out_ << "event: GatewayDown" << std::endl; });
}

bool Shell::run_line(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);   // scripts written on Windows
    std::string_view rest = skip_blanks(line);
    if (rest.empty() || rest[0] == '#') return true;
    const std::string_view word = next_word(rest);
    try {
        for (const Command& c : kCommands)
            if (word == c.word) {
                (this->*c.run)(rest);
                out_.flush();
                return true;
            }
        throw usage_error("unknown command \"" + std::string(word) + "\" (tolvix --help lists them)");
    } catch (const ComError& e) {
        out_.flush();
        err_ << "error " << e.number() << ": " << tolvix::escaped(e.description()) << std::endl;
    } catch (const std::exception& e) {
        out_.flush();
        err_ << "error " << kErrInvalidCall << ": " << tolvix::escaped(e.what()) << std::endl;
    }
    any_failed_ = true;
    return false;
}

tolvix::iRecordSet& Shell::rs() {
    if (!rs_) throw usage_error("no record set is open (use open)");
    return *rs_;
}

void Shell::do_direct(std::string_view rest) { out_ << connection_.Direct(unescaped(rest)) << '\n'; }
void Shell::do_mtier(std::string_view rest) { out_ << tolvix::escaped(connection_.mtier(unescaped(rest))) << '\n'; }

void Shell::do_open(std::string_view rest) {
    const int32_t cursor = whole_number(required_word(rest, "cursor type"), "the cursor type");
    const int32_t lock = whole_number(required_word(rest, "lock type"), "the lock type");
    if (rest.empty()) throw usage_error("missing SQL");
    rs_ = connection_.CrOpen(unescaped(rest), static_cast<tolvix::iCursorTypeEnum>(cursor),
                             static_cast<tolvix::iLockTypeEnum>(lock));
    out_ << (rs_ && rs_->IPOnLine() ? "online" : "offline") << '\n';
}

void Shell::do_first(std::string_view rest) { no_arguments(rest); rs().MoveFirst(); }
void Shell::do_last(std::string_view rest) { no_arguments(rest); rs().MoveLast(); }
void Shell::do_next(std::string_view rest) { no_arguments(rest); rs().MoveNext(); }
void Shell::do_prev(std::string_view rest) { no_arguments(rest); rs().MovePrevious(); }
void Shell::do_add(std::string_view rest) { no_arguments(rest); rs().Add(); }
void Shell::do_update(std::string_view rest) { no_arguments(rest); rs().Update(); }
void Shell::do_delete(std::string_view rest) { no_arguments(rest); rs().Delete(); }
void Shell::do_close(std::string_view rest) { no_arguments(rest); rs().cClose(); }

void Shell::do_get(std::string_view rest) {
    const Variant ident = field_ident(required_word(rest, "field name"));
    no_arguments(rest);
    out_ << typed_text(rs().Fields(ident)) << '\n';
}

void Shell::do_set(std::string_view rest) {
    const Variant ident = field_ident(required_word(rest, "field name"));
    rs().Fields(ident, Variant(unescaped(rest)));
}

// The number is read the same way whatever the process locale ("." decimal point).
void Shell::do_setnum(std::string_view rest) {
    const Variant ident = field_ident(required_word(rest, "field name"));
    const std::string_view text = required_word(rest, "number");
    no_arguments(rest);
    const std::optional<double> number = vb::parse_number(text);
    if (!number) throw usage_error("\"" + std::string(text) + "\" is not a number");
    rs().Fields(ident, Variant(*number));
}

void Shell::do_eof(std::string_view rest) { no_arguments(rest); out_ << (rs().cEOF() ? "true" : "false") << '\n'; }
void Shell::do_rowcount(std::string_view rest) { no_arguments(rest); out_ << rs().RowCount() << '\n'; }
void Shell::do_all(std::string_view rest) { out_ << tolvix::escaped(rs().All(names(rest))) << '\n'; }
void Shell::do_buffer(std::string_view rest) { rs().Buffer(names(rest)); }
