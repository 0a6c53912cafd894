// Input.cpp: key and mouse translation tables.
#include "gateway/tui/Input.h"

namespace tui {

namespace {

using forms::Key;

struct KeyCode {
    wint_t code;
    Key key;
};
// Function and cursor keys (KEY_CODE_YES).
const KeyCode kKeyCodes[] = {
    {KEY_BTAB, Key::BackTab},     {KEY_ENTER, Key::Enter},  {KEY_UP, Key::Up},         {KEY_DOWN, Key::Down},
    {KEY_LEFT, Key::Left},        {KEY_RIGHT, Key::Right},  {KEY_HOME, Key::Home},     {KEY_END, Key::End},
    {KEY_PPAGE, Key::PageUp},     {KEY_NPAGE, Key::PageDown}, {KEY_BACKSPACE, Key::Backspace},
    {KEY_DC, Key::Delete},        {KEY_F(10), Key::Quit},
};
// Control characters; the terminal is in raw mode, so Ctrl-C and Ctrl-Q arrive as characters.
const KeyCode kControls[] = {
    {'\t', Key::Tab},  {'\n', Key::Enter}, {'\r', Key::Enter},     {27, Key::Escape},
    {127, Key::Backspace}, {8, Key::Backspace}, {17, Key::Quit}, {3, Key::Interrupt},
};

struct ButtonBits {
    mmask_t pressed;
    mmask_t released;
    mmask_t clicked;
    int button;
};
const ButtonBits kButtons[] = {
    {BUTTON1_PRESSED, BUTTON1_RELEASED, BUTTON1_CLICKED, forms::kLeftButton},
    {BUTTON3_PRESSED, BUTTON3_RELEASED, BUTTON3_CLICKED, forms::kRightButton},
    {BUTTON2_PRESSED, BUTTON2_RELEASED, BUTTON2_CLICKED, forms::kMiddleButton},
};

}  // namespace

std::optional<forms::KeyEvent> translate_key(bool is_key_code, wint_t code) {
    if (is_key_code) {
        for (const KeyCode& k : kKeyCodes)
            if (k.code == code) return forms::KeyEvent{k.key};
        return std::nullopt;
    }
    for (const KeyCode& k : kControls)
        if (k.code == code) return forms::KeyEvent{k.key};
    if (code < 0x20 || (code >= 0x7F && code < 0xA0)) return std::nullopt;
    return forms::KeyEvent{Key::Char, static_cast<char32_t>(code)};
}

std::optional<forms::MouseEvent> translate_mouse(const MEVENT& event) {
    using Action = forms::MouseEvent::Action;
    forms::MouseEvent out{Action::Released, event.y, event.x};
    const mmask_t b = event.bstate;
    out.shift = (b & BUTTON_SHIFT ? forms::kShiftMask : 0) | (b & BUTTON_CTRL ? forms::kCtrlMask : 0) |
                (b & BUTTON_ALT ? forms::kAltMask : 0);
    if (b & BUTTON4_PRESSED) {
        out.action = Action::WheelUp;
        return out;
    }
    if (b & BUTTON5_PRESSED) {
        out.action = Action::WheelDown;
        return out;
    }
    for (const ButtonBits& bits : kButtons) {
        if (!(b & (bits.pressed | bits.released | bits.clicked))) continue;
        out.button = bits.button;
        out.action = b & bits.pressed ? Action::Pressed : Action::Released;
        return out;
    }
    return std::nullopt;
}

}  // namespace tui
