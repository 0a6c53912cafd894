// StreamCursor.cpp: a forward-only cursor that holds one row at a time; see Cursor.h.
#include "platform/ado/detail/Cursor.h"

namespace ado::detail {

StreamCursor::StreamCursor(std::unique_ptr<RowStream> stream,
                           std::function<std::unique_ptr<RowStream>()> restart)
    : stream_(std::move(stream)), restart_(std::move(restart)) {
    fetch();
    bof_ = eof_;  // an empty result is both BOF and EOF
}

void StreamCursor::fetch() {
    // Read into the current record's own vector, so a long scan reuses one row's memory.
    if (stream_ && stream_->next(current_.values)) {
        current_.deleted = false;
        ++index_;
        bof_ = eof_ = false;
        return;
    }
    stream_.reset();  // the end: free the statement and its connection at once
    eof_ = true;
}

void StreamCursor::move_next() {
    if (added_) {  // leave the added record for the streamed row after the one it replaced
        added_ = false;
        const bool was_eof = saved_eof_;
        saved_.reset();
        if (was_eof) { eof_ = true; return; }
    }
    fetch();
}

// Going back to the start of a stream means running the statement again, unless the cursor is still on
// the first record as it was read. A deleted first record is no reason to stay: the statement run again
// no longer finds it, and the next record becomes current.
void StreamCursor::move_first() {
    if (index_ == 0 && !bof_ && !eof_ && !added_ && !current_.deleted) return;
    added_ = false;
    saved_.reset();
    stream_.reset();
    stream_ = restart_();
    index_ = -1;
    fetch();
    if (eof_) bof_ = true;
}

void StreamCursor::add(Record record) {
    if (!bof_ && !eof_ && !added_) saved_ = std::move(current_);
    saved_eof_ = eof_;
    current_ = std::move(record);
    added_ = true;
    bof_ = eof_ = false;
}

void StreamCursor::drop_added() {
    added_ = false;
    if (saved_) {
        current_ = std::move(*saved_);
        saved_.reset();
    } else {
        eof_ = true;
        bof_ = index_ < 0;
    }
}

}  // namespace ado::detail
