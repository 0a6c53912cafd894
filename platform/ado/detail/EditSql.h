// EditSql.h: the statements that write a cursor's edits and re-read its rows, keyed on the base table's
// primary key. Changes and deletes also compare every column with the value read, so a row changed by
// someone else since it was read matches nothing instead of being overwritten.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/ado/detail/Provider.h"

namespace ado::detail {

struct Statement {
    std::string sql;
    std::vector<RawValue> params;
};

using PendingValues = std::vector<std::optional<RawValue>>;  // per result column; nullopt = unchanged

// SELECT <columns> FROM <table> WHERE <key> (with the provider's row lock clause when `lock`).
Statement select_row(const Provider& p, const TableInfo& t, const RawRow& row, bool lock);
// INSERT of the assigned columns (DEFAULT VALUES when none), RETURNING the whole row.
Statement insert_row(const Provider& p, const TableInfo& t, const PendingValues& values);
// UPDATE of the changed columns WHERE key and original values, RETURNING the whole row.
Statement update_row(const Provider& p, const TableInfo& t, const std::vector<ColumnInfo>& columns,
                     const RawRow& original, const PendingValues& values);
// DELETE WHERE key and original values, RETURNING the key.
Statement delete_row(const Provider& p, const TableInfo& t, const std::vector<ColumnInfo>& columns,
                     const RawRow& original);

}  // namespace ado::detail
