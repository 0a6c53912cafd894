// ConversionsTestSupport.h: what the conversion tests share: running a conversion and reporting the
// VB error number it raised (0 when it raised none), and a label for a value in trace messages.
#pragma once

#include <functional>
#include <string>

#include "common/ComError.h"
#include "common/Conversions.h"

inline int error_of(const std::function<void()>& body) {
    try {
        body();
    } catch (const ComError& e) {
        return e.number();
    }
    return 0;
}

// The value's kind number and its text where it has one ("8:12", "1:" for Null).
inline std::string describe(const Variant& value) {
    std::string text;
    error_of([&] { text = vb::to_text(value); });
    return std::to_string(static_cast<int>(value.type())) + ":" + text;
}
