// FormTypes.cpp: UTF-8 at the forms' edges, and hit tests on a described screen.
#include "gateway/forms/FormTypes.h"

namespace forms {

std::u32string decode_utf8(std::string_view s) {
    std::u32string out;
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const int n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        char32_t c = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
        bool ok = n > 0 && i + static_cast<size_t>(n) <= s.size();
        for (int k = 1; ok && k < n; ++k) {
            const auto cont = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
            ok = (cont & 0xC0) == 0x80;
            c = (c << 6) | (cont & 0x3F);
        }
        out.push_back(ok ? c : U'\uFFFD');
        i += ok ? static_cast<size_t>(n) : 1;
    }
    return out;
}

std::string encode_utf8(std::u32string_view text) {
    std::string out;
    for (char32_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

int widget_at(const Screen& screen, int row, int col) {
    for (auto w = screen.widgets.rbegin(); w != screen.widgets.rend(); ++w) {
        if (!w->rect.contains(row, col)) continue;
        if (w->id >= 0) return w->id;
        // An open list or a message box covers whatever lies below it.
        if (w->kind == WidgetKind::MessageBox || w->kind == WidgetKind::DropList) return -1;
    }
    return -1;
}

}  // namespace forms
