// SSCode.h: the gateway-wide counters, the debug list, the debug switch and LogError, which the server and
// the connection workers write and the monitor shows.
//
// Everything here runs on the gateway's one thread; nothing is locked. The monitor (or the headless
// printer) hears of every change through an SSCodeView it binds; without one the changes are simply kept.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "platform/object/EventSource.h"

// The eight counters, in the order the monitor shows them.
enum class Counter : uint8_t {
    ConnectionsAccepted,  // 16-bit: the new value is the number of the connection's worker
    ActiveSockets,
    Timeouts,
    Errors,
    MessagesIn,
    MessagesOut,
    CharactersRead,
    CharactersSent,
};
constexpr size_t kCounterCount = 8;

// What the monitor hears: a counter was shown, a line was inserted, the list was emptied.
class SSCodeView {
public:
    virtual ~SSCodeView() = default;
    virtual void counter_shown(Counter /*counter*/, int32_t /*value*/) {}
    virtual void line_inserted(size_t /*position*/, const std::string& /*line*/) {}
};

class SSCode final {
public:
    // The newest lines kept; older ones fall off the bottom. Unbounded, the list would grow by two lines per
    // connection for as long as the gateway runs.
    static constexpr size_t kDefaultDebugLines = 10000;

    explicit SSCode(size_t max_debug_lines = kDefaultDebugLines);

    void bind_view(std::weak_ptr<SSCodeView> view) { view_.bind(std::move(view)); }

    // Inserts `line` at `position` (0 = top, 1 = under the newest line; beyond the end means the end).
    void AddDebugLine(size_t position, const std::string& line);
    const std::deque<std::string>& debug_list() const { return debug_list_; }
    void clear_debug_list() { debug_list_.clear(); }
    size_t max_debug_lines() const { return max_debug_lines_; }

    bool DebugSwitch() const { return debug_; }
    void DebugSwitch(bool on) { debug_ = on; }

    // Adds `delta` and shows the counter. Counters wrap instead of failing: connections accepted within the
    // 16-bit range (32767 + 1 gives -32768), the others within 32 bits. Returns the new value.
    int32_t change(Counter counter, int32_t delta);
    int32_t value(Counter counter) const { return counters_[static_cast<size_t>(counter)]; }
    // Sets a counter to 0 without showing it (the monitor decides what its boxes show).
    void zero(Counter counter) { counters_[static_cast<size_t>(counter)] = 0; }

    // One entry at the top of the debug list: text, then "Code: <code>" CR LF when code is not 0, then
    // "Source: <source>" CR LF when source is not empty, then "Desc: <description>" when that is not empty.
    void LogError(const std::string& text, int32_t code, const std::string& source, const std::string& description);

    // The local date and time in the default date text form ("12/6/2026 3:04:05 PM"), which the workers
    // put in front of their failure lines.
    static std::string now_text();

private:
    size_t max_debug_lines_;
    std::deque<std::string> debug_list_;   // newest first
    bool debug_ = false;
    std::array<int32_t, kCounterCount> counters_{};
    EventSource<SSCodeView> view_;
};
