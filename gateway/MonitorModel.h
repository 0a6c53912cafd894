// MonitorModel.h: what the monitor window shows and does, without drawing it: the eight counter boxes in
// the "#,###" form, the debug list newest first, the debug check box, Reset, and the hidden toggle of the
// check box. The terminal form draws this model; the headless mode prints what it hears from it.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "gateway/SSCode.h"

class MonitorModel final : public SSCodeView, public std::enable_shared_from_this<MonitorModel> {
public:
    // Observers for a host that mirrors the model (the headless mode prints both; the terminal window
    // needs the position to keep a scrolled list on the lines being read).
    using LineObserver = std::function<void(size_t position, const std::string& line)>;
    using CounterObserver = std::function<void(Counter counter)>;

    // Binds itself to `code`; the caller keeps both alive (the model holds `code` by reference).
    static std::shared_ptr<MonitorModel> create(SSCode& code);

    // The text of a counter's box: the value last shown, formatted "#,###" (the empty text for 0).
    const std::string& text(Counter counter) const { return boxes_[static_cast<size_t>(counter)]; }
    // The control that shows a counter, and its label on the window ("txtSockets", "Alive").
    static const char* box_name(Counter counter);
    static const char* label(Counter counter);

    // "Reset": empties the debug list and the four traffic boxes, and sets their counters to 0. Connections
    // accepted, active sockets, time-outs and errors stay.
    void Reset();

    // chbDebug: the debug switch, and whether the box is visible (it starts visible).
    bool chbDebug() const { return code_.DebugSwitch(); }
    void chbDebug(bool checked) { code_.DebugSwitch(checked); }
    bool chbDebug_visible() const { return debug_visible_; }
    // Mouse released over the "Other" label: the right button (2) with exactly Shift (1) toggles the
    // visibility of chbDebug; anything else does nothing.
    void Label6_MouseUp(int button, int shift);

    void on_line(LineObserver observer) { on_line_ = std::move(observer); }
    void on_counter(CounterObserver observer) { on_counter_ = std::move(observer); }

    // SSCodeView
    void counter_shown(Counter counter, int32_t value) override;
    void line_inserted(size_t position, const std::string& line) override;

private:
    explicit MonitorModel(SSCode& code) : code_(code) {}

    SSCode& code_;
    std::array<std::string, kCounterCount> boxes_{};   // all empty when the window opens
    bool debug_visible_ = true;
    LineObserver on_line_;
    CounterObserver on_counter_;
};
