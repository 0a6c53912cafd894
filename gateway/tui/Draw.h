// Draw.h: draws a form's screen description on the curses standard screen and shows it.
#pragma once

#include "gateway/forms/FormTypes.h"

namespace tui {

// Clears the screen, draws the caption line and every widget in order (later ones cover earlier ones),
// clips everything to the terminal, and places the cursor where the screen asks for it.
void draw_screen(const forms::Screen& screen);

}  // namespace tui
