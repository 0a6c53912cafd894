// Input_test.cpp: the terminal's keys and mouse reports as the forms' events.
#include "gateway/tui/Input.h"

#include <gtest/gtest.h>

using forms::Key;
using forms::MouseEvent;

TEST(Input, KeysTheFormsUseAreTranslated) {
    struct Case {
        bool key_code;
        wint_t code;
        Key key;
    };
    const Case cases[] = {
        {true, KEY_F(10), Key::Quit}, {false, 17, Key::Quit},   {false, 3, Key::Interrupt}, {true, KEY_BTAB, Key::BackTab},
        {false, '\t', Key::Tab},      {false, '\r', Key::Enter}, {true, KEY_NPAGE, Key::PageDown}, {false, 27, Key::Escape},
        {false, 127, Key::Backspace}, {true, KEY_DC, Key::Delete},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const auto event = tui::translate_key(c.key_code, c.code);
        ASSERT_TRUE(event);
        EXPECT_EQ(event->key, c.key);
    }
    const auto ch = tui::translate_key(false, L'ø');
    ASSERT_TRUE(ch);
    EXPECT_EQ(ch->key, Key::Char);
    EXPECT_EQ(ch->ch, U'ø');
    EXPECT_FALSE(tui::translate_key(false, 1));         // Ctrl-A: no use
    EXPECT_FALSE(tui::translate_key(true, KEY_F(3)));
}

TEST(Input, MouseReportsCarryTheButtonAndTheShiftState) {
    const auto event = [](mmask_t state) {
        MEVENT m{};
        m.x = 7;
        m.y = 3;
        m.bstate = state;
        return tui::translate_mouse(m);
    };
    const auto right_shift = event(BUTTON3_RELEASED | BUTTON_SHIFT);
    ASSERT_TRUE(right_shift);
    EXPECT_EQ(right_shift->action, MouseEvent::Action::Released);
    EXPECT_EQ(right_shift->button, forms::kRightButton);
    EXPECT_EQ(right_shift->shift, forms::kShiftMask);
    EXPECT_EQ(right_shift->row, 3);
    EXPECT_EQ(right_shift->col, 7);
    EXPECT_EQ(event(BUTTON3_CLICKED | BUTTON_SHIFT | BUTTON_CTRL)->shift, forms::kShiftMask | forms::kCtrlMask);
    EXPECT_EQ(event(BUTTON3_CLICKED)->action, MouseEvent::Action::Released);   // a click ends with the button up
    EXPECT_EQ(event(BUTTON1_PRESSED)->action, MouseEvent::Action::Pressed);
    EXPECT_EQ(event(BUTTON1_PRESSED)->button, forms::kLeftButton);
    EXPECT_EQ(event(BUTTON4_PRESSED)->action, MouseEvent::Action::WheelUp);
    EXPECT_EQ(event(BUTTON5_PRESSED)->action, MouseEvent::Action::WheelDown);
    EXPECT_FALSE(event(REPORT_MOUSE_POSITION));
}
