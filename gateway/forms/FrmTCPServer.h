// FrmTCPServer.h: the monitor window "Tolvix Internet gateway" while the gateway serves: the debug list
// (newest on top, scrollable), the counters in four frames, the "Debug" check box and "Reset". It draws
// the gateway's MonitorModel and passes its controls' events to it.
//
// The window never draws by itself: every change of the model only marks it changed and calls the
// host's change handler, and the host redraws at its own pace, so a busy gateway pays almost nothing for
// its display.
#pragma once

#include <functional>
#include <memory>

#include "gateway/Gateway.h"
#include "gateway/MonitorModel.h"
#include "gateway/forms/DebugListView.h"
#include "gateway/forms/FormTypes.h"

namespace forms {

class FrmTCPServer final : public Form {
public:
    // The focusable controls in their tab order, then the label with the hidden toggle; the widgets' ids.
    enum Control : int { lbDebug, chbDebug, cmdReset, Label6 };

    // Shows `gateway`'s log and counters; the caller keeps the gateway alive while the window lives.
    explicit FrmTCPServer(Gateway& gateway);

    // Called after every change of what the window shows (a line, a counter, an input event).
    void on_change(std::function<void()> handler) { on_change_ = std::move(handler); }
    // F10, Ctrl-Q or Ctrl-C asked to unload the window.
    bool unloading() const { return unloading_; }

    MonitorModel& model() { return *model_; }
    Control focus() const { return focus_; }
    const DebugListView& list_view() const { return list_; }

    // Form
    void resize(int rows, int cols) override;
    void key(const KeyEvent& event) override;
    void mouse(const MouseEvent& event) override;
    Screen view() const override;

private:
    struct Layout {
        Rect list;    // lbDebug with its border
        int panel_col;
    };
    Layout layout() const;
    size_t list_height() const;
    void changed();
    void scroll(long lines);
    void press(Control control);
    void move_focus(int step);

    Gateway& gateway_;
    std::shared_ptr<MonitorModel> model_;
    mutable DebugListView list_;   // the view clamps its position to the list while it is drawn
    Control focus_ = lbDebug;
    bool unloading_ = false;
    std::function<void()> on_change_;
    int rows_ = 24;
    int cols_ = 80;
};

}  // namespace forms
