// ConversionsTestSupport.h: what the conversion tests share: running a conversion and reporting the
// VB error number it raised (0 when it raised none), and a label for a value in trace messages.
#pragma once

#include <functional>
#include <string>

#include "common/ComError.h"
#include "common/Conversions.h"
#include "tests/support/ErrorOf.h"

// The value's kind number and its text where it has one ("8:12", "1:" for Null).
inline std::string describe(const Variant& value) {
    std::string text;
    error_of([&] { text = vb::to_text(value); });
    return std::to_string(static_cast<int>(value.type())) + ":" + text;
}
