// iRecordSet.cpp: the record set's operations in its two modes. In-process, each operation calls the
// channel member of the same meaning by name and then raises the channel's error, if it recorded one.
// Through the gateway, each is one request on the record set's own connection, except moves and reads by
// name once a Buffer has filled the client-side buffer (iRecordSetBuffer.cpp).
//
// The mode is fixed when the record set is opened: a record set opened through the gateway keeps its
// connection when the thread later switches to in-process mode, and the other way round.
#include "tolvix/iRecordSet.h"

#include "client/General.h"
#include "client/LocalComponent.h"
#include "client/SS.h"
#include "client/SyncSocket.h"
#include "common/ComError.h"
#include "common/Conversions.h"
#include "platform/object/Dispatch.h"
#include "socketcontrol/Socket.h"

namespace tolvix {

namespace {
constexpr const char* kSource = "Tolvix.iRecordSet";
}

iRecordSet::iRecordSet() = default;
iRecordSet::~iRecordSet() = default;

std::shared_ptr<iRecordSet> iRecordSet::create() { return std::shared_ptr<iRecordSet>(new iRecordSet()); }

void iRecordSet::InitCursor(const std::string& sel, int32_t cursortype, int32_t locktype) {
    Buffered_ = false;
    const Settings& s = General();
    if (s.LocalMode) {
        Channel_ = new_local_channel();
        channel_call("OpenCursor", {Variant(sel), Variant(cursortype), Variant(locktype)});
        Online_ = true;
        return;
    }
    Sync_ = std::make_unique<SyncSocket>();
    Online_ = Sync_->SockInit(SS::CreateSocket());
    if (Online_) Sync_->OpenCursor(sel, cursortype, locktype);
}

// The channel's error text is "<number><STX><description>"; it is cleared on the channel before raising.
void iRecordSet::RaiseChannelError(const std::string& error) {
    std::string text = error;
    Channel_->call("ErrClear");
    std::string sep;
    const int32_t number = vb::to_int32(Variant(GetNext(text, sep)));
    throw ComError(number, kSource, text);
}

void iRecordSet::check_channel() {
    const std::string error = vb::to_text(Channel_->call("DError"));
    if (!error.empty()) RaiseChannelError(error);
}

Variant iRecordSet::channel_call(const char* member, std::vector<Variant> args) {
    Variant result = Channel_->call(member, std::move(args));
    check_channel();
    return result;
}

SyncSocket& iRecordSet::sync() {
    if (!Sync_) throw vb_error(kErrObjectNotSet, kSource);
    return *Sync_;
}

void iRecordSet::MoveFirst() {
    if (Channel_) channel_call("Move", {Variant("first")});
    else if (Buffered_) CurrentRow_ = 1;
    else sync().Move("first");
}

void iRecordSet::MoveLast() {
    if (Channel_) channel_call("Move", {Variant("last")});
    else if (Buffered_) CurrentRow_ = RowTotal_;
    else sync().Move("last");
}

void iRecordSet::MovePrevious() {
    if (Channel_) {
        channel_call("Move", {Variant("prev")});
    } else if (Buffered_) {
        CurrentRow_ = vb::to_int16(Variant(int32_t{CurrentRow_} - 1));
        if (CurrentRow_ < 1) pcEOF_ = true;
    } else {
        sync().Move("prev");
    }
}

void iRecordSet::MoveNext() {
    if (Channel_) {
        channel_call("Move", {Variant("next")});
    } else if (Buffered_) {
        CurrentRow_ = vb::to_int16(Variant(int32_t{CurrentRow_} + 1));
        if (CurrentRow_ > RowTotal_) pcEOF_ = true;
    } else {
        sync().Move("next");
    }
}

void iRecordSet::Add() {
    if (Channel_) channel_call("Add");
    else sync().Add();
}

void iRecordSet::Update() {
    if (Channel_) channel_call("Update");
    else sync().Update();
}

void iRecordSet::Delete() {
    if (Channel_) channel_call("Delete");
    else sync().Delete();
}

Variant iRecordSet::Fields(const Variant& ident) {
    if (Channel_) {
        Variant value = Channel_->get("Fields", {ident});
        check_channel();
        return value;
    }
    return Buffered_ ? BufferedField(ident) : sync().Cursor(ident);
}

// Writes go to the current record of the cursor, never to the buffer.
void iRecordSet::Fields(const Variant& ident, const Variant& value) {
    if (Channel_) {
        Channel_->put("Fields", {ident, value});
        check_channel();
    } else {
        sync().Cursor(ident, value);
    }
}

bool iRecordSet::cEOF() {
    if (Channel_) return vb::to_bool(channel_call("TestCursor"));
    return Buffered_ ? pcEOF_ : sync().CursorEOF();
}

// In-process the channel stays referenced; through the gateway the connection ends.
void iRecordSet::cClose() {
    if (Channel_) {
        channel_call("CloseCursor");
        return;
    }
    SyncSocket& s = sync();
    s.CloseCursor();
    s.SocketClose();
    Sync_.reset();
}

// Always the cursor's own count, also when buffered.
int32_t iRecordSet::RowCount() {
    if (Channel_) return vb::to_int32(channel_call("RowCount"));
    return vb::to_int32(Variant(sync().RowCount()));
}

// In-process the channel gets the names up to the last non-empty one, gaps included; the gateway gets the
// first name and every non-empty one after it.
std::string iRecordSet::All(const std::vector<std::string>& names) {
    if (names.empty() || names.size() > kMaxNames)
        throw ComError(kErrInvalidCall, kSource, "All takes 1 to 12 field names");
    if (!Channel_) return sync().All(names);
    size_t last = names.size();
    while (last > 1 && names[last - 1].empty()) --last;
    return vb::to_text(channel_call("All", std::vector<Variant>(names.begin(), names.begin() + last)));
}

}  // namespace tolvix
