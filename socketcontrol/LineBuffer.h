// LineBuffer.h: a TextSocket's receive buffer and line terminator list, and the cutting of the buffered
// bytes into lines at the earliest terminator.
//
// The rule is that of a search from the first buffered character for every terminator each time a line
// is cut: the terminator found at the smallest position ends the line, and of two found at the same
// position the one earlier in the list wins. The buffer gives the same answers without that repeated
// search: for each terminator it remembers where its next occurrence is, or how far the buffer is known
// to hold none, so every byte is searched about once per terminator however many arrivals a line takes,
// and cut lines are dropped from the front by moving a start index instead of copying the rest.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class LineBuffer final {
public:
    static constexpr size_t kNone = std::string::npos;

    // The terminators searched for, in list order; never holds an empty entry (the caller checks).
    void set_terminators(std::vector<std::string> terminators);
    const std::vector<std::string>& terminators() const { return terminators_; }

    void append(std::string_view bytes);

    // Cuts the earliest complete line off the front: `line` gets the bytes before the terminator, and
    // the result is the index of the terminator in the list; kNone when no terminator is buffered (then
    // nothing changes). Also kNone while the terminator list is empty.
    size_t cut(std::string& line);

    // Removes and returns everything buffered.
    std::string take_all();

    // Drops what is buffered except the last `keep` bytes (so that a terminator whose first bytes are
    // among them is still found when its last bytes arrive).
    void drop_keeping_tail(size_t keep);

    size_t size() const { return data_.size() - start_; }
    bool empty() const { return size() == 0; }
    size_t longest_terminator() const;

private:
    // What is known of one terminator's next occurrence at or after start_.
    struct Known {
        size_t at = kNone;     // its position in data_, or kNone when not found yet
        size_t clear_to = 0;   // when not found: no occurrence begins in [start_, clear_to)
    };
    void find(size_t index);   // brings known_[index] up to date with the buffered bytes
    void forget_found();       // after start_ moved: positions behind it are searched again
    void compact();            // moves the unread bytes to the front when that is cheap enough

    std::string data_;                      // data_[start_, end) is the unread text
    size_t start_ = 0;
    std::vector<std::string> terminators_;  // in list order
    std::vector<Known> known_;              // one per terminator
};
