// Provider.h: what a database back end gives the cursor and editing code: raw values, column
// descriptions, buffered or streamed results, parameterised statements, and row-lock sessions. Internal to
// platform/ado; the back ends live in sqlite/ and postgresql/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ado::detail {

// One value as the database holds it. SQLite gives typed values; PostgreSQL gives text (or Null).
struct RawValue {
    enum class Type : uint8_t { Null, Integer, Real, Text, Blob };
    Type type = Type::Null;
    int64_t integer = 0;
    double real = 0;
    std::string text;  // Text and Blob

    static RawValue of_integer(int64_t v) { RawValue r; r.type = Type::Integer; r.integer = v; return r; }
    static RawValue of_real(double v) { RawValue r; r.type = Type::Real; r.real = v; return r; }
    static RawValue of_text(std::string v, Type type = Type::Text) {
        RawValue r; r.type = type; r.text = std::move(v); return r;
    }
    bool is_null() const noexcept { return type == Type::Null; }
    bool operator==(const RawValue&) const = default;
};
using RawRow = std::vector<RawValue>;

// The kind of value a column yields and accepts, from its declared or catalogue type.
enum class ColumnKind : uint8_t {
    Untyped,   // no declared type: each value keeps its storage class
    Text,
    Integer,   // 32-bit when the value fits, else 64-bit
    SmallInt,  // 16-bit (PostgreSQL int2)
    Double,
    Currency,
    Date,      // date only
    Time,      // time of day only (day 30 December 1899)
    DateTime,
    Boolean,
    Blob,      // bytes, handed on as text
};

struct ColumnInfo {
    std::string name;           // as the result names it
    ColumnKind kind = ColumnKind::Untyped;
    bool compare_as_text = false;  // the type has no equality operator: compare its text form (PostgreSQL)
    // What the column can hold beyond its kind, checked when a value is assigned (see ColumnLimits.h).
    int32_t max_chars = 0;     // varchar(n), char(n): n characters; 0 = no limit
    int integer_bits = 64;     // whole numbers wider than this do not fit (PostgreSQL int4: 32)
    bool holds_nul = true;     // text with a NUL character is kept whole (PostgreSQL: never)
};

// The one base table a result's rows come from, for edits and keyset re-reads.
struct TableInfo {
    std::string table;                 // quoted (and qualified) name, ready for SQL
    std::vector<std::string> columns;  // quoted column name in the table, per result column
    std::vector<size_t> key;           // result ordinals of the primary-key columns
};

// Rows fetched on demand. Dropping the stream ends the statement and frees its connection.
class RowStream {
public:
    virtual ~RowStream() = default;
    virtual bool next(RawRow& row) = 0;  // false at the end; `row` may hold the previous row to reuse
};

struct QueryResult {
    std::vector<ColumnInfo> columns;
    std::optional<TableInfo> table;     // nullopt: cannot be traced to one table and its key
    std::vector<RawRow> rows;           // all rows (buffered results)
    std::unique_ptr<RowStream> stream;  // or rows on demand (streamed results)
};

// Runs one parameterised statement and returns the rows it yields (SELECT, or RETURNING of a change).
class Executor {
public:
    virtual ~Executor() = default;
    virtual std::vector<RawRow> run(const std::string& sql, const std::vector<RawValue>& params) = 0;
};

// A transaction on a connection of its own that holds row (or database) locks for a pessimistic edit.
// Dropping it without commit() rolls back and releases the locks.
class LockSession : public Executor {
public:
    virtual void commit() = 0;
};

struct Settings {
    std::string connection_string;
    std::string user_id;   // from Connection.Open, added to the connection string's values
    std::string password;
    int32_t command_timeout = 30;     // seconds, 0 = none
    int32_t connection_timeout = 15;  // seconds, 0 = none
    int32_t lock_timeout_ms = 2000;   // wait for another process's lock; 0 = fail at once
};

// Command text reaches the databases' C interfaces as a C string: a NUL inside would cut it short
// silently (libpq) or stall SQLite's statement splitter, so text holding one is refused outright. Empty or
// blank text is refused with -2147217908 "Command text was not set for the command object."
void check_command_text(const std::string& sql);

class Provider : public Executor {
public:
    // Runs one or more statements; returns ADO's RecordsAffected (-1 unless the last was a data change).
    virtual int32_t execute(const std::string& sql) = 0;
    // Runs a statement for a cursor. nullopt when it yields no rows (it has then run). `streaming` asks
    // for rows on demand; a provider may still buffer statements it cannot stream (data changes).
    virtual std::optional<QueryResult> query(const std::string& sql, bool streaming) = 0;
    // Opens a lock session (pessimistic editing).
    virtual std::unique_ptr<LockSession> begin_lock() = 0;

    // SQL dialect for generated statements.
    virtual std::string placeholder(size_t number) const = 0;  // 1-based
    virtual std::string equal_or_both_null(const std::string& column, const ColumnInfo& info,
                                           const std::string& placeholder) const = 0;
    virtual std::string row_lock_clause() const = 0;  // appended to a SELECT by key inside a lock session
    virtual const char* source() const = 0;           // error source name
};

// The back end for a Provider text (case-insensitive "SQLite" or "PostgreSQL"), opened with `settings`.
// Raises 3706 for an unknown provider, the back end's error when the database cannot be opened.
std::unique_ptr<Provider> open_provider(const std::string& provider_name, const Settings& settings);

}  // namespace ado::detail
