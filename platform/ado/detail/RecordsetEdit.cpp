// RecordsetEdit.cpp: field assignment, AddNew, Update, CancelUpdate and Delete of an open Recordset.
// Every change is written at Update (or Delete) by a statement keyed on the base table's primary key that
// also requires the row to hold the values read, so a concurrent change is reported, not overwritten.
// Optimistic and batch-optimistic cursors lock nothing; pessimistic cursors lock the row in a session of
// their own from the first field change until the change is written or dropped.
#include "platform/ado/detail/RecordsetImpl.h"

#include <algorithm>

#include "platform/ado/detail/ColumnLimits.h"
#include "platform/ado/detail/Values.h"

namespace ado::detail {

void RecordsetImpl::require_editable() const {
    if (lock_type_ == adLockReadOnly) throw ComError(adErrFeatureNotAvailable, kSourceRecordset, kReadOnlyText);
}

void RecordsetImpl::set_value(int32_t ordinal, const Variant& value) {
    checked(ordinal);
    require_editable();
    Record& record = readable_record();
    RawValue raw = to_raw(value, columns_[ordinal].kind);
    check_column_limits(raw, columns_[ordinal]);
    if (edit_mode_ == adEditNone) start_edit(record);
    pending_[ordinal] = std::move(raw);
}

// Pessimistic cursors lock the row before its first change and edit the values the lock found.
void RecordsetImpl::start_edit(Record& record) {
    if (lock_type_ == adLockPessimistic) {
        std::unique_ptr<LockSession> session = provider().begin_lock();
        const Statement st = select_row(provider(), *table_, record.values, true);
        std::vector<RawRow> rows = session->run(st.sql, st.params);
        if (rows.empty()) throw ado_error(kDbRowChanged, kSourceRecordset);
        record.values = std::move(rows.front());
        lock_ = std::move(session);
    }
    pending_.assign(columns_.size(), std::nullopt);
    edit_mode_ = adEditInProgress;
}

void RecordsetImpl::finish_edit() noexcept {
    pending_.clear();
    lock_.reset();  // rolls back (and unlocks) unless committed
    edit_mode_ = adEditNone;
}

void RecordsetImpl::add_new() {
    require_editable();
    if (edit_mode_ != adEditNone) update();
    cursor_->add(Record{RawRow(columns_.size()), false});
    pending_.assign(columns_.size(), std::nullopt);
    edit_mode_ = adEditAdd;
}

// Writes the pending add or edit. On failure nothing is written and the edit stays pending (with its row
// lock), so the caller can correct a value and call Update again, or drop it by moving or CancelUpdate.
void RecordsetImpl::update() {
    require_editable();
    if (edit_mode_ == adEditNone) {
        if (!cursor_->current()) throw ado_error(adErrNoCurrentRecord, kSourceRecordset);
        return;
    }
    Record& record = *cursor_->current();
    if (edit_mode_ == adEditAdd) {
        const Statement st = insert_row(provider(), *table_, pending_);
        std::vector<RawRow> rows = provider().run(st.sql, st.params);
        if (rows.empty()) throw ado_error(kDbErrorsOccurred, kSourceRecordset);
        record.values = std::move(rows.front());
        return finish_edit();
    }
    if (std::none_of(pending_.begin(), pending_.end(), [](const auto& v) { return v.has_value(); }))
        return finish_edit();
    const Statement st = update_row(provider(), *table_, columns_, record.values, pending_);
    Executor& executor = lock_ ? static_cast<Executor&>(*lock_) : provider();
    std::vector<RawRow> rows = executor.run(st.sql, st.params);
    if (rows.empty()) throw ado_error(kDbRowChanged, kSourceRecordset);
    if (lock_) lock_->commit();
    record.values = std::move(rows.front());
    finish_edit();
}

void RecordsetImpl::cancel_update() noexcept {
    if (edit_mode_ == adEditAdd && cursor_) cursor_->drop_added();
    finish_edit();
}

void RecordsetImpl::delete_current() {
    require_editable();
    if (edit_mode_ == adEditAdd) return cancel_update();  // the new record was never written
    Record& record = readable_record();
    const Statement st = delete_row(provider(), *table_, columns_, record.values);
    Executor& executor = lock_ ? static_cast<Executor&>(*lock_) : provider();
    if (executor.run(st.sql, st.params).empty()) throw ado_error(kDbRowChanged, kSourceRecordset);
    if (lock_) lock_->commit();
    finish_edit();
    record.deleted = true;  // stays current, unreadable, until the next move
}

// ADO writes a pending change when the cursor moves off its record. If that write fails the change is
// dropped (the caller hears the error and the position is kept), so a caller without CancelUpdate is not
// left with a record it can neither write nor leave.
void RecordsetImpl::before_move() {
    if (edit_mode_ == adEditNone) return;
    try {
        update();
    } catch (...) {
        cancel_update();
        throw;
    }
}

}  // namespace ado::detail
