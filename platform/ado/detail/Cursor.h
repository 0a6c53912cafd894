// Cursor.h: the position of a Recordset over its rows, with ADO's BOF/EOF rules. BufferedCursor holds
// every row (static and keyset cursors; a keyset cursor re-reads a row when it becomes current);
// StreamCursor holds only the current row of a result fetched on demand (forward-only server cursors).
// Callers check that a move is allowed (3021 and forward-only refusals) before calling it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/ado/detail/Provider.h"

namespace ado::detail {

struct Record {
    RawRow values;
    bool deleted = false;  // deleted through this cursor (or gone from the database): unreadable, skipped
};

class Cursor {
public:
    virtual ~Cursor() = default;
    virtual bool bof() const = 0;
    virtual bool eof() const = 0;
    virtual Record* current() = 0;  // nullptr at BOF or EOF
    virtual void move_next() = 0;
    virtual void move_previous() = 0;
    virtual void move_first() = 0;
    virtual void move_last() = 0;
    virtual int32_t count() const = 0;  // -1 when unknown
    virtual bool scrollable() const = 0;
    // AddNew: `record` becomes current; drop_added() removes it again and returns to where the cursor was.
    virtual void add(Record record) = 0;
    virtual void drop_added() = 0;
};

// Re-reads a record when it becomes current; false when the row is gone from the database.
using RefreshFn = std::function<bool(Record&)>;

class BufferedCursor final : public Cursor {
public:
    BufferedCursor(std::vector<RawRow> rows, RefreshFn refresh);
    bool bof() const override { return bof_; }
    bool eof() const override { return eof_; }
    Record* current() override;
    void move_next() override;
    void move_previous() override;
    void move_first() override;
    void move_last() override;
    int32_t count() const override;
    bool scrollable() const override { return true; }
    void add(Record record) override;
    void drop_added() override;

private:
    bool settle(size_t index);                       // record usable as current (refreshed for keysets)
    void go(std::optional<size_t> index, bool at_end);  // to a record, or past one end
    std::vector<Record> rows_;
    RefreshFn refresh_;          // empty for static cursors
    size_t pos_ = 0;             // current index when neither BOF nor EOF
    bool bof_ = true;
    bool eof_ = true;
    size_t saved_pos_ = 0;       // where AddNew came from
    bool saved_bof_ = false, saved_eof_ = false;
};

class StreamCursor final : public Cursor {
public:
    // `restart` runs the statement again (MoveFirst anywhere but on the first record, readable as read).
    StreamCursor(std::unique_ptr<RowStream> stream, std::function<std::unique_ptr<RowStream>()> restart);
    bool bof() const override { return bof_; }
    bool eof() const override { return eof_; }
    Record* current() override { return bof_ || eof_ ? nullptr : &current_; }
    void move_next() override;
    void move_previous() override {}  // refused by the caller
    void move_first() override;
    void move_last() override {}      // refused by the caller
    int32_t count() const override { return -1; }
    bool scrollable() const override { return false; }
    void add(Record record) override;
    void drop_added() override;

private:
    void fetch();
    std::unique_ptr<RowStream> stream_;  // released at the end, which frees its connection
    std::function<std::unique_ptr<RowStream>()> restart_;
    Record current_;
    int64_t index_ = -1;  // number of the current streamed row
    bool bof_ = true;
    bool eof_ = true;
    bool added_ = false;
    std::optional<Record> saved_;  // the streamed row AddNew replaced
    bool saved_eof_ = false;
};

}  // namespace ado::detail
