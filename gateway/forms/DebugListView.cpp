// DebugListView.cpp: splitting entries into screen lines and moving through them.
#include "gateway/forms/DebugListView.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "common/Cp1252.h"

namespace forms {

namespace {

// The number of screen lines of an entry: one more than its line breaks (CR LF counts once).
size_t pieces(std::string_view entry) {
    size_t n = 1;
    for (size_t at = entry.find_first_of("\r\n"); at != std::string_view::npos; at = entry.find_first_of("\r\n", at)) {
        at += entry.compare(at, 2, "\r\n") == 0 ? 2 : 1;
        ++n;
    }
    return n;
}

// One piece of an entry shown in at most `width` cells (every character here takes one cell).
std::string shown(std::string_view piece, size_t width) {
    std::string bytes;
    size_t cells = 0;
    for (char c : piece) {
        const auto b = static_cast<unsigned char>(c);
        const bool control = b < 0x20 || b == 0x7F;
        if (cells + (control ? 2 : 1) > width) break;
        if (control) {
            bytes += '^';
            bytes += b == 0x7F ? '?' : static_cast<char>(b + 0x40);
            cells += 2;
        } else {
            bytes += c;
            ++cells;
        }
    }
    return cp1252::to_utf8(bytes);
}

// Appends up to `count` screen lines of `entry` to `out`, skipping its first `skip` lines. Stops as soon
// as it has them, so a long request line costs no more than the part that shows.
void append_lines(std::string_view entry, size_t skip, size_t count, size_t width, std::vector<std::string>& out) {
    size_t start = 0;
    for (size_t piece = 0; count > 0; ++piece) {
        size_t end = entry.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = entry.size();
        if (piece >= skip) {
            out.push_back(shown(entry.substr(start, end - start), width));
            --count;
        }
        if (end == entry.size()) break;
        start = end + (entry.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
}

}  // namespace

std::vector<std::string> DebugListView::screen_lines(const std::string& entry, size_t width) {
    std::vector<std::string> lines;
    append_lines(entry, 0, SIZE_MAX, width, lines);
    return lines;
}

std::vector<std::string> DebugListView::visible(const std::deque<std::string>& list, size_t width, size_t height) {
    clamp(list, height);
    std::vector<std::string> out;
    for (size_t e = top_entry_; e < list.size() && out.size() < height; ++e)
        append_lines(list[e], e == top_entry_ ? top_piece_ : 0, height - out.size(), width, out);
    return out;
}

void DebugListView::inserted(size_t position) {
    const bool at_top = top_entry_ == 0 && top_piece_ == 0;
    if (!at_top && position <= top_entry_) ++top_entry_;
}

void DebugListView::scroll(const std::deque<std::string>& list, long lines, size_t height) {
    clamp(list, 0);
    for (; lines < 0; ++lines) {
        if (top_piece_ > 0) {
            --top_piece_;
        } else if (top_entry_ > 0) {
            top_piece_ = pieces(list[--top_entry_]) - 1;
        } else {
            break;
        }
    }
    for (; lines > 0 && top_entry_ < list.size(); --lines) {
        if (++top_piece_ >= pieces(list[top_entry_])) {
            ++top_entry_;
            top_piece_ = 0;
        }
    }
    clamp(list, height);
}

void DebugListView::to_bottom(const std::deque<std::string>& list, size_t height) {
    top_entry_ = list.size();
    top_piece_ = 0;
    clamp(list, height);
}

// The lowest allowed position shows the last `height` screen lines; found by walking back from the end,
// which costs at most `height` entries however long the list is.
void DebugListView::clamp(const std::deque<std::string>& list, size_t height) {
    if (list.empty()) {
        cleared();
        return;
    }
    size_t last_entry = list.size();
    size_t last_piece = 0;   // the position just past the end
    for (size_t need = std::max<size_t>(height, 1); need > 0 && (last_entry > 0 || last_piece > 0); --need) {
        if (last_piece > 0) {
            --last_piece;
        } else {
            last_piece = pieces(list[--last_entry]) - 1;
        }
    }
    const bool below = top_entry_ > last_entry || (top_entry_ == last_entry && top_piece_ > last_piece);
    if (below) {
        top_entry_ = last_entry;
        top_piece_ = last_piece;
    }
    if (top_entry_ < list.size() && top_piece_ >= pieces(list[top_entry_])) top_piece_ = 0;
}

}  // namespace forms
