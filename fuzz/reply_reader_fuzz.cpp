// reply_reader_fuzz.cpp: the client library's reading of the gateway's reply stream (ReplyStream, which
// SyncSocket::TCPRead drives with reads of its socket).
//
// The input is either arbitrary bytes or a sequence of well-formed replies with bodies of any bytes (STX and
// ETX included), followed by the sizes of the reads that deliver the stream; the end of the input is a
// closed connection. Whatever the cuts, the client must read what the shared codec's reader
// (wire::ReplyReader) reads from the whole stream at once: the same bodies, then a clean error exactly
// where that reader finds the stream malformed, or the closed connection where it runs out of bytes. After
// any error every later read fails too, since nothing after a lost reply can be trusted. Reads are never
// asked for beyond the input, and the bytes kept between replies never exceed one read.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "client/ReplyStream.h"
#include "common/ComError.h"
#include "common/WireCodec.h"

namespace {

constexpr size_t kMaxReply = 1000;        // small, so the fuzzer reaches the over-long announcements
constexpr size_t kMaxRead = 100;          // what SyncSocket asks of its socket per read
constexpr int32_t kConnectionClosed = 10054;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "reply_reader_fuzz: %s\n", what);
    std::abort();
}

struct Outcome {
    std::vector<std::string> bodies;
    bool malformed = false;   // ended on a framing error rather than on the end of the stream
};

// The reference: the whole stream in one piece through the shared codec's reader.
Outcome read_whole(const std::string& stream) {
    Outcome out;
    wire::ReplyReader reader(kMaxReply);
    reader.feed(stream);
    try {
        while (std::optional<std::string> body = reader.next()) out.bodies.push_back(std::move(*body));
    } catch (const ComError&) {
        out.malformed = true;
    }
    return out;
}

// The gateway's side of the connection: the stream handed out in reads of the given sizes (cycled), then
// a closed connection.
class CutStream {
public:
    CutStream(const std::string& stream, std::vector<size_t> cuts) : stream_(stream), cuts_(std::move(cuts)) {}

    std::string read() {
        if (at_ == stream_.size()) throw ComError(kConnectionClosed, "reply_reader_fuzz", "closed");
        const size_t size = cuts_.empty() ? kMaxRead : cuts_[next_cut_++ % cuts_.size()];
        std::string piece = stream_.substr(at_, size);
        at_ += piece.size();
        return piece;
    }

private:
    const std::string& stream_;
    std::vector<size_t> cuts_;
    size_t next_cut_ = 0;
    size_t at_ = 0;
};

Outcome read_cut(const std::string& stream, std::vector<size_t> cuts) {
    Outcome out;
    CutStream source(stream, std::move(cuts));
    tolvix::ReplyStream replies(kMaxReply);
    const tolvix::ReplyStream::Read read = [&source] { return source.read(); };
    int32_t number = 0;
    for (;;) {
        try {
            out.bodies.push_back(replies.next(read));
        } catch (const ComError& e) {
            number = e.number();
            break;
        }
        if (replies.backlog().size() >= kMaxRead) fail("the backlog holds more than one read");
        if (out.bodies.size() > stream.size()) fail("more replies than bytes");
    }
    out.malformed = number != kConnectionClosed;
    if (out.malformed && number != kErrTypeMismatch && number != kErrOverflow) fail("an unexpected error number");
    try {
        replies.next(read);
        fail("a read after an error succeeded");
    } catch (const ComError& e) {
        if (e.number() != number) fail("a read after an error raised a different error");
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    std::string stream;
    std::vector<std::string> sent;
    const bool well_formed = input.ConsumeBool();
    if (well_formed) {
        const size_t count = input.ConsumeIntegralInRange<size_t>(0, 8);
        for (size_t i = 0; i < count; ++i) {
            sent.push_back(input.ConsumeRandomLengthString(kMaxReply));
            stream += wire::frame_reply(sent.back());
        }
    } else {
        stream = input.ConsumeRandomLengthString(4 * kMaxReply);
    }
    std::vector<size_t> cuts;
    while (input.remaining_bytes() > 0 && cuts.size() < 64)
        cuts.push_back(input.ConsumeIntegralInRange<size_t>(1, kMaxRead));

    const Outcome expected = read_whole(stream);
    if (well_formed && (expected.malformed || expected.bodies != sent)) fail("the reference misreads framed replies");
    const Outcome unsplit = read_cut(stream, {});
    const Outcome cut = read_cut(stream, cuts);
    for (const Outcome* got : {&unsplit, &cut}) {
        if (got->bodies != expected.bodies) fail("the bodies read differ from the reference");
        if (got->malformed != expected.malformed) fail("a malformed stream was not refused where the reference refuses it");
    }
    return 0;
}
