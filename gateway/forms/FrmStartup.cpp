// FrmStartup.cpp: loading, "Run Server", keys, mouse and layout of the start-up form.
#include "gateway/forms/FrmStartup.h"

#include <algorithm>

#include "common/ComError.h"
#include "platform/settings/SettingsStore.h"

namespace forms {

namespace {

struct ControlInfo {
    const char* label;   // the caption of the label beside the control
    int row;             // rows below the form's top
    int width;           // 0: to the frame's right edge
};
// Indexed by FrmStartup::Control. The labels inside the frame read like the statements that open an
// ADO connection; BtRun has no label.
constexpr ControlInfo kControls[] = {
    {".Provider=", 4, 0},          {".ConnectionString=", 5, 0}, {".CommandTimeout=", 6, 8},
    {".ConnectionTimeOut=", 7, 8}, {".CursorLocation=", 8, 15},  {"Local IP adress:", 13, 24},
    {"Port no.:", 14, 8},          {nullptr, 16, 14},
};
constexpr int kFrameTop = 2;
constexpr int kFrameBottom = 11;
constexpr int kStatementCol = 5;   // ".Provider=" and its siblings are indented under "With Db"
constexpr int kOuterCol = 3;
constexpr const char* kRunCaption = "Run Server";
// Quitting comes first and the whole line fits 80 columns, so that no terminal cuts the way out.
constexpr const char* kHelp = "Esc/F10: quit unsaved  Tab/Shift-Tab: next/previous box  Enter: Run Server";

bool is_space(const KeyEvent& event) { return event.key == Key::Char && event.ch == U' '; }

Widget label(int row, int col, const char* text, int id = -1) {
    return widget(WidgetKind::Label, Rect{row, col, 1, static_cast<int>(std::string(text).size())}, id, text);
}

// Breaks a message into lines of at most `width` characters at blanks.
std::vector<std::string> wrap(const std::string& text, size_t width) {
    std::vector<std::string> lines;
    std::string line;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(' ', at);
        if (end == std::string::npos) end = text.size();
        std::string word = text.substr(at, end - at);
        at = end + 1;
        while (word.size() > width) {
            if (!line.empty()) lines.push_back(std::move(line)), line.clear();
            lines.push_back(word.substr(0, width));
            word.erase(0, width);
        }
        if (!line.empty() && line.size() + 1 + word.size() > width) lines.push_back(std::move(line)), line.clear();
        line += (line.empty() ? "" : " ") + word;
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

}  // namespace

FrmStartup::FrmStartup(SettingsStore& store, const StartupTexts& saved) : store_(store) {
    boxes_[tbProvider].set_text(saved.Provider);
    boxes_[tbConnectstring].set_text(saved.Connect);
    boxes_[tbLocalIP].set_text(saved.IP);
    boxes_[tbPort].set_text(saved.Port);
    boxes_[tbCommandTimeout].set_text(saved.CommandTimeout);
    boxes_[tbConnectionTimeout].set_text(saved.ConnectionTimeout);
    try {
        list_index_ = cursor_location_from_position(saved.Cursorlocation) == kCursorValues[0] ? 0 : 1;
    } catch (const ComError& e) {
        message_ = "The saved " + e.description() + "; adUseClient is selected.";
    }
}

StartupTexts FrmStartup::texts() const {
    StartupTexts t;
    t.Provider = text(tbProvider);
    t.Connect = text(tbConnectstring);
    t.IP = text(tbLocalIP);
    t.Port = text(tbPort);
    t.ConnectionTimeout = text(tbConnectionTimeout);
    t.CommandTimeout = text(tbCommandTimeout);
    t.Cursorlocation = std::to_string(list_index_);
    return t;
}

// Converts every number before anything is saved, so that a refused box leaves the saved settings as
// they were. The first bad box gets the focus and the message names it by its label.
bool FrmStartup::check_numbers() {
    const StartupTexts t = texts();
    Control at = tbCommandTimeout;
    try {
        settings_.CommandTimeout = timeout_from_text(t.CommandTimeout, "CommandTimeout");
        at = tbConnectionTimeout;
        settings_.ConnectionTimeout = timeout_from_text(t.ConnectionTimeout, "ConnectionTimeout");
        at = tbPort;
        settings_.Port = port_from_text(t.Port);
    } catch (const ComError& e) {
        focus_ = at;
        message_ = std::string("The box \"") + kControls[at].label + "\" is refused: " + e.description() + ".";
        return false;
    }
    return true;
}

void FrmStartup::BtRun_Click() {
    if (state_ != State::Open || !check_numbers()) return;
    const StartupTexts t = texts();
    try {
        save_startup(store_, t);
    } catch (const ComError& e) {
        message_ = "The settings cannot be saved: " + e.description();
        return;
    }
    settings_.Provider = t.Provider;
    settings_.Connect = t.Connect;
    settings_.CursorLocation = kCursorValues[static_cast<size_t>(list_index_)];
    settings_.IP = t.IP;
    state_ = State::Started;
}

void FrmStartup::move_focus(int step) {
    list_open_ = false;
    focus_ = static_cast<Control>((focus_ + step + kControlCount) % kControlCount);
}

void FrmStartup::key_in_list(const KeyEvent& event) {
    switch (event.key) {
    case Key::Up:
        list_highlight_ = std::max(list_highlight_ - 1, 0);
        break;
    case Key::Down:
        list_highlight_ = std::min(list_highlight_ + 1, static_cast<int>(kCursorTexts.size()) - 1);
        break;
    case Key::Enter:
    case Key::Char:
        if (event.key == Key::Char && !is_space(event)) break;
        list_index_ = list_highlight_;
        list_open_ = false;
        break;
    case Key::Escape:
        list_open_ = false;
        break;
    case Key::Tab:
    case Key::BackTab:
        move_focus(event.key == Key::Tab ? 1 : -1);
        break;
    case Key::Quit:
    case Key::Interrupt:
        close();
        break;
    default:
        break;
    }
}

void FrmStartup::key(const KeyEvent& event) {
    if (state_ != State::Open) return;
    if (message_) {   // the message box is modal: it only goes away
        if (event.key == Key::Enter || event.key == Key::Escape || is_space(event)) message_.reset();
        else if (event.key == Key::Quit || event.key == Key::Interrupt) close();
        return;
    }
    if (list_open_) return key_in_list(event);
    switch (event.key) {
    case Key::Escape:
    case Key::Quit:
    case Key::Interrupt:
        return close();
    case Key::Tab:
        return move_focus(1);
    case Key::BackTab:
        return move_focus(-1);
    default:
        return key_on_focus(event);
    }
}

// Enter or Space presses the button and opens the list; Up and Down choose in the list and otherwise
// move between the controls. Enter in a text box presses "Run Server", the form's default button, as
// the key help says: an operator who types the port and presses Enter means to start.
void FrmStartup::key_on_focus(const KeyEvent& event) {
    const bool activate = event.key == Key::Enter || is_space(event);
    if (focus_ == BtRun) {
        if (activate) BtRun_Click();
        else if (event.key == Key::Up || event.key == Key::Left) move_focus(-1);
        else if (event.key == Key::Down || event.key == Key::Right) move_focus(1);
    } else if (focus_ == cbCursorlocation) {
        const int last = static_cast<int>(kCursorTexts.size()) - 1;
        if (event.key == Key::Up) list_index_ = std::max(list_index_ - 1, 0);
        else if (event.key == Key::Down) list_index_ = std::min(list_index_ + 1, last);
        else if (activate) list_open_ = true, list_highlight_ = list_index_;
    } else if (!boxes_[focus_].key(event)) {
        if (event.key == Key::Enter) BtRun_Click();
        else if (event.key == Key::Down) move_focus(1);
        else if (event.key == Key::Up) move_focus(-1);
    }
}

void FrmStartup::mouse(const MouseEvent& event) {
    if (state_ != State::Open || event.action != MouseEvent::Action::Released || event.button != kLeftButton) return;
    const Screen screen = view();
    const int id = widget_at(screen, event.row, event.col);
    if (message_) {
        if (id == kControlCount) message_.reset();   // its OK button
        return;
    }
    if (list_open_) {
        list_open_ = false;
        const Rect r = list_rect();
        const int entry = event.row - r.row - 1;   // the list has a border line above its entries
        if (r.contains(event.row, event.col) && entry >= 0 && entry < static_cast<int>(kCursorTexts.size()))
            list_index_ = entry;
        return;   // a click anywhere else only closes the list
    }
    if (id < 0 || id >= kControlCount) return;
    focus_ = static_cast<Control>(id);
    if (focus_ == BtRun) BtRun_Click();
    else if (focus_ == cbCursorlocation) list_open_ = true, list_highlight_ = list_index_;
    else boxes_[focus_].click(event.col - box_rect(focus_).col - 1, box_rect(focus_).width - 2);
}

void FrmStartup::resize(int rows, int cols) {
    rows_ = std::max(rows, 1);
    cols_ = std::max(cols, 1);
}

int FrmStartup::label_width() const {
    return static_cast<int>(std::string(kControls[tbConnectionTimeout].label).size()) + 1;
}

// A text box or list shows as "[" content "]"; the box reaches to the frame's right edge unless it has
// a width of its own.
Rect FrmStartup::box_rect(Control c) const {
    const int right = std::max(cols_ - 3, 40);
    const ControlInfo& info = kControls[c];
    const int col = c == BtRun ? kOuterCol : (c >= tbLocalIP ? kOuterCol : kStatementCol) + label_width();
    const int width = info.width > 0 ? info.width : right - col;
    return Rect{info.row, col, 1, std::max(width, 4)};
}

Rect FrmStartup::list_rect() const {
    const Rect box = box_rect(cbCursorlocation);
    return Rect{box.row + 1, box.col, static_cast<int>(kCursorTexts.size()) + 2, box.width};
}

Rect FrmStartup::message_rect() const {
    const int width = std::min(std::max(cols_ - 4, 20), 72);
    const int lines = static_cast<int>(wrap(message_.value_or(""), static_cast<size_t>(width - 4)).size());
    return Rect{std::max((rows_ - lines - 4) / 2, 1), std::max((cols_ - width) / 2, 0), lines + 4, width};
}

Screen FrmStartup::view() const {
    Screen s;
    s.caption = "Tolvix Connect to database";
    const int frame_width = std::max(cols_ - 2, 42);
    s.widgets.push_back(widget(WidgetKind::Frame, Rect{kFrameTop, 1, kFrameBottom - kFrameTop + 1, frame_width}, -1,
                               "ADO Connect string and database server"));
    s.widgets.push_back(label(3, kOuterCol, "With Db"));
    for (int c = 0; c < kControlCount; ++c) {
        const Control control = static_cast<Control>(c);
        const Rect r = box_rect(control);
        const bool focused = focus_ == control && !message_;
        if (kControls[c].label) s.widgets.push_back(label(r.row, c >= tbLocalIP ? kOuterCol : kStatementCol, kControls[c].label));
        if (control == BtRun) {
            s.widgets.push_back(widget(WidgetKind::Button, r, c, kRunCaption, focused));
        } else if (control == cbCursorlocation) {
            s.widgets.push_back(widget(WidgetKind::DropDown, r, c, kCursorTexts[static_cast<size_t>(list_index_)], focused));
        } else {
            const int inner = r.width - 2;
            s.widgets.push_back(widget(WidgetKind::TextBox, r, c, boxes_[c].visible(inner), focused));
            if (focused) {
                s.cursor_row = r.row;
                s.cursor_col = r.col + 1 + boxes_[c].cursor_column(inner);
            }
        }
        if (control == cbCursorlocation) {
            s.widgets.push_back(label(9, kStatementCol, ".Open"));
            s.widgets.push_back(label(10, kOuterCol, "End With"));
        }
    }
    s.widgets.push_back(label(std::max(rows_ - 1, 18), 1, kHelp));
    if (list_open_) {
        Widget list = widget(WidgetKind::DropList, list_rect(), -1);
        list.lines.assign(kCursorTexts.begin(), kCursorTexts.end());
        list.selected = list_highlight_;
        s.widgets.push_back(std::move(list));
    }
    if (message_) {
        const Rect r = message_rect();
        Widget box = widget(WidgetKind::MessageBox, r, -1, "Tolvix Connect to database");
        box.lines = wrap(*message_, static_cast<size_t>(r.width - 4));
        s.widgets.push_back(std::move(box));
        s.widgets.push_back(widget(WidgetKind::Button, Rect{r.row + r.height - 2, r.col + (r.width - 6) / 2, 1, 6},
                                   kControlCount, "OK", true));
        s.cursor_row = s.cursor_col = -1;
    }
    return s;
}

}  // namespace forms
