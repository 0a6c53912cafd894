// SSWorkerRequests.cpp: the command words of a request and what each does on the connection's channel or
// on the middle-tier object. Channel members are called by name; a number that a request carries is read
// before anything runs, so a refused request changes nothing.
#include "common/Conversions.h"
#include "common/Cp1252.h"
#include "gateway/Protocol.h"
#include "gateway/ReadOnlySql.h"
#include "gateway/SSWorker.h"

namespace {

using protocol::RequestRefused;

// What a read-only gateway answers an edit or a writing statement with: the number ADO gives for an edit
// of a cursor that cannot edit, so a client already handles it as "not allowed here".
constexpr int32_t kReadOnlyRefused = 3251;
constexpr int16_t kLockReadOnly = 1;   // adLockReadOnly

Variant text_arg(std::string_view token) { return Variant(cp1252::to_utf8(token)); }
std::string_view token(std::string_view& rest) { return wire::next_token(rest); }

}  // namespace

const SSWorker::Command SSWorker::kCommands[] = {
    {"direct", &SSWorker::do_direct},   {"noerror", &SSWorker::do_noerror}, {"rowcount", &SSWorker::do_rowcount},
    {"open", &SSWorker::do_open},       {"setcursor", &SSWorker::do_setcursor},
    {"getcursor", &SSWorker::do_getcursor},
    {"close", &SSWorker::do_close},     {"move", &SSWorker::do_move},       {"test", &SSWorker::do_test},
    {"add", &SSWorker::do_add},         {"update", &SSWorker::do_update},   {"delete", &SSWorker::do_delete},
    {"all", &SSWorker::do_all},         {"buff", &SSWorker::do_buff},       {"nkey", &SSWorker::do_nkey},
    {"mtier", &SSWorker::do_mtier},
};

void SSWorker::DoRequest(std::string_view rest) {
    const std::string_view word = wire::next_token(rest);
    for (const Command& c : kCommands) {
        if (c.word != word) continue;
        try {
            (this->*c.handler)(rest);
        } catch (const protocol::RequestRefused& e) {
            refuse(e);
        }
        return;
    }
    // An empty or unknown command word is ignored: nothing runs and nothing is sent.
}

void SSWorker::do_plain(const char* member) {
    channel_->call(member);
    CheckError();
}

// Refusals of the read-only switch go the way of every refused request: an error entry with
// acknowledgement on, a debug-list entry (LogError) with it off; nothing of the request runs.
void SSWorker::refuse_if_read_only(const char* what) {
    if (gateway_->limits.read_only)
        throw RequestRefused(kReadOnlyRefused, std::string(what) + ": the gateway is read-only");
}

void SSWorker::refuse_unless_reading(const char* what, std::string_view statement) {
    if (!gateway_->limits.read_only) return;
    const std::string why = read_only_refusal(cp1252::to_utf8(statement));
    if (!why.empty())
        throw RequestRefused(kReadOnlyRefused, std::string(what) + ": the gateway is read-only and " + why);
}

void SSWorker::do_direct(std::string_view rest) {
    const std::string_view statement = token(rest);
    refuse_unless_reading("direct", statement);
    const Variant affected = channel_->call("Direct", {text_arg(statement)});
    if (!CheckError()) SendReply(vb::signed_text(static_cast<int64_t>(vb::to_int32(affected))));
}

void SSWorker::do_noerror(std::string_view) { acknowledge_ = false; }

void SSWorker::do_rowcount(std::string_view) {
    const Variant count = channel_->call("RowCount");
    if (!CheckError()) SendReply(vb::signed_text(static_cast<int64_t>(vb::to_int32(count))));
}

// A read-only gateway opens every cursor read-only, whatever lock type the client asks for: a client that
// only reads (and many ask for an editable cursor out of habit) works unchanged, and its first edit is
// refused by name below. The statement itself must be one that only reads, as for "direct".
void SSWorker::do_open(std::string_view rest) {
    const std::string_view statement = token(rest);
    const int16_t cursor_type = protocol::int16_token(token(rest), "open: the cursor type");
    int16_t lock_type = protocol::int16_token(token(rest), "open: the lock type");
    refuse_unless_reading("open", statement);
    if (gateway_->limits.read_only) lock_type = kLockReadOnly;
    statement_ = cp1252::to_utf8(statement);
    channel_->call("OpenCursor", {Variant(statement_), Variant(int32_t{cursor_type}), Variant(int32_t{lock_type})});
    CheckError();
}

// Ident type "s": a field name; anything else: an ordinal, the Val of the ident. Value type "s": text;
// "n": the Val of the value; anything else: nothing is assigned and nothing is sent.
void SSWorker::do_setcursor(std::string_view rest) {
    const std::string_view ident = token(rest);
    const std::string_view ident_type = token(rest);
    const std::string_view value = token(rest);
    const std::string_view value_type = token(rest);
    Variant assigned;
    if (value_type == "s")
        assigned = text_arg(value);
    else if (value_type == "n")
        assigned = Variant(vb::val(value));
    else
        return;
    refuse_if_read_only("setcursor");
    const Variant desc = ident_type == "s" ? text_arg(ident) : Variant(vb::val(ident));
    channel_->put("Fields", {desc, assigned});
    CheckError();
}

// Ident type "n": an ordinal (the Val of the ident as a 16-bit whole number); anything else: a name.
void SSWorker::do_getcursor(std::string_view rest) {
    const std::string_view ident = token(rest);
    const std::string_view ident_type = token(rest);
    const Variant desc = ident_type == "n" ? Variant(protocol::int16_of(vb::val(ident), "getcursor: the ordinal"))
                                           : text_arg(ident);
    const Variant value = channel_->get("Fields", {desc});
    if (CheckError()) return;
    std::string reply(1, protocol::value_letter(value));
    reply += cp1252::from_utf8(protocol::value_text(value));
    SendReply(reply);
}

void SSWorker::do_close(std::string_view) { do_plain("CloseCursor"); }
void SSWorker::do_add(std::string_view) {
    refuse_if_read_only("add");
    do_plain("Add");
}
void SSWorker::do_update(std::string_view) {
    refuse_if_read_only("update");
    do_plain("Update");
}
void SSWorker::do_delete(std::string_view) {
    refuse_if_read_only("delete");
    do_plain("Delete");
}

void SSWorker::do_move(std::string_view rest) {
    channel_->call("Move", {text_arg(token(rest))});
    CheckError();
}

void SSWorker::do_test(std::string_view) {
    const bool at_end = vb::to_bool(channel_->call("TestCursor"));
    if (!CheckError()) SendReply(at_end ? "-1" : "0");
}

// "ok" (with acknowledgement on) still goes out under the old key; every later message uses the new one.
void SSWorker::do_nkey(std::string_view rest) {
    const int16_t count = protocol::int16_token(token(rest), "nkey: the key length");
    if (count < 1 || count > static_cast<int16_t>(wire::Key::kMaxLength))
        throw RequestRefused(kErrInvalidCall, "nkey: a key has 1 to 100 values, not " + std::to_string(count));
    std::vector<int16_t> values;
    for (int16_t i = 0; i < count; ++i) {
        const int16_t v = protocol::int16_token(token(rest), "nkey: a key value");
        if (v < -protocol::kMaxKeyValue || v > protocol::kMaxKeyValue)
            throw RequestRefused(kErrInvalidCall, "nkey: key value " + std::to_string(v) + " is outside -255..255");
        values.push_back(v);
    }
    wire::Key key(std::move(values));
    if (acknowledge_) SendReply("ok");
    key_ = std::move(key);
}

void SSWorker::do_mtier(std::string_view rest) {
    if (!gateway_->mtier)
        throw RequestRefused(kErrCannotCreate, "mtier: no middle tier (Mtier.Interface) is registered with the gateway");
    const Variant answer = gateway_->mtier->call("MTier", {text_arg(rest)});
    if (!CheckMTierError()) SendReply(cp1252::from_utf8(protocol::value_text(answer)));
}
