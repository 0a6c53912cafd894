// SqliteSpill.h: where a Connection's forward-only cursors keep their rows once every streaming connection
// is taken: a private temporary database (a file SQLite deletes when it closes; small results never leave
// its page cache). A result is copied there whole when its cursor opens, so the cursor sees the data as of
// its start without holding a connection, a read transaction or a descriptor of its own, and read back a
// small batch at a time, so its memory stays that of one batch however large the result.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/ado/detail/Provider.h"
#include "platform/ado/sqlite/SqliteConn.h"

namespace ado::detail {

class SqliteSpill final : public std::enable_shared_from_this<SqliteSpill> {
public:
    explicit SqliteSpill(const Settings& settings);
    SqliteSpill(const SqliteSpill&) = delete;
    SqliteSpill& operator=(const SqliteSpill&) = delete;

    // Reads `st` of `source` to its end and stores its rows; `on_row` tells whether its first step found a
    // row (that row is stored first). Returns a stream over the stored rows, which removes them when dropped.
    // Raises the database's error; nothing of the result is left behind then.
    std::unique_ptr<RowStream> store(SqliteConn& source, sqlite3_stmt* st, bool on_row);

private:
    friend class SpillStream;
    // Up to a batch of the rows of `result` stored after row `after` (0: from the first), in order; false
    // when none is left. `after` becomes the last one read.
    bool read(int64_t result, int64_t& after, std::vector<RawRow>& batch);
    void discard(int64_t result) noexcept;

    SqliteConn conn_;
    SqliteStmt insert_, select_, remove_;  // prepared once, reset after each use
    int64_t next_result_ = 1;
};

}  // namespace ado::detail
