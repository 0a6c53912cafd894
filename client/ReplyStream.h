// ReplyStream.h: the client's cutting of the gateway's reply stream into reply bodies, apart from the
// socket that delivers the bytes, so that it can be driven by any source of reads (see SyncSocket::TCPRead).
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "common/ComError.h"

namespace tolvix {

class ReplyStream final {
public:
    // One read of the connection: at least one byte, or raises (a closed connection raises 10054).
    using Read = std::function<std::string()>;

    // The longest reply body accepted: the gateway sends at most 64 MiB for "all"; a bigger announced
    // length means the stream is lost.
    static constexpr size_t kMaxReply = size_t{64} << 20;

    explicit ReplyStream(size_t max_reply = kMaxReply) : max_reply_(max_reply) {}

    // The next reply body, still scrambled: the length in plain decimal, STX, the body, ETX. Calls `read`
    // only when the bytes already received do not hold the whole reply, terminator included. A reply that
    // is not framed so raises ComError 13 as soon as its bytes show it, a length above the maximum 6. After
    // any error, the read's own included, every later call raises the same: the stream is out of step.
    std::string next(const Read& read);
    // Bytes received beyond the end of the last reply; the next call starts from them.
    const std::string& backlog() const { return backlog_; }

private:
    std::string read_reply(const Read& read);

    size_t max_reply_;
    std::string backlog_;                 // wire bytes received beyond the end of a reply
    std::optional<ComError> lost_;        // the error that ended the stream
};

}  // namespace tolvix
