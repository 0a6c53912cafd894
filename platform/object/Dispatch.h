// Dispatch.h: late binding by member name. Components that others call by name (DBConnect, DBChannel, the
// middle-tier object) derive from Dispatch and describe their members in a DispatchTable.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/AsciiCase.h"
#include "common/ComError.h"
#include "common/Variant.h"

// What a call by name asks of a member: run it, read it, or assign it (the value is the last argument).
enum class InvokeKind { Method, PropertyGet, PropertyPut };

class Dispatch : public std::enable_shared_from_this<Dispatch> {
public:
    virtual ~Dispatch() = default;

    // Calls member `name` (case-insensitive, as dispatch names are; "" is the default member).
    // An unknown member raises 438 "Object doesn't support this property or method".
    virtual Variant Invoke(std::string_view name, InvokeKind kind, std::vector<Variant> args) = 0;

    // The class name a caller sees (TypeName), for messages and traces.
    virtual std::string type_name() const = 0;

    // Shorthands for the common call shapes.
    Variant call(std::string_view name, std::vector<Variant> args = {}) {
        return Invoke(name, InvokeKind::Method, std::move(args));
    }
    Variant get(std::string_view name, std::vector<Variant> args = {}) {
        return Invoke(name, InvokeKind::PropertyGet, std::move(args));
    }
    void put(std::string_view name, std::vector<Variant> args) { Invoke(name, InvokeKind::PropertyPut, std::move(args)); }
};

using DispatchPtr = std::shared_ptr<Dispatch>;

// The object behind a tagged value, for a member call on it; raises 91 when the value is Nothing
// (an empty object reference) and 424 when it is not an object at all.
DispatchPtr object_of(const Variant& value);

// Member table of a class T: name → handler. Built once per class (a static), searched per call.
// A handler gets the object, the call kind and the arguments; the table raises 438 for unknown names
// and for kinds a member does not accept, and 449 ("Argument not optional") is left to the handlers.
template <class T>
class DispatchTable {
public:
    using Handler = std::function<Variant(T&, InvokeKind, std::vector<Variant>&)>;
    struct Member {
        std::string name;
        Handler handler;
    };

    DispatchTable(std::string class_name, std::vector<Member> members)
        : class_name_(std::move(class_name)), members_(std::move(members)) {}

    Variant invoke(T& object, std::string_view name, InvokeKind kind, std::vector<Variant>& args) const {
        for (const Member& m : members_)
            if (equals_ignoring_case(m.name, name)) return m.handler(object, kind, args);
        throw vb_error(kErrNoMember, class_name_);
    }

    const std::string& class_name() const { return class_name_; }

private:
    std::string class_name_;        // source of the 438 error
    std::vector<Member> members_;   // few members per class: a linear scan beats hashing here
};

// The argument at `index`, or 449 "Argument not optional" when the caller passed too few.
const Variant& argument(const std::vector<Variant>& args, size_t index, std::string_view source);
