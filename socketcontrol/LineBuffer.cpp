// LineBuffer.cpp: cutting buffered bytes into lines at the earliest of several terminators.
#include "socketcontrol/LineBuffer.h"

#include <algorithm>
#include <utility>

namespace {

// Unread bytes are moved to the front only once the consumed part is at least this large and at least
// half of the buffer, so each byte is moved a bounded number of times.
constexpr size_t kCompactThreshold = 4096;

}  // namespace

void LineBuffer::set_terminators(std::vector<std::string> terminators) {
    terminators_ = std::move(terminators);
    known_.assign(terminators_.size(), Known{kNone, start_});
}

size_t LineBuffer::longest_terminator() const {
    size_t longest = 0;
    for (const std::string& t : terminators_) longest = std::max(longest, t.size());
    return longest;
}

void LineBuffer::append(std::string_view bytes) {
    compact();
    data_.append(bytes);
}

void LineBuffer::find(size_t index) {
    Known& k = known_[index];
    if (k.at != kNone) return;
    const std::string& term = terminators_[index];
    const size_t from = std::max(k.clear_to, start_);
    const size_t found = std::string_view(data_).find(term, from);
    if (found != std::string_view::npos) {
        k.at = found;
        return;
    }
    // No occurrence begins where the whole terminator would already fit; later bytes may complete one
    // that begins in the last term.size() - 1 bytes.
    const size_t end = data_.size();
    k.clear_to = end >= term.size() ? std::max(from, end - term.size() + 1) : from;
}

size_t LineBuffer::cut(std::string& line) {
    size_t best = kNone;
    for (size_t i = 0; i < terminators_.size(); ++i) {
        find(i);
        const size_t at = known_[i].at;
        if (at != kNone && (best == kNone || at < known_[best].at)) best = i;  // ties: earlier entry wins
    }
    if (best == kNone) return kNone;
    const size_t at = known_[best].at;
    line.assign(data_, start_, at - start_);
    start_ = at + terminators_[best].size();
    forget_found();
    return best;
}

void LineBuffer::forget_found() {
    for (Known& k : known_)
        if (k.at != kNone && k.at < start_) k = Known{kNone, start_};  // overlapped the cut: search again
}

std::string LineBuffer::take_all() {
    std::string all = data_.substr(start_);
    data_.clear();
    start_ = 0;
    known_.assign(terminators_.size(), Known{kNone, 0});
    return all;
}

void LineBuffer::drop_keeping_tail(size_t keep) {
    if (size() <= keep) return;
    start_ = data_.size() - keep;
    forget_found();
    compact();
}

void LineBuffer::compact() {
    if (start_ == 0) return;
    if (start_ < data_.size() && (start_ < kCompactThreshold || start_ < data_.size() / 2)) return;
    data_.erase(0, start_);
    for (Known& k : known_) {
        if (k.at != kNone) k.at -= start_;
        k.clear_to = k.clear_to > start_ ? k.clear_to - start_ : 0;
    }
    start_ = 0;
}
