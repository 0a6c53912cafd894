// ErrorOf.h: what a call raised, for tests that check error numbers, sources and texts.
#pragma once

#include <cstdint>
#include <functional>

#include "common/ComError.h"

// Runs `body` and returns the ComError it raised, or ComError(0, "", "") when it raised none.
inline ComError error_of(const std::function<void()>& body) {
    try {
        body();
    } catch (const ComError& e) {
        return e;
    }
    return ComError(0, "", "");
}

// The number of the error `body` raised; 0 when it raised none.
inline int32_t error_number(const std::function<void()>& body) { return error_of(body).number(); }
