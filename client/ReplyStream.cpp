// ReplyStream.cpp: reading one reply frame at a time from reads of any size.
#include "client/ReplyStream.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "common/ComError.h"
#include "common/WireCodec.h"

namespace tolvix {

namespace {

constexpr const char* kSource = "Tolvix.SyncSocket";
constexpr size_t kMaxLengthDigits = 10;

ComError stream_lost(const std::string& what) { return ComError(kErrTypeMismatch, kSource, what); }

}  // namespace

// The body is delimited by its length alone; what follows its terminator is the start of the next reply
// and waits in the backlog.
std::string ReplyStream::next(const Read& read) {
    std::string data = std::exchange(backlog_, std::string());
    if (data.empty()) {
        data = read();
        // The terminator of the previous reply, when it came apart from its body, or alone.
        if (!data.empty() && data[0] == wire::kTerminator && (terminator_pending_ || data.size() == 1))
            data.erase(0, 1);
    }
    terminator_pending_ = false;

    size_t sep;
    while ((sep = data.find(wire::kSeparator)) == std::string::npos) {
        if (data.size() > kMaxLengthDigits) throw stream_lost("Type mismatch: a reply does not start with its length");
        data += read();
    }
    const std::string_view digits(data.data(), sep);
    if (digits.empty() || digits.size() > kMaxLengthDigits ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        throw stream_lost("Type mismatch: a reply does not start with its length");
    const size_t length = std::stoull(std::string(digits));
    if (length > max_reply_)
        throw ComError(kErrOverflow, kSource, "A reply announces " + std::to_string(length) + " characters");
    data.erase(0, sep + 1);

    while (data.size() < length) data += read();
    if (data.size() == length) {
        terminator_pending_ = true;
    } else {
        if (data[length] != wire::kTerminator) throw stream_lost("Type mismatch: a reply does not end with ETX");
        backlog_ = data.substr(length + 1);
        data.resize(length);
    }
    return data;
}

}  // namespace tolvix
