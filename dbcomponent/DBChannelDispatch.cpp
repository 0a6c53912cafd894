// DBChannelDispatch.cpp: the member table through which the gateway's worker and the client library call a
// channel by name. Arguments are coerced inside the channel's error trap, so a bad argument is recorded
// like any other failure of the member; only an unknown member name (438) reaches the caller.
#include "dbcomponent/DBChannel.h"

#include "dbcomponent/CallArguments.h"
#include "dbcomponent/CallErrors.h"

namespace {

using Args = std::vector<Variant>;
constexpr const char* kSource = "DBChannel";

// A member that takes no arguments and returns nothing.
template <void (DBChannel::*Member)()>
Variant call_plain(DBChannel& c, InvokeKind kind, Args&) {
    reject_put(kind, kSource);
    (c.*Member)();
    return Variant();
}

}  // namespace

// No member runs code of the caller's (there are no events), so nothing can release the channel while a
// member runs and the call needs no reference of its own.
Variant DBChannel::Invoke(std::string_view name, InvokeKind kind, std::vector<Variant> args) {
    return dispatch_table().invoke(*this, name, kind, args);
}

const DispatchTable<DBChannel>& DBChannel::dispatch_table() {
    // Fields is the default member: "" and "Fields" both read it, and assign it with the value last.
    static const auto fields = [](DBChannel& c, InvokeKind kind, Args& a) -> Variant {
        if (kind == InvokeKind::PropertyPut) {
            c.errors_.trap_void([&] {
                if (a.size() < 2) throw call_error(kErrArgumentNotOptional, "DBChannel.Fields");
                c.Fields(a[0], a.back());
            });
            return Variant();
        }
        return c.errors_.trap(Variant(), [&] {
            if (a.empty()) throw call_error(kErrArgumentNotOptional, "DBChannel.Fields");
            return c.Fields(a[0]);
        });
    };

    static const DispatchTable<DBChannel> table(
        kSource,
        {
            {"DError",
             [](DBChannel& c, InvokeKind kind, Args&) {
                 reject_put(kind, kSource);
                 return Variant(c.DError());
             }},
            {"ErrClear", call_plain<&DBChannel::ErrClear>},
            {"Fields", fields},
            {"", fields},
            {"Add", call_plain<&DBChannel::Add>},
            {"Update", call_plain<&DBChannel::Update>},
            {"Delete", call_plain<&DBChannel::Delete>},
            {"OpenCursor",
             [](DBChannel& c, InvokeKind kind, Args& a) {
                 reject_put(kind, kSource);
                 c.errors_.trap_void([&] {
                     c.OpenCursor(required_text(a, 0, "DBChannel.OpenCursor"),
                                  required_long(a, 1, "DBChannel.OpenCursor"),
                                  required_long(a, 2, "DBChannel.OpenCursor"));
                 });
                 return Variant();
             }},
            {"Direct",
             [](DBChannel& c, InvokeKind kind, Args& a) {
                 reject_put(kind, kSource);
                 return c.errors_.trap(Variant(int16_t{0}),
                                       [&] { return Variant(c.Direct(required_text(a, 0, "DBChannel.Direct"))); });
             }},
            {"CloseCursor", call_plain<&DBChannel::CloseCursor>},
            {"TestCursor",
             [](DBChannel& c, InvokeKind kind, Args&) {
                 reject_put(kind, kSource);
                 return Variant(c.TestCursor());
             }},
            {"Move",
             [](DBChannel& c, InvokeKind kind, Args& a) {
                 reject_put(kind, kSource);
                 c.errors_.trap_void([&] { c.Move(required_text(a, 0, "DBChannel.Move")); });
                 return Variant();
             }},
            {"RowCount",
             [](DBChannel& c, InvokeKind kind, Args&) {
                 reject_put(kind, kSource);
                 return Variant(c.RowCount());
             }},
            {"All",
             [](DBChannel& c, InvokeKind kind, Args& a) {
                 reject_put(kind, kSource);
                 return c.errors_.trap(Variant(std::string()), [&] {
                     if (a.size() > kMaxAllNames) throw call_error(kErrWrongArgumentCount, "DBChannel.All");
                     std::vector<std::string> names;
                     names.reserve(a.size());
                     names.push_back(required_text(a, 0, "DBChannel.All"));
                     for (size_t i = 1; i < a.size(); ++i) names.push_back(optional_text(a, i));
                     return Variant(c.All(names));
                 });
             }},
        });
    return table;
}
