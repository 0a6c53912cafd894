// ReplyStream.cpp: reading one reply frame at a time from reads of any size.
#include "client/ReplyStream.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "common/WireCodec.h"

namespace tolvix {

namespace {

constexpr const char* kSource = "Tolvix.SyncSocket";
constexpr size_t kMaxLengthDigits = 10;

ComError stream_lost(const std::string& what) { return ComError(kErrTypeMismatch, kSource, what); }

bool all_digits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string ReplyStream::next(const Read& read) {
    if (lost_) throw *lost_;
    try {
        return read_reply(read);
    } catch (const ComError& e) {
        lost_ = e;   // the bytes of the failed reply are gone, so whatever follows would be misread
        throw;
    }
}

// The body is delimited by its length alone. Its terminator is waited for even when it comes in a read of
// its own, so that a missing one is found whatever the cuts; what follows it is the start of the next
// reply and waits in the backlog.
std::string ReplyStream::read_reply(const Read& read) {
    std::string data = std::exchange(backlog_, std::string());
    size_t sep;
    while ((sep = data.find(wire::kSeparator)) == std::string::npos) {
        if (data.size() > kMaxLengthDigits || !all_digits(data))
            throw stream_lost("Type mismatch: a reply does not start with its length");
        data += read();
    }
    const std::string_view digits(data.data(), sep);
    if (digits.empty() || digits.size() > kMaxLengthDigits || !all_digits(digits))
        throw stream_lost("Type mismatch: a reply does not start with its length");
    const size_t length = std::stoull(std::string(digits));
    if (length > max_reply_)
        throw ComError(kErrOverflow, kSource, "A reply announces " + std::to_string(length) + " characters");
    data.erase(0, sep + 1);

    while (data.size() <= length) data += read();
    if (data[length] != wire::kTerminator) throw stream_lost("Type mismatch: a reply does not end with ETX");
    backlog_ = data.substr(length + 1);
    data.resize(length);
    return data;
}

}  // namespace tolvix
