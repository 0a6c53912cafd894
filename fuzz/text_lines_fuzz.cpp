// text_lines_fuzz.cpp: a text socket's cutting of received bytes into lines and its unescaping.
//
// The line buffer remembers, per terminator, how far it has searched, so that a line arriving in many
// pieces is not searched again from its start each time. That bookkeeping must give exactly the lines of
// the plain rule: search the unread bytes from their start for every terminator; the one found earliest
// ends the line, and of two found at the same place the one earlier in the list wins. The input chooses
// up to three terminators and a sequence of arrivals (with the socket's other operations on the buffer in
// between: dropping all but a tail, taking everything); after each step the buffer's lines are compared
// with that rule applied to a plain copy of the unread bytes.
//
// Escaping: whatever the bytes, escaping them and cutting the result at CR LF gives one line, which
// unescapes to the same bytes. That is what lets a text socket with Escape on carry any text.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "socketcontrol/LineBuffer.h"
#include "socketcontrol/LineEscaping.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "text_lines_fuzz: %s\n", what);
    std::abort();
}

// The plain rule on a plain copy of the unread bytes, unread_[start_, end).
class PlainLines {
public:
    explicit PlainLines(std::vector<std::string> terminators) : terminators_(std::move(terminators)) {}

    void append(std::string_view bytes) { unread_ += bytes; }
    size_t cut(std::string& line) {
        size_t best = LineBuffer::kNone;
        size_t best_at = std::string::npos;
        for (size_t i = 0; i < terminators_.size(); ++i) {
            const size_t at = unread_.find(terminators_[i], start_);
            if (at < best_at) {
                best = i;
                best_at = at;
            }
        }
        if (best == LineBuffer::kNone) return best;
        line = unread_.substr(start_, best_at - start_);
        start_ = best_at + terminators_[best].size();
        return best;
    }
    void drop_keeping_tail(size_t keep) {
        if (size() > keep) start_ = unread_.size() - keep;
    }
    std::string take_all() {
        std::string all = unread_.substr(start_);
        unread_.clear();
        start_ = 0;
        return all;
    }
    size_t size() const { return unread_.size() - start_; }

private:
    std::vector<std::string> terminators_;
    std::string unread_;
    size_t start_ = 0;
};

// Cuts every complete line off both and compares them.
void compare_lines(LineBuffer& buffer, PlainLines& plain) {
    std::string line, expected;
    for (;;) {
        const size_t index = buffer.cut(line);
        if (index != plain.cut(expected)) fail("a different terminator ended the line (or none did)");
        if (index == LineBuffer::kNone) break;
        if (line != expected) fail("a line was cut at a different place");
        line_escaping::unescape(line);
    }
    if (buffer.size() != plain.size()) fail("the unread byte counts differ");
}

void check_cutting(FuzzedDataProvider& input) {
    std::vector<std::string> terminators;
    const size_t count = input.ConsumeIntegralInRange<size_t>(1, 3);
    for (size_t i = 0; i < count; ++i) {
        std::string t = input.ConsumeRandomLengthString(4);
        terminators.push_back(t.empty() ? std::string("\r\n") : t);   // the list never holds an empty entry
    }
    LineBuffer buffer;
    buffer.set_terminators(terminators);
    PlainLines plain(terminators);
    if (buffer.longest_terminator() == 0) fail("no terminator length");
    while (input.remaining_bytes() > 0) {
        switch (input.ConsumeIntegralInRange<int>(0, 9)) {
            case 0: {   // a line known to be too long: all but what may start a terminator goes
                const size_t keep = buffer.longest_terminator() - 1;
                buffer.drop_keeping_tail(keep);
                plain.drop_keeping_tail(keep);
                break;
            }
            case 1:   // the peer closed: the rest is one last line
                if (buffer.take_all() != plain.take_all()) fail("take_all gave other bytes");
                break;
            case 2: {   // a long arrival: the buffer only moves its unread bytes once 4096 are read
                std::string arrival;
                const std::string piece = input.ConsumeRandomLengthString(64);
                for (size_t n = input.ConsumeIntegralInRange<size_t>(2, 64); n > 0; --n) arrival += piece;
                buffer.append(arrival);
                plain.append(arrival);
                break;
            }
            default: {
                const std::string arrival = input.ConsumeRandomLengthString(64);
                buffer.append(arrival);
                plain.append(arrival);
            }
        }
        compare_lines(buffer, plain);
    }
}

void check_escaping(std::string_view data) {
    std::string sent;
    line_escaping::escape(data, sent);
    sent += "\r\n";
    LineBuffer buffer;
    buffer.set_terminators({"\r\n"});
    buffer.append(sent);
    std::string line;
    if (buffer.cut(line) != 0 || !buffer.empty()) fail("escaped bytes did not arrive as exactly one line");
    if (line_escaping::unescape(line) != data) fail("unescaping did not give back the escaped bytes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    check_escaping(std::string_view(reinterpret_cast<const char*>(data), size));
    FuzzedDataProvider input(data, size);
    check_cutting(input);
    return 0;
}
