// FormsTestKit.h: reading a form's screen description in tests, and typing into a form.
#pragma once

#include <string>
#include <vector>

#include "gateway/forms/FormTypes.h"

// The widgets of one kind, top to bottom and left to right.
std::vector<forms::Widget> widgets_of(const forms::Screen& screen, forms::WidgetKind kind);
// The texts of those widgets, in the same order.
std::vector<std::string> texts_of(const forms::Screen& screen, forms::WidgetKind kind);
// The widget with this id; the test fails when there is none.
forms::Widget widget_with_id(const forms::Screen& screen, int id);
bool has_id(const forms::Screen& screen, int id);

// Each character of `text` as a key, then the named keys.
void type(forms::Form& form, const std::string& text);
void press(forms::Form& form, std::initializer_list<forms::Key> keys);
// A click with `button` (pressed then released) at the middle of `rect`.
void click(forms::Form& form, const forms::Rect& rect, int button = forms::kLeftButton, int shift = 0);
