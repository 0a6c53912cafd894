// frmDebug.cpp: the per-thread trace list, its bound, and the sink of a shown window.
#include "tolvix/frmDebug.h"

#include <cstdio>

namespace tolvix {

namespace {

void to_standard_error(const std::string& line) {
    const std::string text = escaped(line) + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
}

}  // namespace

frmDebug& frmDebug::instance() {
    thread_local frmDebug window;
    return window;
}

void frmDebug::Show() { visible_ = true; }

void frmDebug::tbReset_Click() noexcept {
    top_.clear();
    bottom_.clear();
}

std::vector<std::string> frmDebug::lbDebug() const {
    std::vector<std::string> lines;
    lines.reserve(top_.size() + bottom_.size());
    for (const Line& l : top_) lines.push_back(l.text);
    for (const Line& l : bottom_) lines.push_back(l.text);
    return lines;
}

void frmDebug::add_top(std::string line) {
    top_.push_front(Line{next_seq_++, std::move(line)});
    written(top_.front().text);
}

void frmDebug::add_bottom(std::string line) {
    bottom_.push_back(Line{next_seq_++, std::move(line)});
    written(bottom_.back().text);
}

void frmDebug::set_sink(Sink sink) { sink_ = std::move(sink); }

void frmDebug::set_max_lines(size_t lines) {
    max_lines_ = lines == 0 ? 1 : lines;
    while (top_.size() + bottom_.size() > max_lines_) drop_oldest();
}

void frmDebug::written(const std::string& line) {
    if (visible_) {
        try {
            if (sink_) sink_(line);
            else to_standard_error(line);
        } catch (...) {
            // A trace line never fails the request that wrote it.
        }
    }
    while (top_.size() + bottom_.size() > max_lines_) drop_oldest();
}

// The oldest line is the last of the top half or the first of the bottom half.
void frmDebug::drop_oldest() {
    if (bottom_.empty() || (!top_.empty() && top_.back().seq < bottom_.front().seq))
        top_.pop_back();
    else
        bottom_.pop_front();
}

std::string escaped(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\') {
            out += "\\\\";
        } else if (c < 32 || c == 127) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

}  // namespace tolvix
