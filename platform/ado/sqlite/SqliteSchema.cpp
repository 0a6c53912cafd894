// SqliteSchema.cpp: column kinds and base-table tracing for SQLite; see SqliteSchema.h.
#include "platform/ado/sqlite/SqliteSchema.h"

#include <algorithm>
#include <map>
#include <string>

#include "common/AsciiCase.h"
#include "platform/ado/detail/ConnectionString.h"

namespace ado::detail {
namespace {

struct KindRule {
    const char* fragment;  // upper-case text the declared type contains
    ColumnKind kind;
};

// In this order, the first match wins; SQLite's own affinity rules put "INT" first.
constexpr KindRule kKindRules[] = {
    {"BOOL", ColumnKind::Boolean},       {"INT", ColumnKind::Integer},      {"CHAR", ColumnKind::Text},
    {"CLOB", ColumnKind::Text},          {"TEXT", ColumnKind::Text},        {"BLOB", ColumnKind::Blob},
    {"REAL", ColumnKind::Double},        {"FLOA", ColumnKind::Double},      {"DOUB", ColumnKind::Double},
    {"MONEY", ColumnKind::Currency},     {"CURRENCY", ColumnKind::Currency}, {"DATETIME", ColumnKind::DateTime},
    {"TIMESTAMP", ColumnKind::DateTime}, {"DATE", ColumnKind::Date},        {"TIME", ColumnKind::Time},
    {"NUMERIC", ColumnKind::Double},     {"DECIMAL", ColumnKind::Double},
};

ColumnKind kind_of(const char* declared) {
    if (!declared) return ColumnKind::Untyped;
    const std::string upper = ascii_uppered(declared);  // std::toupper follows the locale ("int" is not "INT" in Turkish)
    if (upper == "BIT") return ColumnKind::Boolean;
    for (const KindRule& r : kKindRules)
        if (upper.find(r.fragment) != std::string::npos) return r.kind;
    return ColumnKind::Untyped;
}

std::string text_or_empty(const char* p) { return p ? p : ""; }

// Column origins name the table but not which use of it in the statement a value came from: in a self-join
// two columns may come from different rows of the same table. So the statement must read one table once:
// its query plan has a single SCAN or SEARCH (a MULTI-INDEX OR counts once, not per index).
bool reads_one_table(SqliteConn& conn, sqlite3_stmt* st) {
    std::vector<int64_t> or_branches;  // ids of the "INDEX n" rows under a MULTI-INDEX OR
    int scans = 0;
    for (const RawRow& row : conn.run(std::string("EXPLAIN QUERY PLAN ") + sqlite3_sql(st), {})) {
        if (row.size() < 4) continue;
        const std::string& detail = row[3].text;
        const bool in_or = std::find(or_branches.begin(), or_branches.end(), row[1].integer) != or_branches.end();
        if (detail.rfind("INDEX ", 0) == 0) or_branches.push_back(row[0].integer);
        else if (detail == "MULTI-INDEX OR") ++scans;
        else if ((detail.rfind("SCAN ", 0) == 0 || detail.rfind("SEARCH ", 0) == 0) && !in_or &&
                 detail != "SCAN CONSTANT ROW")
            ++scans;
    }
    return scans == 1;
}

}  // namespace

std::string quote_identifier(const std::string& name) {
    std::string q = "\"";
    for (char c : name) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

std::vector<ColumnInfo> describe_columns(sqlite3_stmt* st) {
    std::vector<ColumnInfo> columns(sqlite3_column_count(st));
    for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
        columns[i].name = text_or_empty(sqlite3_column_name(st, i));
        columns[i].kind = kind_of(sqlite3_column_decltype(st, i));
    }
    return columns;
}

// Every column must come straight from the same table, and the table's declared primary key must be among
// them; a table keyed only by its hidden rowid cannot be traced (the rowid is not in the result).
std::optional<TableInfo> trace_table(SqliteConn& conn, sqlite3_stmt* st) {
    const int n = sqlite3_column_count(st);
    std::string database, table;
    TableInfo info;
    for (int i = 0; i < n; ++i) {
        const char* db = sqlite3_column_database_name(st, i);
        const char* tab = sqlite3_column_table_name(st, i);
        const char* origin = sqlite3_column_origin_name(st, i);
        if (!db || !tab || !origin) return std::nullopt;
        if (i == 0) database = db, table = tab;
        if (database != db || table != tab) return std::nullopt;
        info.columns.push_back(quote_identifier(origin));
    }
    if (n == 0 || !reads_one_table(conn, st)) return std::nullopt;
    std::map<int, std::string> key_columns;  // position in the key → column name
    const std::string pragma = "PRAGMA " + quote_identifier(database) + ".table_info(" + quote_identifier(table) + ")";
    for (const RawRow& row : conn.run(pragma, {}))
        if (row.size() >= 6 && row[5].type == RawValue::Type::Integer && row[5].integer > 0)
            key_columns[static_cast<int>(row[5].integer)] = row[1].text;
    if (key_columns.empty()) return std::nullopt;
    for (const auto& [position, name] : key_columns) {
        int found = -1;
        for (int i = 0; i < n && found < 0; ++i)
            if (equals_ignoring_case(sqlite3_column_origin_name(st, i), name)) found = i;
        if (found < 0) return std::nullopt;
        info.key.push_back(static_cast<size_t>(found));
    }
    info.table = quote_identifier(database) + "." + quote_identifier(table);
    return info;
}

}  // namespace ado::detail
