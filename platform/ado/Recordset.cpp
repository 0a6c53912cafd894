// Recordset.cpp: the public Recordset and Field: argument checks, the properties kept while closed, and
// the closed-state errors; the open cursor's work is done by detail::RecordsetImpl.
#include "platform/ado/Recordset.h"

#include "platform/ado/detail/RecordsetImpl.h"

namespace ado {
namespace {

[[noreturn]] void invalid_argument() { throw ado_error(adErrInvalidArgument, kSourceRecordset); }

// adCmdTable names a table; the other kinds all come down to statement text here. The low bits give the
// command kind; the high ones (asynchronous, no records) change nothing here.
std::string statement_for(const std::string& source, int32_t options) {
    switch (options == adCmdUnspecified ? adCmdUnspecified : (options & 0x0F)) {
        case adCmdUnspecified:
        case adCmdText:
        case adCmdUnknown: return source;
        case adCmdTable: return "SELECT * FROM " + source;
        default: invalid_argument();
    }
}

}  // namespace

const std::string& Field::Name() const { return owner_->open_impl().field_name(ordinal_); }
Variant Field::Value() const { return owner_->open_impl().get_value(ordinal_); }
void Field::Value(const Variant& value) { owner_->open_impl().set_value(ordinal_, value); }

Recordset::Recordset() = default;
Recordset::~Recordset() = default;

detail::RecordsetImpl& Recordset::open_impl() const {
    if (!impl_ || impl_->closed()) throw ado_error(adErrObjectClosed, kSourceRecordset);
    return *impl_;
}

void Recordset::Open(const std::string& source, std::shared_ptr<Connection> active_connection,
                     CursorTypeEnum cursor_type, LockTypeEnum lock_type, int32_t options) {
    if (State() == adStateOpen) throw ado_error(adErrObjectOpen, kSourceRecordset);
    impl_.reset();  // a cursor its connection closed
    if (!active_connection || active_connection->State() != adStateOpen)
        throw ado_error(adErrInvalidConnection, kSourceRecordset);
    if (cursor_type < adOpenUnspecified || cursor_type > adOpenStatic) invalid_argument();
    if (lock_type < adLockUnspecified || lock_type > adLockBatchOptimistic || lock_type == 0) invalid_argument();
    const std::string sql = statement_for(source, options);
    if (cursor_type != adOpenUnspecified) cursor_type_ = cursor_type;
    if (lock_type != adLockUnspecified) lock_type_ = lock_type;
    const CursorLocationEnum location = location_set_ ? cursor_location_ : active_connection->CursorLocation();
    impl_ = detail::RecordsetImpl::open(sql, std::move(active_connection), cursor_type_, lock_type_, location);
}

void Recordset::Close() {
    open_impl();
    impl_.reset();
}

ObjectStateEnum Recordset::State() const noexcept {
    return impl_ && !impl_->closed() ? adStateOpen : adStateClosed;
}

CursorTypeEnum Recordset::CursorType() const noexcept {
    return State() == adStateOpen ? impl_->cursor_type() : cursor_type_;
}

void Recordset::CursorType(CursorTypeEnum type) {
    if (State() == adStateOpen) throw ado_error(adErrObjectOpen, kSourceRecordset);
    if (type < adOpenForwardOnly || type > adOpenStatic) invalid_argument();
    cursor_type_ = type;
}

LockTypeEnum Recordset::LockType() const noexcept {
    return State() == adStateOpen ? impl_->lock_type() : lock_type_;
}

void Recordset::LockType(LockTypeEnum type) {
    if (State() == adStateOpen) throw ado_error(adErrObjectOpen, kSourceRecordset);
    if (type < adLockReadOnly || type > adLockBatchOptimistic) invalid_argument();
    lock_type_ = type;
}

CursorLocationEnum Recordset::CursorLocation() const noexcept {
    return State() == adStateOpen ? impl_->location() : cursor_location_;
}

void Recordset::CursorLocation(CursorLocationEnum location) {
    if (State() == adStateOpen) throw ado_error(adErrObjectOpen, kSourceRecordset);
    if (location < adUseNone || location > adUseClient) invalid_argument();
    cursor_location_ = location == adUseNone ? adUseServer : location;
    location_set_ = true;
}

EditModeEnum Recordset::EditMode() const { return open_impl().edit_mode(); }
bool Recordset::EOF_() const { return open_impl().eof(); }
bool Recordset::BOF() const { return open_impl().bof(); }
int32_t Recordset::RecordCount() const { return open_impl().record_count(); }
void Recordset::MoveNext() { open_impl().move_next(); }
void Recordset::MovePrevious() { open_impl().move_previous(); }
void Recordset::MoveFirst() { open_impl().move_first(); }
void Recordset::MoveLast() { open_impl().move_last(); }

// A closed Recordset has an empty Fields collection, so every lookup is "not found" rather than "closed".
Field Recordset::Fields(const Variant& index) {
    if (State() != adStateOpen) throw ado_error(adErrItemNotFound, kSourceRecordset);
    return Field(*this, impl_->field_ordinal(index));
}

int32_t Recordset::FieldCount() const noexcept { return State() == adStateOpen ? impl_->field_count() : 0; }

void Recordset::AddNew() { open_impl().add_new(); }
void Recordset::Update() { open_impl().update(); }
void Recordset::CancelUpdate() { open_impl().cancel_update(); }

void Recordset::Delete(AffectEnum affect_records) {
    detail::RecordsetImpl& rs = open_impl();
    if (affect_records != adAffectCurrent) throw ado_error(adErrFeatureNotAvailable, kSourceRecordset);
    rs.delete_current();
}

}  // namespace ado
