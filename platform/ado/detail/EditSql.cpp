// EditSql.cpp: statement text for edits and keyset re-reads; see EditSql.h.
#include "platform/ado/detail/EditSql.h"

#include <algorithm>

namespace ado::detail {
namespace {

std::string column_list(const TableInfo& t) {
    std::string s;
    for (size_t i = 0; i < t.columns.size(); ++i) s += (i ? ", " : "") + t.columns[i];
    return s;
}

bool is_key(const TableInfo& t, size_t i) { return std::find(t.key.begin(), t.key.end(), i) != t.key.end(); }

// "<key> = ?" for each key column: the key is never NULL, and a plain comparison lets the index serve it.
void add_key_match(const Provider& p, const TableInfo& t, const RawRow& row, Statement& st, std::string& where) {
    for (size_t k : t.key) {
        st.params.push_back(row[k]);
        where += (where.empty() ? "" : " AND ") + t.columns[k] + " = " + p.placeholder(st.params.size());
    }
}

// Key match plus every other column equal to the value read (or both NULL).
std::string where_unchanged(const Provider& p, const TableInfo& t, const std::vector<ColumnInfo>& columns,
                            const RawRow& original, Statement& st) {
    std::string where;
    add_key_match(p, t, original, st, where);
    for (size_t i = 0; i < t.columns.size(); ++i) {
        if (is_key(t, i)) continue;
        st.params.push_back(original[i]);
        where += " AND " + p.equal_or_both_null(t.columns[i], columns[i], p.placeholder(st.params.size()));
    }
    return where;
}

}  // namespace

Statement select_row(const Provider& p, const TableInfo& t, const RawRow& row, bool lock) {
    Statement st;
    std::string where;
    add_key_match(p, t, row, st, where);
    st.sql = "SELECT " + column_list(t) + " FROM " + t.table + " WHERE " + where;
    if (lock) st.sql += p.row_lock_clause();
    return st;
}

Statement insert_row(const Provider& p, const TableInfo& t, const PendingValues& values) {
    Statement st;
    std::string names, marks;
    for (size_t i = 0; i < values.size(); ++i) {
        if (!values[i]) continue;
        st.params.push_back(*values[i]);
        names += (names.empty() ? "" : ", ") + t.columns[i];
        marks += (marks.empty() ? "" : ", ") + p.placeholder(st.params.size());
    }
    st.sql = "INSERT INTO " + t.table +
             (names.empty() ? std::string(" DEFAULT VALUES") : " (" + names + ") VALUES (" + marks + ")") +
             " RETURNING " + column_list(t);
    return st;
}

Statement update_row(const Provider& p, const TableInfo& t, const std::vector<ColumnInfo>& columns,
                     const RawRow& original, const PendingValues& values) {
    Statement st;
    std::string sets;
    for (size_t i = 0; i < values.size(); ++i) {
        if (!values[i]) continue;
        st.params.push_back(*values[i]);
        sets += (sets.empty() ? "" : ", ") + t.columns[i] + " = " + p.placeholder(st.params.size());
    }
    const std::string where = where_unchanged(p, t, columns, original, st);
    st.sql = "UPDATE " + t.table + " SET " + sets + " WHERE " + where + " RETURNING " + column_list(t);
    return st;
}

Statement delete_row(const Provider& p, const TableInfo& t, const std::vector<ColumnInfo>& columns,
                     const RawRow& original) {
    Statement st;
    const std::string where = where_unchanged(p, t, columns, original, st);
    st.sql = "DELETE FROM " + t.table + " WHERE " + where + " RETURNING " + t.columns[t.key.front()];
    return st;
}

}  // namespace ado::detail
