// FormsTestKit.cpp: helpers over screen descriptions.
#include "tests/gateway/FormsTestKit.h"

#include <gtest/gtest.h>

#include <algorithm>

std::vector<forms::Widget> widgets_of(const forms::Screen& screen, forms::WidgetKind kind) {
    std::vector<forms::Widget> out;
    for (const forms::Widget& w : screen.widgets)
        if (w.kind == kind) out.push_back(w);
    std::stable_sort(out.begin(), out.end(), [](const forms::Widget& a, const forms::Widget& b) {
        return a.rect.row != b.rect.row ? a.rect.row < b.rect.row : a.rect.col < b.rect.col;
    });
    return out;
}

std::vector<std::string> texts_of(const forms::Screen& screen, forms::WidgetKind kind) {
    std::vector<std::string> out;
    for (const forms::Widget& w : widgets_of(screen, kind)) out.push_back(w.text);
    return out;
}

bool has_id(const forms::Screen& screen, int id) {
    return std::any_of(screen.widgets.begin(), screen.widgets.end(), [id](const forms::Widget& w) { return w.id == id; });
}

forms::Widget widget_with_id(const forms::Screen& screen, int id) {
    for (const forms::Widget& w : screen.widgets)
        if (w.id == id) return w;
    ADD_FAILURE() << "no widget with id " << id;
    return forms::widget(forms::WidgetKind::Label, forms::Rect{});
}

void type(forms::Form& form, const std::string& text) {
    for (char32_t c : forms::decode_utf8(text)) form.key(forms::KeyEvent{forms::Key::Char, c});
}

void press(forms::Form& form, std::initializer_list<forms::Key> keys) {
    for (forms::Key k : keys) form.key(forms::KeyEvent{k});
}

void click(forms::Form& form, const forms::Rect& rect, int button, int shift) {
    const int row = rect.row + rect.height / 2;
    const int col = rect.col + rect.width / 2;
    form.mouse(forms::MouseEvent{forms::MouseEvent::Action::Pressed, row, col, button, shift});
    form.mouse(forms::MouseEvent{forms::MouseEvent::Action::Released, row, col, button, shift});
}
