// CallErrors.h: errors of a call by name that the run time raises before a member runs (missing or too
// many arguments). The database component records them instead, like any failure of a member.
#pragma once

#include <cstdint>
#include <string>

#include "common/ComError.h"

inline constexpr int32_t kErrArgumentNotOptional = 449;
inline constexpr int32_t kErrWrongArgumentCount = 450;

inline ComError call_error(int32_t number, std::string source) {
    const char* text = number == kErrArgumentNotOptional ? "Argument not optional"
                       : number == kErrWrongArgumentCount
                           ? "Wrong number of arguments or invalid property assignment"
                           : vb_error_text(number);
    return ComError(number, std::move(source), text);
}
