// Input.h: the terminal library's keys and mouse reports as the forms' events. Internal to gateway/tui:
// it includes the curses header, which must stay out of every header other folders include.
#pragma once

#include <curses.h>

#include <optional>

#include "gateway/forms/FormTypes.h"

namespace tui {

// A key as wget_wch reports it: `is_key_code` for KEY_CODE_YES (function and cursor keys), else a
// character. Keys the forms have no use for give nullopt.
std::optional<forms::KeyEvent> translate_key(bool is_key_code, wint_t code);

// One mouse report. Presses and releases come separately (the click interval is 0); a terminal that only
// reports clicks gives a release, since a form acts when the button goes up. The Shift, Ctrl and Alt
// bits of the report become the shift state.
std::optional<forms::MouseEvent> translate_mouse(const MEVENT& event);

}  // namespace tui
