// ErrorList.cpp: formatting and storing error entries.
#include "dbcomponent/ErrorList.h"

#include <exception>

#include "common/Conversions.h"
#include "dbcomponent/SharedState.h"

void ErrorList::record(int32_t number, const std::string& description) noexcept {
    if (entries_.size() >= kMaxEntries) return;
    try {
        std::string entry = vb::signed_text(int64_t{number});
        entry += field_separator();
        entry += description;
        entries_.push_back(std::move(entry));
    } catch (...) {
        // Out of memory while recording: nothing sensible is left to do, and a channel member must
        // not throw. The member still returns its empty result.
    }
}

const std::string& ErrorList::first() const noexcept {
    static const std::string kNone;
    return entries_.empty() ? kNone : entries_.front();
}

void ErrorList::record_current_exception() noexcept {
    try {
        throw;
    } catch (const ComError& e) {
        record(e.number(), e.description());
    } catch (const std::bad_alloc&) {
        record(kErrOutOfMemory, vb_error_text(kErrOutOfMemory));
    } catch (const std::exception& e) {
        // A failure of ours or of a library below ADO that came without a number: report it as ADO
        // reports a provider that failed, keeping the text that says what went wrong.
        record(kAdErrProviderFailed, e.what()[0] ? e.what() : kAdErrProviderFailedText);
    } catch (...) {
        record(kAdErrProviderFailed, kAdErrProviderFailedText);
    }
}
