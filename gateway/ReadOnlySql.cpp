// ReadOnlySql.cpp: a small lexer of the SQL both databases share: words, 'strings' (a doubled quote inside),
// "quoted identifiers", -- and /* */ comments, semicolons. Everything outside that grammar on which the two
// databases read a text differently is refused, so that what we take for a string or a comment is one for
// the database too: $ (PostgreSQL's dollar quoting), \ anywhere (escape strings, and plain strings without
// standard_conforming_strings), [ ] and ` (SQLite's quoted identifiers; PostgreSQL's subscripts). A /* inside
// a comment nests in PostgreSQL but not in SQLite: ending at the first */ only makes us read more of the
// text as words, which can only refuse more.
//
// The statement is then allowed when its first word is SELECT or WITH, it is the only statement (nothing
// but blanks and comments after a ';'), and no word is one that writes, locks, changes the session or runs
// other statements (INSERT … INTO, FOR UPDATE/SHARE, PRAGMA …), and no function called is one of those
// known to change the database or the server (sequences, settings, large objects, server functions).
#include "gateway/ReadOnlySql.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace {

// Words that make a statement write, lock or do something other than read: refused wherever they appear
// (also as quoted identifiers, which may name functions).
constexpr std::array kRefusedWords = {
    "insert", "update", "delete", "merge", "upsert", "into", "create", "drop", "alter", "truncate",
    "pragma", "attach", "detach", "vacuum", "reindex", "analyze", "copy", "grant", "revoke", "lock",
    "share", "call", "do", "execute", "notify", "listen", "prepare", "begin", "commit", "rollback",
    "savepoint", "release", "refresh",
};

// Functions that change data, sequences, settings, files or other sessions, or run a statement given as
// text. Names beginning with "pg_", "lo_" or "dblink" are refused as a family: the server's own functions.
constexpr std::array kRefusedFunctions = {
    "nextval", "setval", "set_config", "load_extension", "writefile", "readfile", "fts3_tokenizer",
    "query_to_xml", "query_to_xmlschema", "query_to_xml_and_xmlschema", "cursor_to_xml", "cursor_to_xmlschema",
    "txid_current",
};
constexpr std::array kRefusedPrefixes = {"pg_", "lo_", "dblink"};

bool is_word_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

template <size_t N>
bool listed(const std::array<const char*, N>& list, const std::string& word) {
    return std::any_of(list.begin(), list.end(), [&](const char* w) { return word == w; });
}

// The lexer's walk over one text; check() gives the refusal or the empty text.
class Scan {
public:
    explicit Scan(std::string_view sql) : sql_(sql) {}

    std::string check() {
        if (sql_.find('\\') != std::string_view::npos) return "a backslash is not accepted";
        while (pos_ < sql_.size()) {
            const char c = sql_[pos_];
            std::string why;
            if (std::isspace(static_cast<unsigned char>(c))) {
                ++pos_;
            } else if (sql_.substr(pos_, 2) == "--") {
                skip_to("\n", 1);
            } else if (sql_.substr(pos_, 2) == "/*") {
                if (!skip_to("*/", 2)) return "a comment is not closed";
            } else if (ended_ && c != ';') {
                return "only one statement is accepted";
            } else if (c == '\'') {
                if (!skip_quoted('\'')) return "a string is not closed";
            } else if (c == '"') {
                const size_t start = pos_ + 1;
                if (!skip_quoted('"')) return "a quoted name is not closed";
                why = word(lower(sql_.substr(start, pos_ - 1 - start)));
            } else if (c == ';') {
                ++pos_;
                ended_ = true;
            } else if (c == '$' || c == '[' || c == ']' || c == '`') {
                return std::string("the character ") + c + " is not accepted";
            } else if (is_word_char(c)) {
                const size_t start = pos_;
                while (pos_ < sql_.size() && is_word_char(sql_[pos_])) ++pos_;
                why = word(lower(sql_.substr(start, pos_ - start)));
            } else {
                ++pos_;   // an operator or punctuation
            }
            if (!why.empty()) return why;
        }
        if (first_.empty()) return "the statement is empty";
        return {};
    }

private:
    // Every word, keyword or name, in order; the first decides the kind of statement.
    std::string word(const std::string& w) {
        if (first_.empty()) {
            first_ = w;
            if (w != "select" && w != "with") return "only SELECT statements are accepted, not " + w;
        }
        if (listed(kRefusedWords, w)) return "the word " + w + " is not accepted";
        if (called_next() && (listed(kRefusedFunctions, w) || std::any_of(kRefusedPrefixes.begin(), kRefusedPrefixes.end(),
                                                                         [&](const char* p) { return w.rfind(p, 0) == 0; })))
            return "the function " + w + " is not accepted";
        return {};
    }

    // Whether the next thing after blanks and comments is "(": the word before it names a function.
    bool called_next() const {
        size_t p = pos_;
        for (;;) {
            while (p < sql_.size() && std::isspace(static_cast<unsigned char>(sql_[p]))) ++p;
            if (sql_.substr(p, 2) == "/*") {
                const size_t end = sql_.find("*/", p + 2);
                if (end == std::string_view::npos) return true;   // doubtful: treat as a call
                p = end + 2;
            } else if (sql_.substr(p, 2) == "--") {
                const size_t end = sql_.find('\n', p);
                if (end == std::string_view::npos) return false;
                p = end + 1;
            } else {
                return p < sql_.size() && sql_[p] == '(';
            }
        }
    }

    // Moves past the next `end` (false when there is none: the rest is skipped).
    bool skip_to(std::string_view end, size_t opener) {
        const size_t found = sql_.find(end, pos_ + opener);
        pos_ = found == std::string_view::npos ? sql_.size() : found + end.size();
        return found != std::string_view::npos;
    }

    // Moves past a quoted text that starts at pos_, a doubled quote standing for one.
    bool skip_quoted(char quote) {
        for (size_t p = pos_ + 1; p < sql_.size(); ++p) {
            if (sql_[p] != quote) continue;
            if (p + 1 < sql_.size() && sql_[p + 1] == quote) {
                ++p;
                continue;
            }
            pos_ = p + 1;
            return true;
        }
        pos_ = sql_.size();
        return false;
    }

    std::string_view sql_;
    size_t pos_ = 0;
    std::string first_;
    bool ended_ = false;   // a ';' was seen: only blanks, comments and further ';' may follow
};

}  // namespace

std::string read_only_refusal(std::string_view sql) { return Scan(sql).check(); }
