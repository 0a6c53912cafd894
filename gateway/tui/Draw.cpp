// Draw.cpp: one small drawing routine per kind of control, over plain curses calls. Attributes only
// (reverse, bold, underline), no colours, so the forms read on any terminal and over any ssh session.
#include "gateway/tui/Draw.h"

#include <curses.h>

#include <algorithm>
#include <string>

namespace tui {

namespace {

using forms::Rect;
using forms::Widget;

// Writes `text` at (row, col), at most `cells` characters, never past the right edge of the screen.
void put(int row, int col, const std::string& text, int cells, attr_t attr = A_NORMAL) {
    if (row < 0 || row >= LINES || col >= COLS || cells <= 0) return;
    const std::u32string chars = forms::decode_utf8(text);
    const std::wstring wide(chars.begin(), chars.end());   // wchar_t holds a whole character on Linux
    const int n = std::min({cells, static_cast<int>(wide.size()), COLS - col});
    attron(attr);
    mvaddnwstr(row, col, wide.c_str(), n);
    attroff(attr);
}

// `text` padded or cut to exactly `cells` characters.
std::string fitted(const std::string& text, int cells) {
    std::u32string chars = forms::decode_utf8(text);
    chars.resize(static_cast<size_t>(std::max(cells, 0)), U' ');
    return forms::encode_utf8(chars);
}

void draw_border(const Rect& r, const std::string& caption, attr_t attr = A_NORMAL) {
    if (r.height < 2 || r.width < 2) return;
    attron(attr);
    const int bottom = r.row + r.height - 1;
    const int right = r.col + r.width - 1;
    for (int c = r.col + 1; c < right; ++c) {
        if (r.row < LINES && c < COLS) mvaddch(r.row, c, ACS_HLINE);
        if (bottom < LINES && c < COLS) mvaddch(bottom, c, ACS_HLINE);
    }
    for (int row = r.row + 1; row < bottom && row < LINES; ++row) {
        if (r.col < COLS) mvaddch(row, r.col, ACS_VLINE);
        if (right < COLS) mvaddch(row, right, ACS_VLINE);
    }
    const auto corner = [](int row, int col, chtype ch) {
        if (row < LINES && col < COLS) mvaddch(row, col, ch);
    };
    corner(r.row, r.col, ACS_ULCORNER);
    corner(r.row, right, ACS_URCORNER);
    corner(bottom, r.col, ACS_LLCORNER);
    corner(bottom, right, ACS_LRCORNER);
    attroff(attr);
    if (!caption.empty()) put(r.row, r.col + 2, " " + caption + " ", r.width - 4, attr);
}

void blank_rect(const Rect& r) {
    for (int row = r.row; row < r.row + r.height; ++row) put(row, r.col, std::string(static_cast<size_t>(r.width), ' '), r.width);
}

void draw_widget(const Widget& w) {
    const Rect& r = w.rect;
    const attr_t focus = w.focused ? A_REVERSE : A_NORMAL;
    switch (w.kind) {
    case forms::WidgetKind::Frame:
        draw_border(r, w.text);
        break;
    case forms::WidgetKind::Label:
        put(r.row, r.col, w.text, r.width);
        break;
    case forms::WidgetKind::TextBox:
        put(r.row, r.col, "[", 1, w.focused ? A_BOLD : A_NORMAL);
        put(r.row, r.col + 1, fitted(w.text, r.width - 2), r.width - 2, A_UNDERLINE);
        put(r.row, r.col + r.width - 1, "]", 1, w.focused ? A_BOLD : A_NORMAL);
        break;
    case forms::WidgetKind::DropDown:
        put(r.row, r.col, "[" + fitted(w.text, r.width - 4) + " v]", r.width, focus);
        break;
    case forms::WidgetKind::DropList:
        blank_rect(r);
        draw_border(r, "");
        for (size_t i = 0; i < w.lines.size(); ++i)
            put(r.row + 1 + static_cast<int>(i), r.col + 1, fitted(w.lines[i], r.width - 2), r.width - 2,
                static_cast<int>(i) == w.selected ? A_REVERSE : A_NORMAL);
        break;
    case forms::WidgetKind::Button:
        put(r.row, r.col, "< " + w.text + " >", r.width, focus);
        break;
    case forms::WidgetKind::CheckBox:
        put(r.row, r.col, std::string(w.checked ? "[x] " : "[ ] "), 4);
        put(r.row, r.col + 4, w.text, r.width - 4, focus);
        break;
    case forms::WidgetKind::ListBox:
        draw_border(r, "", w.focused ? A_BOLD : A_NORMAL);
        for (size_t i = 0; i < w.lines.size() && static_cast<int>(i) < r.height - 2; ++i)
            put(r.row + 1 + static_cast<int>(i), r.col + 1, w.lines[i], r.width - 2);
        break;
    case forms::WidgetKind::MessageBox:
        blank_rect(r);
        draw_border(r, w.text, A_BOLD);
        for (size_t i = 0; i < w.lines.size(); ++i) put(r.row + 1 + static_cast<int>(i), r.col + 2, w.lines[i], r.width - 4);
        break;
    }
}

}  // namespace

void draw_screen(const forms::Screen& screen) {
    erase();
    const int pad = std::max((COLS - static_cast<int>(forms::decode_utf8(screen.caption).size())) / 2, 0);
    put(0, 0, fitted(std::string(static_cast<size_t>(pad), ' ') + screen.caption, COLS), COLS, A_REVERSE);
    for (const Widget& w : screen.widgets) draw_widget(w);
    if (screen.cursor_row >= 0 && screen.cursor_row < LINES && screen.cursor_col >= 0 && screen.cursor_col < COLS) {
        curs_set(1);
        move(screen.cursor_row, screen.cursor_col);
    } else {
        curs_set(0);
    }
    refresh();
}

}  // namespace tui
