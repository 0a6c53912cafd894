// PgSchema.cpp: column kinds and base-table tracing for PostgreSQL; see PgSchema.h.
#include "platform/ado/postgresql/PgSchema.h"

#include <cstdlib>
#include <map>
#include <string>

#include "common/ComError.h"

namespace ado::detail {
namespace {

struct TypeRule {
    Oid oid;  // built-in type OIDs are fixed (pg_type.dat)
    ColumnKind kind;
};

constexpr TypeRule kTypes[] = {
    {16, ColumnKind::Boolean},    // bool
    {20, ColumnKind::Integer},    // int8: 32-bit when it fits
    {21, ColumnKind::SmallInt},   // int2
    {23, ColumnKind::Integer},    // int4
    {26, ColumnKind::Integer},    // oid
    {700, ColumnKind::Double},    // float4
    {701, ColumnKind::Double},    // float8
    {1700, ColumnKind::Double},   // numeric
    {790, ColumnKind::Currency},  // money
    {1082, ColumnKind::Date},     // date
    {1083, ColumnKind::Time},     // time
    {1266, ColumnKind::Time},     // timetz
    {1114, ColumnKind::DateTime}, // timestamp
    {1184, ColumnKind::DateTime}, // timestamptz: shown in the session's time zone
    {25, ColumnKind::Text},       // text
    {1043, ColumnKind::Text},     // varchar
    {1042, ColumnKind::Text},     // bpchar (blank-padded as the database gives it)
    {19, ColumnKind::Text},       // name
    {18, ColumnKind::Text},       // char
    {17, ColumnKind::Blob},       // bytea, in its text form
};

constexpr Oid kInt4 = 23;
constexpr Oid kVarchar = 1043;
constexpr Oid kBpchar = 1042;
constexpr int kLengthWord = 4;

// All three: the table's quoted name, and per column its quoted name and whether it is in the primary key.
constexpr const char* kTableQuery =
    "SELECT c.oid::regclass::text, a.attnum, quote_ident(a.attname), coalesce(a.attnum = ANY(i.indkey), false) "
    "FROM pg_class c JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped "
    "LEFT JOIN pg_index i ON i.indrelid = c.oid AND i.indisprimary WHERE c.oid = $1";

// PQftable names the table but not which use of it a column came from: in a self-join two columns may
// come from different rows of the same table. So the statement must scan one relation once.
// The plan is asked through the extended protocol, which takes exactly one statement: with the simple
// protocol, the statements after the first of a multi-statement source would run a second time here.
// A source it refuses is simply not traceable.
bool reads_one_table(PgConn& conn, const std::string& sql) {
    PgResult plan;
    try {
        plan = conn.exec_params("EXPLAIN (FORMAT JSON) " + sql, {});
    } catch (const ComError&) {
        return false;
    }
    if (PQntuples(plan.get()) != 1) return false;
    const std::string text = PQgetvalue(plan.get(), 0, 0);
    size_t scans = 0;
    for (size_t at = text.find("\"Relation Name\""); at != std::string::npos;
         at = text.find("\"Relation Name\"", at + 1))
        ++scans;
    return scans == 1;
}

}  // namespace

std::vector<ColumnInfo> describe_columns(const PGresult* res) {
    std::vector<ColumnInfo> columns(PQnfields(res));
    for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
        columns[i].name = PQfname(res, i);
        columns[i].kind = ColumnKind::Text;
        columns[i].compare_as_text = true;  // types without a known kind may lack an equality operator
        for (const TypeRule& t : kTypes)
            if (PQftype(res, i) == t.oid) {
                columns[i].kind = t.kind;
                columns[i].compare_as_text = false;
            }
        columns[i].holds_nul = false;  // values travel as C strings, and text types refuse NUL anyway
        if (PQftype(res, i) == kInt4) columns[i].integer_bits = 32;
        // varchar(n) and char(n) keep n + 4 (the length word) as their type modifier; -1 is "no length".
        if ((PQftype(res, i) == kVarchar || PQftype(res, i) == kBpchar) && PQfmod(res, i) > kLengthWord)
            columns[i].max_chars = PQfmod(res, i) - kLengthWord;
    }
    return columns;
}

std::optional<TableInfo> trace_table(PgConn& conn, const PGresult* res, const std::string& sql) {
    const int n = PQnfields(res);
    if (n == 0) return std::nullopt;
    const Oid table = PQftable(res, 0);
    for (int i = 0; i < n; ++i)
        if (PQftable(res, i) != table || table == InvalidOid || PQftablecol(res, i) <= 0) return std::nullopt;
    PgResult meta = conn.exec_params(kTableQuery, {RawValue::of_integer(table)});
    struct Attribute { std::string name; bool key; };
    std::map<int, Attribute> attributes;
    size_t key_count = 0;
    for (const RawRow& row : read_rows(meta.get())) {
        const bool key = row[3].text == "t";
        attributes[std::atoi(row[1].text.c_str())] = Attribute{row[2].text, key};
        key_count += key ? 1 : 0;
    }
    if (attributes.empty() || key_count == 0 || !reads_one_table(conn, sql)) return std::nullopt;
    TableInfo info;
    info.table = read_row(meta.get(), 0)[0].text;
    for (int i = 0; i < n; ++i) {
        const auto it = attributes.find(PQftablecol(res, i));
        if (it == attributes.end()) return std::nullopt;
        info.columns.push_back(it->second.name);
        if (it->second.key) info.key.push_back(i);
    }
    if (info.key.size() != key_count) return std::nullopt;  // part of the key is not in the result
    return info;
}

}  // namespace ado::detail
