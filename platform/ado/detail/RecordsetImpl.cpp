// RecordsetImpl.cpp: opening a cursor (which cursor and lock type are actually given), moves with ADO's
// refusals, and field lookup and reading. Editing is in RecordsetEdit.cpp.
#include "platform/ado/detail/RecordsetImpl.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "common/AsciiCase.h"
#include "common/Conversions.h"
#include "platform/ado/detail/Values.h"

namespace ado::detail {
namespace {

// Rows a provider buffered although a stream was asked for (statements that change data and return rows),
// handed out one at a time so the cursor still behaves as forward-only. MoveFirst starts again from these
// rows rather than running a data change a second time.
class BufferedStream final : public RowStream {
public:
    explicit BufferedStream(std::shared_ptr<const std::vector<RawRow>> rows) : rows_(std::move(rows)) {}
    bool next(RawRow& row) override {
        if (next_ >= rows_->size()) return false;
        row = (*rows_)[next_++];
        return true;
    }

private:
    std::shared_ptr<const std::vector<RawRow>> rows_;
    size_t next_ = 0;
};

// The cursor over a forward-only result. A streamed result gets its rows again by `rerun`; rows a provider
// buffered are handed out again from memory.
std::unique_ptr<StreamCursor> stream_cursor(QueryResult& result, std::function<std::unique_ptr<RowStream>()> rerun) {
    if (result.stream) return std::make_unique<StreamCursor>(std::move(result.stream), std::move(rerun));
    auto rows = std::make_shared<const std::vector<RawRow>>(std::move(result.rows));
    auto restart = [rows]() -> std::unique_ptr<RowStream> { return std::make_unique<BufferedStream>(rows); };
    return std::make_unique<StreamCursor>(std::make_unique<BufferedStream>(rows), std::move(restart));
}

bool same_name(const std::string& a, const std::string& b) {
    return equals_ignoring_case(a, b);
}

[[noreturn]] void no_current_record() { throw ado_error(adErrNoCurrentRecord, kSourceRecordset); }
[[noreturn]] void cannot_fetch_backwards() { throw ado_error(kDbCantFetchBackwards, kSourceRecordset); }

// The type a server-side cursor is given: dynamic as keyset (the nearest kind both providers offer), and
// keyset as static when there is no key to re-read rows by.
CursorTypeEnum given_type(CursorTypeEnum asked, CursorLocationEnum location, bool traced) {
    if (location == adUseClient) return adOpenStatic;  // ADO's cursor service offers static cursors only
    if (asked == adOpenDynamic) asked = adOpenKeyset;
    if (asked == adOpenKeyset && !traced) return adOpenStatic;
    return asked;
}

LockTypeEnum given_lock(LockTypeEnum asked, CursorLocationEnum location, bool traced) {
    if (!traced) return adLockReadOnly;
    if (location == adUseClient && asked == adLockPessimistic) return adLockOptimistic;
    return asked;
}

}  // namespace

std::unique_ptr<RecordsetImpl> RecordsetImpl::open(const std::string& sql, std::shared_ptr<Connection> connection,
                                                   CursorTypeEnum cursor_type, LockTypeEnum lock_type,
                                                   CursorLocationEnum location) {
    Provider& p = connection->provider();
    check_command_text(sql);
    const bool streaming = location != adUseClient && cursor_type == adOpenForwardOnly;
    std::optional<QueryResult> result = p.query(sql, streaming);
    if (!result) return nullptr;

    std::unique_ptr<RecordsetImpl> rs(new RecordsetImpl);
    rs->columns_ = std::move(result->columns);
    rs->table_ = std::move(result->table);
    rs->location_ = location;
    rs->cursor_type_ = given_type(cursor_type, location, rs->table_.has_value());
    rs->lock_type_ = given_lock(lock_type, location, rs->table_.has_value());
    if (rs->cursor_type_ == adOpenForwardOnly) {
        rs->cursor_ = stream_cursor(*result, [raw = rs.get(), sql] { return raw->rerun(sql); });
    } else {
        RefreshFn refresh;
        if (rs->cursor_type_ == adOpenKeyset) refresh = [raw = rs.get()](Record& r) { return raw->refresh(r); };
        rs->cursor_ = std::make_unique<BufferedCursor>(std::move(result->rows), std::move(refresh));
    }
    rs->connection_ref_ = std::move(connection);
    rs->connection_ = rs->connection_ref_.get();
    rs->connection_->attach(rs.get());
    return rs;
}

RecordsetImpl::~RecordsetImpl() {
    if (connection_) connection_->detach(this);
    cancel_update();
}

void RecordsetImpl::disconnect() noexcept {
    cancel_update();
    cursor_.reset();
    connection_ = nullptr;
}

Provider& RecordsetImpl::provider() const { return connection_->provider(); }

// MoveFirst on a streamed forward-only cursor runs the statement again. Another connection may have changed
// the table meanwhile (a column dropped or added), so the columns and the base table are those of the new
// result; a result no longer traced to one table and its key cannot be edited any more.
std::unique_ptr<RowStream> RecordsetImpl::rerun(const std::string& sql) {
    std::optional<QueryResult> again = provider().query(sql, true);
    if (!again) return std::make_unique<BufferedStream>(std::make_shared<std::vector<RawRow>>());
    columns_ = std::move(again->columns);
    table_ = std::move(again->table);
    if (!table_) lock_type_ = adLockReadOnly;
    if (again->stream) return std::move(again->stream);
    return std::make_unique<BufferedStream>(std::make_shared<std::vector<RawRow>>(std::move(again->rows)));
}

bool RecordsetImpl::refresh(Record& record) {
    const Statement st = select_row(provider(), *table_, record.values, false);
    std::vector<RawRow> rows = provider().run(st.sql, st.params);
    if (rows.empty()) return false;
    record.values = std::move(rows.front());
    return true;
}

void RecordsetImpl::move_next() {
    if (cursor_->eof()) no_current_record();
    before_move();
    cursor_->move_next();
}

void RecordsetImpl::move_previous() {
    if (!cursor_->scrollable()) cannot_fetch_backwards();
    if (cursor_->bof()) no_current_record();
    before_move();
    cursor_->move_previous();
}

void RecordsetImpl::move_first() {
    if (cursor_->bof() && cursor_->eof()) no_current_record();
    before_move();
    cursor_->move_first();
}

void RecordsetImpl::move_last() {
    if (!cursor_->scrollable()) cannot_fetch_backwards();
    if (cursor_->bof() && cursor_->eof()) no_current_record();
    before_move();
    cursor_->move_last();
}

int32_t RecordsetImpl::field_ordinal(const Variant& index) const {
    const auto not_found = [] { return ado_error(adErrItemNotFound, kSourceRecordset); };
    if (index.is_text()) {
        for (size_t i = 0; i < columns_.size(); ++i)
            if (same_name(columns_[i].name, index.as_text())) return static_cast<int32_t>(i);
        throw not_found();
    }
    double n = 0;
    switch (index.type()) {
        case VarType::Integer: n = index.as_int16(); break;
        case VarType::Long: n = index.as_int32(); break;
        case VarType::LongLong: n = static_cast<double>(index.as_int64()); break;
        case VarType::Double: n = vb::round_half_even(index.as_double()); break;
        default: throw not_found();
    }
    if (!(n >= 0 && n < static_cast<double>(columns_.size()))) throw not_found();
    return static_cast<int32_t>(n);
}

size_t RecordsetImpl::checked(int32_t ordinal) const {
    if (ordinal < 0 || static_cast<size_t>(ordinal) >= columns_.size())
        throw ado_error(adErrItemNotFound, kSourceRecordset);
    return static_cast<size_t>(ordinal);
}

// A row must have exactly the columns the cursor describes: values are looked up by column ordinal. A
// statement that another process's schema change re-prepared between its description and its first row
// would break that, so such a row is refused rather than read past its end.
Record& RecordsetImpl::readable_record() {
    Record* r = cursor_->current();
    if (!r || r->deleted) no_current_record();
    if (r->values.size() != columns_.size())
        throw ComError(kDbFail, kSourceRecordset, "The result's columns changed while it was read.");
    return *r;
}

Variant RecordsetImpl::get_value(int32_t ordinal) {
    checked(ordinal);
    const Record& r = readable_record();
    const ColumnKind kind = columns_[ordinal].kind;
    if (edit_mode_ != adEditNone && pending_[ordinal]) return to_variant(*pending_[ordinal], kind);
    if (edit_mode_ == adEditAdd) return Variant();  // a new record's unassigned field is Empty
    return to_variant(r.values[ordinal], kind);
}

}  // namespace ado::detail
