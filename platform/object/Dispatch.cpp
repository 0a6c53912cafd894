// Dispatch.cpp: helpers shared by every late-bound class.
#include "platform/object/Dispatch.h"

DispatchPtr object_of(const Variant& value) {
    if (!value.is_object()) throw vb_error(kErrObjectRequired);
    if (!value.as_object()) throw vb_error(kErrObjectNotSet);
    return value.as_object();
}

const Variant& argument(const std::vector<Variant>& args, size_t index, std::string_view source) {
    if (index >= args.size()) throw ComError(449, std::string(source), "Argument not optional");
    return args[index];
}
