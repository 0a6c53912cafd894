// ReadOnlySql.h: the read-only gateway's check of a client's statement text ("direct", "open"). It lets
// through a single SELECT (or WITH … SELECT) that neither SQLite nor PostgreSQL would let change data,
// as far as the text shows, and refuses everything doubtful.
#pragma once

#include <string>
#include <string_view>

// The empty text when `sql` may run on a read-only gateway; otherwise why it is refused. What a function
// defined in the database does cannot be seen in the text: for a guarantee the database itself must be
// read-only for the gateway (a role with SELECT rights only, or an SQLite file opened with mode=ro).
std::string read_only_refusal(std::string_view sql);
