// RecordsetImpl.h: an open Recordset: its columns, the cursor over its rows, the lock type actually given,
// and the pending edit. Recordset (the public class) owns one while open; the Connection it was opened on
// keeps a plain pointer to it so that closing the connection closes the cursor first.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/Variant.h"
#include "platform/ado/AdoTypes.h"
#include "platform/ado/Connection.h"
#include "platform/ado/detail/Cursor.h"
#include "platform/ado/detail/EditSql.h"
#include "platform/ado/detail/Provider.h"

namespace ado::detail {

class RecordsetImpl final {
public:
    // Runs `sql` and builds the cursor; nullptr when the statement returns no rows (it has run).
    static std::unique_ptr<RecordsetImpl> open(const std::string& sql, std::shared_ptr<Connection> connection,
                                               CursorTypeEnum cursor_type, LockTypeEnum lock_type,
                                               CursorLocationEnum location);
    ~RecordsetImpl();
    RecordsetImpl(const RecordsetImpl&) = delete;
    RecordsetImpl& operator=(const RecordsetImpl&) = delete;

    // Called by Connection::Close: drops the pending edit, the stream and any lock, and marks this closed.
    void disconnect() noexcept;
    bool closed() const noexcept { return connection_ == nullptr; }

    CursorTypeEnum cursor_type() const noexcept { return cursor_type_; }
    LockTypeEnum lock_type() const noexcept { return lock_type_; }
    CursorLocationEnum location() const noexcept { return location_; }
    EditModeEnum edit_mode() const noexcept { return edit_mode_; }

    bool eof() const { return cursor_->eof(); }
    bool bof() const { return cursor_->bof(); }
    int32_t record_count() const { return cursor_->count(); }
    void move_next();
    void move_previous();
    void move_first();
    void move_last();

    int32_t field_count() const noexcept { return static_cast<int32_t>(columns_.size()); }
    int32_t field_ordinal(const Variant& index) const;  // 3265 when there is no such field
    const std::string& field_name(int32_t ordinal) const { return columns_[checked(ordinal)].name; }
    Variant get_value(int32_t ordinal);
    void set_value(int32_t ordinal, const Variant& value);

    void add_new();
    void update();
    void cancel_update() noexcept;
    void delete_current();

private:
    RecordsetImpl() = default;
    Provider& provider() const;
    size_t checked(int32_t ordinal) const;  // 3265 for a Field kept from an earlier opening with fewer columns
    Record& readable_record();     // current and not deleted, else 3021
    void require_editable() const; // 3251 unless the cursor can edit
    void before_move();            // writes a pending edit; drops it if that fails
    void start_edit(Record& record);
    void finish_edit() noexcept;   // edit written or dropped: back to no edit
    bool refresh(Record& record);  // keyset re-read
    std::unique_ptr<RowStream> rerun(const std::string& sql);  // MoveFirst of a streamed cursor

    Connection* connection_ = nullptr;             // null once closed
    std::shared_ptr<Connection> connection_ref_;   // keeps the connection alive while open
    std::vector<ColumnInfo> columns_;
    std::optional<TableInfo> table_;
    std::unique_ptr<Cursor> cursor_;
    CursorTypeEnum cursor_type_ = adOpenForwardOnly;  // as given
    LockTypeEnum lock_type_ = adLockReadOnly;         // as given
    CursorLocationEnum location_ = adUseServer;
    EditModeEnum edit_mode_ = adEditNone;
    PendingValues pending_;                 // values assigned during the edit, per column
    std::unique_ptr<LockSession> lock_;     // pessimistic edit in progress
};

}  // namespace ado::detail
