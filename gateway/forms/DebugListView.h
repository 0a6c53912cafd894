// DebugListView.h: the monitor's debug list as screen lines: each entry of the list (newest first) shows
// as one screen line per line break it holds (LogError entries carry CR LF), and the view scrolls by
// screen lines. The position stays on the lines being read while new entries arrive above them; at the
// very top it follows the newest entry.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

namespace forms {

class DebugListView final {
public:
    // The screen lines of one entry, each cut to `width` cells: the entry is split at CR LF, CR or LF,
    // Windows-1252 text becomes UTF-8, and other control characters show as ^B, ^C ... so that the
    // separators of a request stay visible and never move the terminal's cursor.
    static std::vector<std::string> screen_lines(const std::string& entry, size_t width);

    // The `height` screen lines from the current position, cut to `width`.
    std::vector<std::string> visible(const std::deque<std::string>& list, size_t width, size_t height);

    // An entry was inserted at `position` of the list: a view scrolled away from the top keeps showing
    // the same lines.
    void inserted(size_t position);
    // The list was emptied (Reset): back to the top.
    void cleared() { top_entry_ = top_piece_ = 0; }

    // Moves by `lines` screen lines (negative: towards the newest), never above the top, and never so far
    // down that a page of `height` lines is less than full while the list has that many.
    void scroll(const std::deque<std::string>& list, long lines, size_t height);
    void to_top() { cleared(); }
    void to_bottom(const std::deque<std::string>& list, size_t height);

    // The first shown screen line: the entry (0 = newest) and the line within it.
    size_t top_entry() const { return top_entry_; }
    size_t top_piece() const { return top_piece_; }

private:
    void clamp(const std::deque<std::string>& list, size_t height);

    size_t top_entry_ = 0;
    size_t top_piece_ = 0;
};

}  // namespace forms
