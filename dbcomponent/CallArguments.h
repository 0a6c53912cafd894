// CallArguments.h: reading the arguments of a call by name as the types the members declare, with the
// run time's coercions (text by CStr, whole numbers by CInt/CLng; an omitted optional argument counts as
// Empty, that is "" or 0).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/Variant.h"
#include "platform/object/Dispatch.h"

// Argument `index` as text; 449 when a required argument is missing, 94 for Null, 13 for an object.
std::string required_text(const std::vector<Variant>& args, size_t index, const char* source);
std::string optional_text(const std::vector<Variant>& args, size_t index);

// Whole-number arguments; an omitted optional one is 0. Overflow (6) and Type mismatch (13) as CInt/CLng.
int32_t required_long(const std::vector<Variant>& args, size_t index, const char* source);
int16_t optional_integer(const std::vector<Variant>& args, size_t index);
int32_t optional_long(const std::vector<Variant>& args, size_t index);

// Raises 438 for a property assignment to a member that is not a property, as dispatch does.
void reject_put(InvokeKind kind, const char* source);
