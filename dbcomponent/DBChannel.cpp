// DBChannel.cpp: the members of a channel.
//
// Error contract: every member except DError and ErrClear runs its body in ErrorList::trap. When a step
// fails, the member stops, appends "<number><STX><description>" to the error list and returns what it
// holds at that moment (0, false, "" or Empty). Callers — the gateway's worker and the client library in
// in-process mode — learn of failures only through DError.
#include "dbcomponent/DBChannel.h"

#include <atomic>
#include <new>

#include "common/ComError.h"
#include "common/Conversions.h"
#include "dbcomponent/CallErrors.h"
#include "dbcomponent/FieldText.h"
#include "dbcomponent/SharedState.h"
#include "platform/ado/Connection.h"

namespace {

std::atomic<size_t> g_all_limit{DBChannel::kDefaultAllLimit};

}  // namespace

DBChannel::DBChannel() {
    reset_field_separator();
}

void DBChannel::set_all_limit(size_t bytes) noexcept { g_all_limit.store(bytes, std::memory_order_relaxed); }

size_t DBChannel::all_limit() noexcept { return g_all_limit.load(std::memory_order_relaxed); }

// Releasing the channel releases its record set; an open cursor is closed quietly by the record set.
DBChannel::~DBChannel() = default;

// A reference, not a copy: copying an entry allocates, and an allocation failure must not escape.
const std::string& DBChannel::DError() const noexcept {
    return errors_.first();
}

void DBChannel::ErrClear() {
    errors_.clear();
}

ado::Recordset& DBChannel::create_recordset() {
    recordset_ = std::make_unique<ado::Recordset>();
    return *recordset_;
}

// The same answers as Recordset::Fields: a name is resolved by the record set the first time, and the
// resulting field is kept while the cursor stays open (its set of columns cannot change meanwhile). A
// cursor that was closed underneath the channel (its connection closed) goes back to the record set,
// which then reports the name as unknown, as it would have without the cache.
ado::Field DBChannel::field(const Variant& desc) {
    ado::Recordset& rs = recordset();
    if (!desc.is_text()) return rs.Fields(desc);
    if (rs.State() != ado::adStateOpen) {
        fields_by_name_.clear();
        return rs.Fields(desc);
    }
    const std::string& name = desc.as_text();
    for (const auto& [known, known_field] : fields_by_name_)
        if (known == name) return known_field;
    ado::Field found = rs.Fields(desc);
    if (fields_by_name_.size() < kMaxCachedNames) fields_by_name_.emplace_back(name, found);
    return found;
}

Variant DBChannel::Fields(const Variant& Desc) {
    return errors_.trap(Variant(), [&] { return field(Desc).Value(); });
}

void DBChannel::Fields(const Variant& Desc, const Variant& value) {
    errors_.trap_void([&] { field(Desc).Value(value); });
}

void DBChannel::Add() {
    errors_.trap_void([&] { recordset().AddNew(); });
}

void DBChannel::Update() {
    errors_.trap_void([&] { recordset().Update(); });
}

void DBChannel::Delete() {
    errors_.trap_void([&] { recordset().Delete(ado::adAffectCurrent); });
}

// Opening a cursor that is already open fails (3705) and is recorded: callers close first.
void DBChannel::OpenCursor(const std::string& sel, int32_t cursortype, int32_t locktype) {
    fields_by_name_.clear();
    errors_.trap_void([&] {
        recordset().Open(sel, shared_connection_for_request(), static_cast<ado::CursorTypeEnum>(cursortype),
                         static_cast<ado::LockTypeEnum>(locktype), ado::adCmdUnspecified);
    });
}

// The count goes through a 16-bit conversion as it did into the original's Integer: a statement that
// changed more than 32767 rows has run, but its count cannot be returned and Overflow (6) is recorded.
int16_t DBChannel::Direct(const std::string& sel) {
    return errors_.trap<int16_t>(0, [&] {
        const int32_t affected = shared_connection_for_request()->Execute(sel, ado::adCmdUnspecified);
        return vb::to_int16(Variant(affected));
    });
}

void DBChannel::CloseCursor() {
    fields_by_name_.clear();
    errors_.trap_void([&] { recordset().Close(); });
}

// Both flags are read, EOF first, as the original's "EOF Or BOF" did; a failure of either is recorded.
bool DBChannel::TestCursor() {
    return errors_.trap(false, [&] {
        ado::Recordset& rs = recordset();
        const bool at_end = rs.EOF_();
        const bool before_start = rs.BOF();
        return at_end || before_start;
    });
}

Variant DBChannel::Move(const std::string& retn) {
    errors_.trap_void([&] { DoMove(recordset(), retn); });
    return Variant();
}

// Keywords are compared exactly, in this order; the first match moves. Anything else does nothing and
// records nothing.
void DBChannel::DoMove(ado::Recordset& rs, const std::string& keyword) {
    struct MoveWord {
        std::string_view word;
        void (ado::Recordset::*move)();
    };
    static constexpr MoveWord kMoves[] = {
        {"next", &ado::Recordset::MoveNext},   {"last", &ado::Recordset::MoveLast},
        {"top", &ado::Recordset::MoveFirst},   {"first", &ado::Recordset::MoveFirst},
        {"prev", &ado::Recordset::MovePrevious},
    };
    errors_.trap_void([&] {
        for (const MoveWord& m : kMoves) {
            if (keyword == m.word) {
                (rs.*m.move)();
                return;
            }
        }
    });
}

// ADO reports -1 when the cursor cannot tell; a count outside the 16-bit range records Overflow (6).
int16_t DBChannel::RowCount() {
    return errors_.trap<int16_t>(0, [&] { return vb::to_int16(Variant(recordset().RecordCount())); });
}

// Reads the named fields of every record from the current one to the end, values joined by the field
// separator, no record boundary of its own. On a failure (an unknown name, a closed cursor, the text
// reaching all_limit(), memory running out) it stops, records the error and returns the text built so
// far: then it still begins with the separator and may end inside a record, and the cursor stays where
// the failure left it.
std::string DBChannel::All(const std::vector<std::string>& names) {
    std::string result;   // every value goes in with the separator in front of it
    const bool complete = errors_.trap(false, [&] {
        if (names.size() > kMaxAllNames) throw call_error(kErrWrongArgumentCount, "DBChannel.All");
        append_all_rows(recordset(), names, result);
        return true;
    });
    // Only a complete read drops the first separator (erasing allocates nothing), so a reader can tell an
    // interrupted one.
    if (complete && !result.empty()) result.erase(0, field_separator().size());
    return result;
}

// The loop of All. Field names are resolved on the first record and kept: the set of columns of an open
// cursor does not change, and looking each name up again on every record was most of the cost of a
// large read. An unknown name therefore fails on the first record, as a lookup per record would.
// The text stops growing before it passes all_limit(): the value that would pass it is left out and the
// read fails with 7, so the text ends with the last whole value.
void DBChannel::append_all_rows(ado::Recordset& rs, const std::vector<std::string>& names, std::string& out) {
    static const std::string kNoName;
    std::vector<const std::string*> wanted;   // p1 always, then each later name that is not empty
    wanted.push_back(names.empty() ? &kNoName : &names[0]);
    for (size_t i = 1; i < names.size(); ++i)
        if (!names[i].empty()) wanted.push_back(&names[i]);

    const std::string& separator = field_separator();
    const size_t limit = all_limit();
    std::vector<ado::Field> fields;
    fields.reserve(wanted.size());
    while (!rs.EOF_()) {
        for (size_t i = 0; i < wanted.size(); ++i) {
            if (i == fields.size()) fields.push_back(field(Variant(*wanted[i])));
            const Variant value = fields[i].Value();
            const size_t before = out.size();
            out += separator;
            append_cell(out, value);
            if (out.size() > limit) {
                out.resize(before);
                throw vb_error(kErrOutOfMemory, "DBChannel.All");
            }
        }
        rs.MoveNext();
    }
}

// FieldText with its own trap: a value that cannot be written is recorded and becomes "". Memory running
// out is not the value's fault and stops the whole read instead; going on would only fail again.
void DBChannel::append_cell(std::string& out, const Variant& value) {
    try {
        append_field_text(out, value);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        errors_.record_current_exception();
    }
}
