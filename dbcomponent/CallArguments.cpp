// CallArguments.cpp: argument coercion for calls by name.
#include "dbcomponent/CallArguments.h"

#include "common/ComError.h"
#include "common/Conversions.h"
#include "dbcomponent/CallErrors.h"

namespace {

bool omitted(const std::vector<Variant>& args, size_t index) {
    return index >= args.size() || args[index].is_empty();
}

}  // namespace

std::string required_text(const std::vector<Variant>& args, size_t index, const char* source) {
    if (index >= args.size()) throw call_error(kErrArgumentNotOptional, source);
    const Variant& value = args[index];
    return value.is_text() ? value.as_text() : vb::to_text(value);
}

std::string optional_text(const std::vector<Variant>& args, size_t index) {
    if (omitted(args, index)) return {};
    const Variant& value = args[index];
    return value.is_text() ? value.as_text() : vb::to_text(value);
}

int32_t required_long(const std::vector<Variant>& args, size_t index, const char* source) {
    if (index >= args.size()) throw call_error(kErrArgumentNotOptional, source);
    return vb::to_int32(args[index]);
}

int16_t optional_integer(const std::vector<Variant>& args, size_t index) {
    return omitted(args, index) ? int16_t{0} : vb::to_int16(args[index]);
}

int32_t optional_long(const std::vector<Variant>& args, size_t index) {
    return omitted(args, index) ? 0 : vb::to_int32(args[index]);
}

void reject_put(InvokeKind kind, const char* source) {
    if (kind == InvokeKind::PropertyPut) throw vb_error(kErrNoMember, source);
}
