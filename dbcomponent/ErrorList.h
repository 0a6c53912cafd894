// ErrorList.h: the error list of a DBChannel and the trap that every channel member runs its body in.
//
// Callers of the database component never see an exception: a failing step is turned into an entry
// "<number><STX><description>" (the number in the signed-number text form, so ADO's own errors start with
// a blank and provider HRESULTs with a minus sign) and the member returns its empty result. Callers poll
// DError, which shows the oldest entry, and empty the list with ErrClear.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "common/ComError.h"

class ErrorList final {
public:
    // Appends the entry for one failure. Never throws: when even the entry cannot be stored (memory
    // exhausted, or the list is at its bound) the failure is dropped, which DError cannot show anyway
    // because it only ever reports the oldest entry.
    void record(int32_t number, const std::string& description) noexcept;

    // The oldest entry, or "" when there is none.
    const std::string& first() const noexcept;

    void clear() noexcept { entries_.clear(); }
    size_t size() const noexcept { return entries_.size(); }

    // Runs `body` and returns its result; any exception it throws is recorded here and `fallback`
    // is returned instead. This is the error trap of every channel member.
    template <class T, class Body>
    T trap(T fallback, Body&& body) noexcept;

    // The same for bodies without a result.
    template <class Body>
    void trap_void(Body&& body) noexcept;

    // Upper bound of the list. A caller that never calls ErrClear (the gateway and the client library
    // both clear after every request) would otherwise grow it without limit; only the first entry is
    // ever visible, so entries past the bound carry no information.
    static constexpr size_t kMaxEntries = 256;

    // Records the exception being handled; call only from inside a catch block.
    void record_current_exception() noexcept;

private:

    std::vector<std::string> entries_;   // oldest first; only clear() removes entries
};

// Error numbers and texts used when a failure does not come with its own number.
inline constexpr int32_t kAdErrProviderFailed = 3000;
inline constexpr const char* kAdErrProviderFailedText = "Provider failed to perform the requested operation.";

template <class T, class Body>
T ErrorList::trap(T fallback, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        record_current_exception();
    }
    return fallback;
}

template <class Body>
void ErrorList::trap_void(Body&& body) noexcept {
    try {
        body();
    } catch (...) {
        record_current_exception();
    }
}
