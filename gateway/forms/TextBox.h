// TextBox.h: the editing state of a one-line text box: its text, the insertion point, and which part of
// a text longer than the box shows.
#pragma once

#include <string>

#include "gateway/forms/FormTypes.h"

namespace forms {

class TextBox final {
public:
    // The text as UTF-8; setting it puts the insertion point at its end.
    std::string text() const;
    void set_text(const std::string& utf8);

    // Printable characters, Backspace, Delete, Left, Right, Home and End edit; anything else is not a
    // text box key and returns false.
    bool key(const KeyEvent& event);
    // Puts the insertion point under a click `offset` cells into the box of `width` cells.
    void click(int offset, int width);

    // The part of the text that shows in `width` cells (one cell per character), and the insertion
    // point's column within it. The shown part follows the insertion point.
    std::string visible(int width) const;
    int cursor_column(int width) const;

private:
    size_t first_shown(int width) const;

    std::u32string text_;   // one element per character, so editing never splits a UTF-8 sequence
    size_t cursor_ = 0;     // 0..text_.size()
};

}  // namespace forms
