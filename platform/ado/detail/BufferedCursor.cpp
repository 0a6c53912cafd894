// BufferedCursor.cpp: a cursor over rows held in memory (static and keyset cursors); see Cursor.h.
#include "platform/ado/detail/Cursor.h"

namespace ado::detail {

BufferedCursor::BufferedCursor(std::vector<RawRow> rows, RefreshFn refresh) : refresh_(std::move(refresh)) {
    rows_.reserve(rows.size());
    for (auto& r : rows) rows_.push_back(Record{std::move(r), false});
    if (!rows_.empty()) go(0, false);  // freshly read: no re-read needed
}

Record* BufferedCursor::current() { return bof_ || eof_ ? nullptr : &rows_[pos_]; }

bool BufferedCursor::settle(size_t index) {
    Record& r = rows_[index];
    if (r.deleted) return false;
    if (refresh_ && !refresh_(r)) r.deleted = true;  // a hole left by another connection's delete
    return !r.deleted;
}

// A move that finds no record while none is left at all gives the state of an empty set (both BOF and
// EOF), as after deleting the last remaining record.
void BufferedCursor::go(std::optional<size_t> index, bool at_end) {
    if (index) {
        pos_ = *index;
        bof_ = eof_ = false;
    } else if (count() == 0) {
        bof_ = eof_ = true;
    } else if (at_end) {
        eof_ = true;
    } else {
        bof_ = true;
    }
}

// An unsuccessful MoveNext sets EOF and leaves BOF; MovePrevious the reverse; MoveFirst/MoveLast that find no
// record set both, as ADO does.
void BufferedCursor::move_next() {
    for (size_t i = bof_ ? 0 : pos_ + 1; i < rows_.size(); ++i)
        if (settle(i)) return go(i, false);
    pos_ = rows_.size();
    go(std::nullopt, true);
}

void BufferedCursor::move_previous() {
    for (size_t i = eof_ ? rows_.size() : pos_; i-- > 0;)
        if (settle(i)) return go(i, false);
    go(std::nullopt, false);
}

void BufferedCursor::move_first() {
    for (size_t i = 0; i < rows_.size(); ++i)
        if (settle(i)) return go(i, false);
    bof_ = eof_ = true;
}

void BufferedCursor::move_last() {
    for (size_t i = rows_.size(); i-- > 0;)
        if (settle(i)) return go(i, false);
    bof_ = eof_ = true;
}

int32_t BufferedCursor::count() const {
    int32_t n = 0;
    for (const Record& r : rows_) n += r.deleted ? 0 : 1;
    return n;
}

// Added records are appended, so MoveNext after their Update reaches EOF.
void BufferedCursor::add(Record record) {
    saved_pos_ = pos_;
    saved_bof_ = bof_;
    saved_eof_ = eof_;
    rows_.push_back(std::move(record));
    go(rows_.size() - 1, false);
}

void BufferedCursor::drop_added() {
    rows_.pop_back();
    pos_ = saved_pos_;
    bof_ = saved_bof_;
    eof_ = saved_eof_;
}

}  // namespace ado::detail
