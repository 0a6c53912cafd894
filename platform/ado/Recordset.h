// Recordset.h: an ADO-like cursor over the rows of one statement, with ADO's cursor types, lock types,
// BOF/EOF rules, RecordCount, moves, fields by name or zero-based ordinal, and AddNew/Update/Delete that are
// written to the database at Update (or Delete) time. Errors are raised as ComError with ADO's numbers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/Variant.h"
#include "platform/ado/AdoTypes.h"
#include "platform/ado/Connection.h"

namespace ado {

class Recordset;

// One field of the current record, as Recordset::Fields returns it. It names a column, not a value: Value()
// reads the record that is current at the time of the call. Valid while its Recordset lives.
class Field final {
public:
    const std::string& Name() const;
    Variant Value() const;              // 3021 without a current record; Null for NULL; Empty when unassigned
    void Value(const Variant& value);   // starts an edit; converted to the column's kind; 3251 when read-only

private:
    friend class Recordset;
    Field(Recordset& owner, int32_t ordinal) : owner_(&owner), ordinal_(ordinal) {}
    Recordset* owner_;
    int32_t ordinal_;
};

class Recordset final {
public:
    Recordset();
    ~Recordset();  // closes quietly; pending changes are dropped
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    // Runs `source` on `active_connection` and opens the cursor. Unspecified cursor/lock types use the
    // CursorType/LockType properties. The type actually given is reported by CursorType()/LockType() while
    // open: client-side cursors are static; dynamic is given as keyset (server side); a result that cannot
    // be traced to one table and its key is read-only. A statement that returns no rows runs and leaves the
    // Recordset closed. Raises 3705 when open, 3709 without an open connection, 3001 for bad arguments.
    void Open(const std::string& source, std::shared_ptr<Connection> active_connection,
              CursorTypeEnum cursor_type = adOpenUnspecified, LockTypeEnum lock_type = adLockUnspecified,
              int32_t options = adCmdUnspecified);
    // Closes the cursor; a pending edit or add is dropped (and a row lock released). 3704 when closed.
    void Close();

    ObjectStateEnum State() const noexcept;
    CursorTypeEnum CursorType() const noexcept;
    void CursorType(CursorTypeEnum type);       // 3705 while open
    LockTypeEnum LockType() const noexcept;
    void LockType(LockTypeEnum type);           // 3705 while open
    CursorLocationEnum CursorLocation() const noexcept;
    void CursorLocation(CursorLocationEnum location);  // 3705 while open; else inherited from the connection
    EditModeEnum EditMode() const;              // 3704 when closed

    // ADO calls this property EOF, but <cstdio> defines EOF as a macro, so a member of that name would be
    // replaced by "(-1)" in any file that includes it; the trailing underscore is the smallest change.
    bool EOF_() const;   // after the last record; 3704 when closed
    bool BOF() const;    // before the first record; 3704 when closed
    int32_t RecordCount() const;  // -1 for forward-only server cursors; 3704 when closed

    // Moves as ADO allows them (3021 past an end or on an empty set; -2147217884 for MovePrevious and
    // MoveLast on a forward-only cursor). Moving off a record with a pending edit or add writes it first; if
    // that write fails the edit is dropped, the error raised and the position kept.
    void MoveNext();
    void MovePrevious();
    void MoveFirst();
    void MoveLast();

    // A field by name (case-insensitive, first match) or zero-based ordinal (whole numbers, or a double
    // rounded half to even); 3265 for an unknown name or ordinal, or when the Recordset is closed.
    Field Fields(const Variant& index);
    int32_t FieldCount() const noexcept;  // Fields.Count: 0 when closed

    // Editing (3251 on a read-only cursor, 3704 when closed). AddNew makes a new empty record current
    // (a pending edit or add is written first); Update writes the pending edit or add at once, whatever the
    // lock type (batch-optimistic changes are written here too, since nothing here calls UpdateBatch); a
    // failed Update leaves the database unchanged and the edit pending so it can be corrected and retried.
    // Delete removes the current record at once; it stays current (unreadable) until the next move.
    void AddNew();
    void Update();
    void CancelUpdate();
    void Delete(AffectEnum affect_records = adAffectCurrent);

private:
    friend class Field;
    detail::RecordsetImpl& open_impl() const;  // raises 3704 when closed

    CursorTypeEnum cursor_type_ = adOpenForwardOnly;  // as requested (reported again after Close)
    LockTypeEnum lock_type_ = adLockReadOnly;
    CursorLocationEnum cursor_location_ = adUseServer;
    bool location_set_ = false;                       // set explicitly, else taken from the connection
    std::unique_ptr<detail::RecordsetImpl> impl_;     // set while open
};

}  // namespace ado
