// DialerDispatch.cpp: the dialer's members by name (late binding), with their dispatch ids and help
// strings as the type library gives them.
#include "common/ComError.h"
#include "common/Conversions.h"
#include "socketcontrol/Dialer.h"

namespace {

constexpr MemberInfo kMembers[] = {
    {"CurrentEntryDomain", 0x6803000A,
     "Domain name to be used when logging onto remote computer. This is normally only required when connected to "
     "an NT Server network."},
    {"CurrentEntryName", 0x68030009, "The name of the currently selected DUN entry."},
    {"CurrentEntryPassword", 0x68030008, "The password to be used when logging onto the remote compute."},
    {"CurrentEntryUserId", 0x68030007, "The UserId to be used when logging onto the remote computer."},
    {"EntryCount", 0x68030006, "Number of entries in the DUN address book."},
    {"EntryName", 0x68030005, "Returns the name of the DUN entry at position EntryNumber in the address book."},
    {"Handle", 0x68030004, ""},
    {"HoldWhenDestroyed", 0x68030003, ""},
    {"IPAddress", 0x68030002, "The IPAddress of the Dial Up connection."},
    {"Reset", 0x6003000C, "Resets the dialer"},
    {"Timeout", 0x68030001,
     "The times, in 1/10s of a second, that the connection is to be held open when the connection usage count is "
     "0. When set to 0 connection timeout is disabled. When non-zero the connection will not timeout whilst the "
     "connection usage count is non-zero."},
    {"Connect", 0x6003000D, "Establish a DUN connection to the system identified by the CurrentEntryName property."},
    {"IsConnected", 0x68030000, "Indicates whether the dialer is currently connected to a remote system."},
    {"DisConnect", 0x6003000E, "Drops the current connection and hangs the phone up."},
    {"LoadEntryNames", 0x6003000F,
     "Loads details of the DUN address book into memory. This must be called before the EntryCount or EntryName "
     "properties can be used meaningfully."},
};

constexpr MemberInfo kEvents[] = {
    {"Progress", 1, ""},
    {"Error", 2, "Reports errors detected whils processing asynchronously."},
    {"Connected", 3, "Fires when a connection is successfully established."},
    {"DisConnected", 4, "Fires when the connection is broken. Is not fired when the Disconnect method is used."},
    {"TimedOut", 5, "Fires when the inactivity timer expires."},
};

using K = InvokeKind;
using Args = std::vector<Variant>;
using Handler = DispatchTable<Dialer>::Handler;

const Variant& put_value(const Args& a) { return argument(a, a.size() - 1, Dialer::kSource); }
void require(bool ok) {
    if (!ok) throw vb_error(kErrNoMember, Dialer::kSource);
}

// A text property with a getter and a setter.
Handler text_property(std::string (Dialer::*get)() const, void (Dialer::*let)(const std::string&)) {
    return [get, let](Dialer& d, K k, Args& a) -> Variant {
        require(k != K::Method && (k == K::PropertyPut ? let != nullptr : get != nullptr));
        if (k == K::PropertyGet) return Variant((d.*get)());
        (d.*let)(vb::to_text(put_value(a)));
        return {};
    };
}

// A read-only property.
template <class F>
Handler getter(F read) {
    return [read](Dialer& d, K k, Args&) -> Variant {
        require(k == K::PropertyGet);
        return Variant(read(d));
    };
}

Handler method(void (Dialer::*run)()) {
    return [run](Dialer& d, K k, Args&) -> Variant {
        require(k == K::Method);
        (d.*run)();
        return {};
    };
}

const DispatchTable<Dialer>& dispatch_table() {
    static const DispatchTable<Dialer> table(
        "Dialer",
        {
            {"CurrentEntryDomain", text_property(&Dialer::CurrentEntryDomain, &Dialer::CurrentEntryDomain)},
            {"CurrentEntryName", text_property(&Dialer::CurrentEntryName, &Dialer::CurrentEntryName)},
            {"CurrentEntryPassword", text_property(nullptr, &Dialer::CurrentEntryPassword)},
            {"CurrentEntryUserId", text_property(&Dialer::CurrentEntryUserId, &Dialer::CurrentEntryUserId)},
            {"EntryCount", getter([](Dialer& d) { return d.EntryCount(); })},
            {"EntryName",
             [](Dialer& d, K k, Args& a) -> Variant {
                 require(k != K::PropertyPut);
                 return Variant(d.EntryName(vb::to_int16(argument(a, 0, Dialer::kSource))));
             }},
            {"Handle", getter([](Dialer& d) { return d.Handle(); })},
            {"HoldWhenDestroyed",
             [](Dialer& d, K k, Args& a) -> Variant {
                 require(k != K::Method);
                 if (k == K::PropertyGet) return Variant(d.HoldWhenDestroyed());
                 d.HoldWhenDestroyed(vb::to_bool(put_value(a)));
                 return {};
             }},
            {"IPAddress", getter([](Dialer& d) { return d.IPAddress(); })},
            {"Reset", method(&Dialer::Reset)},
            {"Timeout",
             [](Dialer& d, K k, Args& a) -> Variant {
                 require(k != K::Method);
                 if (k == K::PropertyGet) return Variant(d.Timeout());
                 d.Timeout(vb::to_double(put_value(a)));
                 return {};
             }},
            {"Connect", method(&Dialer::Connect)},
            {"IsConnected", getter([](Dialer& d) { return d.IsConnected(); })},
            {"DisConnect", method(&Dialer::DisConnect)},
            {"LoadEntryNames", method(&Dialer::LoadEntryNames)},
        });
    return table;
}

}  // namespace

Variant Dialer::Invoke(std::string_view name, InvokeKind kind, std::vector<Variant> args) {
    const auto self = shared_from_this();
    return dispatch_table().invoke(*this, name, kind, args);
}

std::span<const MemberInfo> Dialer::members() { return kMembers; }
std::span<const MemberInfo> Dialer::events() { return kEvents; }
