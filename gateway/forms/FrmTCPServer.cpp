// FrmTCPServer.cpp: keys, mouse and layout of the monitor window.
#include "gateway/forms/FrmTCPServer.h"

#include <algorithm>

namespace forms {

namespace {

constexpr const char* kCaption = "Tolvix Internet gateway";
// Quitting comes first and the whole line fits 80 columns, so that no terminal cuts the way out.
constexpr const char* kHelp = "F10/Ctrl-Q: quit  Tab: next  Space: Debug  Enter: press  PgUp/PgDn: scroll";

struct FrameInfo {
    const char* caption;
    Counter first;
    Counter second;
};
// Top to bottom, each frame with its two boxes in the window's order.
constexpr FrameInfo kFrames[] = {
    {"Handshakes", Counter::MessagesIn, Counter::MessagesOut},
    {"Bytes negotiated", Counter::CharactersRead, Counter::CharactersSent},
    {"Errors", Counter::Errors, Counter::Timeouts},
    {"Active Sockets", Counter::ConnectionsAccepted, Counter::ActiveSockets},
};
constexpr int kPanelWidth = 30;
constexpr int kFrameHeight = 4;
constexpr int kLabelWidth = 9;
constexpr int kBoxWidth = 17;
constexpr int kWheelLines = 3;
constexpr const char* kDebugCaption = "Debug";
constexpr const char* kResetCaption = "Reset";

std::string right_aligned(const std::string& text, size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

}  // namespace

FrmTCPServer::FrmTCPServer(Gateway& gateway) : gateway_(gateway), model_(MonitorModel::create(gateway.log)) {
    model_->on_line([this](size_t position, const std::string&) {
        list_.inserted(position);
        changed();
    });
    model_->on_counter([this](Counter) { changed(); });
}

void FrmTCPServer::changed() {
    if (on_change_) on_change_();
}

void FrmTCPServer::resize(int rows, int cols) {
    rows_ = std::max(rows, 1);
    cols_ = std::max(cols, 1);
    changed();
}

// The panel of frames keeps its width; the list takes what is left, but never less than 20 columns.
FrmTCPServer::Layout FrmTCPServer::layout() const {
    const int panel_col = std::max(cols_ - kPanelWidth, 20);
    return Layout{Rect{1, 0, std::max(rows_ - 2, 3), panel_col - 1}, panel_col};
}

size_t FrmTCPServer::list_height() const { return static_cast<size_t>(std::max(layout().list.height - 2, 1)); }

void FrmTCPServer::scroll(long lines) { list_.scroll(gateway_.log.debug_list(), lines, list_height()); }

void FrmTCPServer::press(Control control) {
    if (control == chbDebug && model_->chbDebug_visible()) {
        model_->chbDebug(!model_->chbDebug());
    } else if (control == cmdReset) {
        model_->Reset();
        list_.cleared();
    }
}

void FrmTCPServer::move_focus(int step) {
    do {
        focus_ = static_cast<Control>((focus_ + step + 3) % 3);
    } while (focus_ == chbDebug && !model_->chbDebug_visible());
}

void FrmTCPServer::key(const KeyEvent& event) {
    const long page = static_cast<long>(list_height()) - 1;
    switch (event.key) {
    case Key::Quit:
    case Key::Interrupt:
        unloading_ = true;
        break;
    case Key::Tab:
    case Key::BackTab:
        move_focus(event.key == Key::Tab ? 1 : -1);
        break;
    case Key::PageUp:
    case Key::PageDown:
        scroll(event.key == Key::PageUp ? -std::max(page, 1L) : std::max(page, 1L));
        break;
    case Key::Up:
    case Key::Down:
        if (focus_ == lbDebug) scroll(event.key == Key::Up ? -1 : 1);
        else move_focus(event.key == Key::Up ? -1 : 1);
        break;
    case Key::Home:
        if (focus_ == lbDebug) list_.to_top();
        break;
    case Key::End:
        if (focus_ == lbDebug) list_.to_bottom(gateway_.log.debug_list(), list_height());
        break;
    // Space is "Debug" wherever the focus is, as the key help says; Enter presses the focused control.
    case Key::Enter:
        press(focus_);
        break;
    case Key::Char:
        if (event.ch == U' ') press(chbDebug);
        break;
    default:
        break;
    }
    changed();
}

void FrmTCPServer::mouse(const MouseEvent& event) {
    const Screen screen = view();
    const int id = widget_at(screen, event.row, event.col);
    if (event.action == MouseEvent::Action::WheelUp || event.action == MouseEvent::Action::WheelDown) {
        if (id == lbDebug) scroll(event.action == MouseEvent::Action::WheelUp ? -kWheelLines : kWheelLines);
    } else if (event.action == MouseEvent::Action::Released) {
        if (id == Label6) {
            model_->Label6_MouseUp(event.button, event.shift);
            if (focus_ == chbDebug && !model_->chbDebug_visible()) move_focus(1);
        } else if (event.button == kLeftButton && id >= lbDebug && id <= cmdReset) {
            focus_ = static_cast<Control>(id);
            press(focus_);
        }
    }
    changed();
}

Screen FrmTCPServer::view() const {
    Screen s;
    s.caption = kCaption;
    const Layout l = layout();
    Widget list = widget(WidgetKind::ListBox, l.list, lbDebug);
    list.focused = focus_ == lbDebug;
    list.lines = list_.visible(gateway_.log.debug_list(), static_cast<size_t>(std::max(l.list.width - 2, 1)),
                               list_height());
    s.widgets.push_back(std::move(list));

    int row = 1;
    for (const FrameInfo& f : kFrames) {
        s.widgets.push_back(widget(WidgetKind::Frame, Rect{row, l.panel_col, kFrameHeight, kPanelWidth - 1}, -1, f.caption));
        int line = row + 1;
        for (Counter c : {f.first, f.second}) {
            const std::string label = MonitorModel::label(c);
            s.widgets.push_back(widget(WidgetKind::Label, Rect{line, l.panel_col + 2, 1, static_cast<int>(label.size())},
                                       c == Counter::Errors ? Label6 : -1, label));
            s.widgets.push_back(widget(WidgetKind::TextBox, Rect{line, l.panel_col + 2 + kLabelWidth, 1, kBoxWidth}, -1,
                                       right_aligned(model_->text(c), kBoxWidth - 2)));
            ++line;
        }
        row += kFrameHeight;
    }
    if (model_->chbDebug_visible()) {
        Widget check = widget(WidgetKind::CheckBox, Rect{row, l.panel_col + 2, 1, 4 + static_cast<int>(std::string(kDebugCaption).size())},
                     chbDebug, kDebugCaption, focus_ == chbDebug);
        check.checked = model_->chbDebug();
        s.widgets.push_back(std::move(check));
    }
    s.widgets.push_back(widget(WidgetKind::Button, Rect{row + 1, l.panel_col + 2, 1, 4 + static_cast<int>(std::string(kResetCaption).size())},
                               cmdReset, kResetCaption, focus_ == cmdReset));
    s.widgets.push_back(widget(WidgetKind::Label, Rect{rows_ - 1, 0, 1, cols_}, -1, kHelp));
    return s;
}

}  // namespace forms
