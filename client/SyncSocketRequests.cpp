// SyncSocketRequests.cpp: the request text of each operation and how its reply is read.
#include "client/General.h"
#include "client/SyncSocket.h"
#include "common/ComError.h"
#include "common/Conversions.h"
#include "tolvix/frmDebug.h"

namespace tolvix {

namespace {

constexpr const char* kSource = "Tolvix.SyncSocket";
constexpr std::string_view kCursorErrorMarker = "!?\?!";   // escaped: "??!" would be a trigraph

std::string sep() { return General().Separator; }

// A number as the signed-number text form writes it, without its blank (the same text as the default
// form of numbers and booleans); Empty counts as 0 and Null joins as nothing.
std::string number_text(const Variant& v) {
    if (v.is_empty()) return "0";
    if (v.is_null()) return "";
    return vb::trim(vb::to_text(v));
}

}  // namespace

void SyncSocket::Move(const std::string& Retn) { TCPSend(vb::trim("move" + sep() + vb::trim(Retn))); }
void SyncSocket::Add() { TCPSend("add"); }
void SyncSocket::Update() { TCPSend("update"); }
void SyncSocket::Delete() { TCPSend("delete"); }
void SyncSocket::CloseCursor() { TCPSend("close"); }
void SyncSocket::DBClose() { TCPSend("dbclose"); }

// Text travels as text ("s"), trimmed; numbers, booleans and Empty as numbers ("n"); dates as their text.
void SyncSocket::Cursor(const Variant& ident, const Variant& val) {
    const bool ident_text = ident.is_text();
    const bool val_text = val.is_text() || val.type() == VarType::Date;
    const std::string request = "setcursor" + sep() + (ident_text ? vb::trim(ident.as_text()) : number_text(ident)) +
                                sep() + (ident_text ? "s" : "n") + sep() +
                                (val_text ? vb::trim(vb::to_text(val)) : number_text(val)) + sep() +
                                (val_text ? "s" : "n");
    TCPSend(request);
}

// The reply is a type letter and the value: "n" alone is Null, anything else comes back as text. A value
// carrying the cursor-error marker drops the connection and is returned as it came.
Variant SyncSocket::Cursor(const Variant& ident) {
    const bool ident_text = ident.is_text();
    TCPSend("getcursor" + sep() + (ident_text ? vb::trim(ident.as_text()) : number_text(ident)) + sep() +
                (ident_text ? "s" : "n"),
            Reply::OnSuccess);
    const std::string reply = TCPRead();
    const std::string tag = reply.substr(0, 1);
    std::string value = reply.size() > 1 ? reply.substr(1) : std::string();
    if (tag == "n") return value.empty() ? Variant::null() : Variant(std::move(value));
    if (value.compare(0, kCursorErrorMarker.size(), kCursorErrorMarker) == 0)
        cursor_error(value.substr(kCursorErrorMarker.size()));
    return Variant(std::move(value));
}

// Where a windowed client showed a message box, the trace list gets the message.
void SyncSocket::cursor_error(const std::string& text) {
    frmDebug::instance().add_top("Cursor error: " + text);
    Socket_.reset();
}

bool SyncSocket::CursorEOF() {
    TCPSend("test", Reply::OnSuccess);
    return vb::to_int16(Variant(TCPRead())) != 0;
}

void SyncSocket::OpenCursor(const std::string& sel, int32_t cursortype, int32_t locktype) {
    TCPSend(vb::trim("open" + sep() + sel + sep() + std::to_string(cursortype) + sep() + std::to_string(locktype)));
}

double SyncSocket::RowCount() {
    TCPSend("rowcount", Reply::OnSuccess);
    return vb::val(TCPRead());
}

int32_t SyncSocket::Direct(const std::string& sel) {
    TCPSend("direct" + sep() + vb::trim(sel), Reply::OnSuccess);
    return vb::to_int32(Variant(TCPRead()));
}

std::string SyncSocket::mtier(const std::string& inpStr) {
    TCPSend(inpStr, Reply::OnSuccess);
    return TCPRead();
}

std::string SyncSocket::Buffer(const std::vector<std::string>& p) { return bulk("buff", p); }
std::string SyncSocket::All(const std::vector<std::string>& p) { return bulk("all", p); }

std::string SyncSocket::bulk(const char* command, const std::vector<std::string>& p) {
    if (p.empty() || p.size() > 12) throw ComError(kErrInvalidCall, kSource, "Buffer and All take 1 to 12 field names");
    std::string request = command + sep() + p[0];
    for (size_t k = 1; k < p.size(); ++k)
        if (!p[k].empty()) request += sep() + p[k];
    TCPSend(request, Reply::Always);
    return TCPRead();
}

}  // namespace tolvix
