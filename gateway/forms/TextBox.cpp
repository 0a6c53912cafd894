// TextBox.cpp: one-line editing over characters, with UTF-8 at the edges.
#include "gateway/forms/TextBox.h"

#include <algorithm>

namespace forms {

std::string TextBox::text() const { return encode_utf8(text_); }

void TextBox::set_text(const std::string& utf8) {
    text_ = decode_utf8(utf8);
    cursor_ = text_.size();
}

bool TextBox::key(const KeyEvent& event) {
    switch (event.key) {
    case Key::Char:
        text_.insert(cursor_++, 1, event.ch);
        return true;
    case Key::Backspace:
        if (cursor_ > 0) text_.erase(--cursor_, 1);
        return true;
    case Key::Delete:
        if (cursor_ < text_.size()) text_.erase(cursor_, 1);
        return true;
    case Key::Left:
        if (cursor_ > 0) --cursor_;
        return true;
    case Key::Right:
        if (cursor_ < text_.size()) ++cursor_;
        return true;
    case Key::Home:
        cursor_ = 0;
        return true;
    case Key::End:
        cursor_ = text_.size();
        return true;
    default:
        return false;
    }
}

// The box keeps one cell free for the insertion point after the last character.
size_t TextBox::first_shown(int width) const {
    const size_t cells = static_cast<size_t>(std::max(width, 1));
    return cursor_ < cells ? 0 : cursor_ - cells + 1;
}

void TextBox::click(int offset, int width) {
    cursor_ = std::min(text_.size(), first_shown(width) + static_cast<size_t>(std::max(offset, 0)));
}

std::string TextBox::visible(int width) const {
    return encode_utf8(std::u32string_view(text_).substr(first_shown(width), static_cast<size_t>(std::max(width, 0))));
}

int TextBox::cursor_column(int width) const { return static_cast<int>(cursor_ - first_shown(width)); }

}  // namespace forms
