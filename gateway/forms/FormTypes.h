// FormTypes.h: what a terminal form and its host exchange: input events in the host-independent form the
// form logic handles, and the description of the screen the form wants drawn (kinds of control, where,
// what they show). The logic never sees the terminal library; the host draws these descriptions and turns
// the terminal's keys and mouse reports into these events, so tests drive the forms without a terminal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace forms {

// A rectangle in screen cells; row 0 is the top line of the terminal.
struct Rect {
    int row = 0;
    int col = 0;
    int height = 1;
    int width = 0;
    bool contains(int r, int c) const { return r >= row && r < row + height && c >= col && c < col + width; }
};

enum class Key : uint8_t {
    Char,        // a printable character in KeyEvent::ch
    Tab,
    BackTab,     // Shift-Tab
    Enter,
    Escape,
    Up,
    Down,
    Left,
    Right,
    Home,
    End,
    PageUp,
    PageDown,
    Backspace,
    Delete,
    Quit,        // F10 or Ctrl-Q
    Interrupt,   // Ctrl-C, and SIGINT, SIGTERM or SIGHUP from outside
};

struct KeyEvent {
    Key key;
    char32_t ch = 0;   // the character for Key::Char
};

// Button codes and shift states as a form's MouseUp event gives them.
constexpr int kLeftButton = 1;
constexpr int kRightButton = 2;
constexpr int kMiddleButton = 4;
constexpr int kShiftMask = 1;
constexpr int kCtrlMask = 2;
constexpr int kAltMask = 4;

struct MouseEvent {
    enum class Action : uint8_t { Pressed, Released, WheelUp, WheelDown };
    Action action;
    int row = 0;
    int col = 0;
    int button = 0;   // kLeftButton, kRightButton or kMiddleButton; 0 for the wheel
    int shift = 0;    // kShiftMask | kCtrlMask | kAltMask
};

enum class WidgetKind : uint8_t {
    Frame,       // a box with its caption in the top border
    Label,
    TextBox,     // text shows the visible part of the content
    DropDown,    // text shows the selected entry
    DropList,    // the open list of a drop-down: lines, selected is the highlighted one
    Button,
    CheckBox,
    ListBox,     // lines, already cut to the width
    MessageBox,  // a frame over the form: text is the caption, lines the message, with an OK button
};

struct Widget {
    WidgetKind kind;
    Rect rect;
    int id = -1;                      // the form's number for the control, for hit tests; -1 for none
    std::string text;                 // UTF-8
    bool focused = false;
    bool checked = false;             // CheckBox
    int selected = -1;                // DropList: highlighted line
    std::vector<std::string> lines;   // ListBox, DropList, MessageBox
};

inline Widget widget(WidgetKind kind, Rect rect, int id = -1, std::string text = {}, bool focused = false) {
    Widget w{};
    w.kind = kind;
    w.rect = rect;
    w.id = id;
    w.text = std::move(text);
    w.focused = focused;
    return w;
}

struct Screen {
    std::string caption;              // the window's caption, drawn on the top line
    std::vector<Widget> widgets;      // drawn in order: later ones cover earlier ones
    int cursor_row = -1;              // where the terminal cursor shows (a text box being edited), or -1
    int cursor_col = -1;
};

// What the host drives: the form it shows. The host reports the terminal size before the first draw and
// after every resize, hands over every input event, and draws what view() describes.
class Form {
public:
    virtual void resize(int rows, int cols) = 0;
    virtual void key(const KeyEvent& event) = 0;
    virtual void mouse(const MouseEvent& event) = 0;
    virtual Screen view() const = 0;

protected:
    ~Form() = default;
};

// UTF-8 to characters and back. Malformed UTF-8 becomes U+FFFD per bad byte, so nothing is dropped
// silently.
std::u32string decode_utf8(std::string_view utf8);
std::string encode_utf8(std::u32string_view text);

// The id of the topmost widget with an id that lies under (row, col), or -1. Later widgets cover earlier
// ones, so the search runs backwards.
int widget_at(const Screen& screen, int row, int col);

}  // namespace forms
