// ReplyStream_test.cpp: the reply framing read from a stream cut into reads at chosen places. A stream must
// read the same however TCP cuts it, and a stream that went wrong once must not be read further.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "client/ReplyStream.h"
#include "common/ComError.h"
#include "common/WireCodec.h"

using tolvix::ReplyStream;

namespace {

constexpr int32_t kClosed = 10054;

std::string frame(const std::string& body) { return wire::frame_reply(body); }

// The gateway's side of a connection: `stream` in reads of the sizes in `cuts`, then in one read what is
// left, then a closed connection.
class CutStream {
public:
    CutStream(std::string stream, std::vector<size_t> cuts) : stream_(std::move(stream)), cuts_(std::move(cuts)) {}
    ReplyStream::Read reader() {
        return [this] {
            if (at_ == stream_.size()) throw ComError(kClosed, "test", "closed");
            const size_t size = next_cut_ < cuts_.size() ? cuts_[next_cut_++] : stream_.size();
            std::string piece = stream_.substr(at_, size);
            at_ += piece.size();
            return piece;
        };
    }

private:
    std::string stream_;
    std::vector<size_t> cuts_;
    size_t next_cut_ = 0;
    size_t at_ = 0;
};

// Every reply body read off the stream, then "error <number>" for the error that ended the reading.
std::vector<std::string> read_all(const std::string& stream, const std::vector<size_t>& cuts) {
    CutStream source(stream, cuts);
    const ReplyStream::Read read = source.reader();
    ReplyStream replies;
    std::vector<std::string> bodies;
    for (;;) {
        try {
            bodies.push_back(replies.next(read));
        } catch (const ComError& e) {
            bodies.push_back("error " + std::to_string(e.number()));
            return bodies;
        }
    }
}

}  // namespace

// Each stream is read whole and cut at every offset; all must give the same replies and the same error.
TEST(ReplyStream, EveryCutReadsLikeTheWholeStream) {
    struct Case {
        const char* name;
        std::string stream;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"framed", frame("ok") + frame("\x02\x03" "ab") + frame(""), {"ok", "\x02\x03" "ab", "", "error 10054"}},
        {"body without its terminator, the next reply right after", "3\x02" "abc" + frame("ok"), {"error 13"}},
        {"a stray terminator before a reply", "\x03" + frame("ok"), {"error 13"}},
        {"a length that is not a number", "ok\x02" "x\x03" + frame("ok"), {"error 13"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(read_all(c.stream, {}), c.expected);
        for (size_t cut = 1; cut < c.stream.size(); ++cut) {
            SCOPED_TRACE(cut);
            EXPECT_EQ(read_all(c.stream, {cut}), c.expected);
        }
    }
}

// A prefix that cannot become a length fails at once rather than waiting for bytes that may never come.
TEST(ReplyStream, BadLengthFailsWithoutWaitingForMore) {
    EXPECT_EQ(read_all("x", {}), std::vector<std::string>{"error 13"});
    EXPECT_EQ(read_all("12", {}), std::vector<std::string>{"error 10054"});   // a length still arriving
}

// After an announcement beyond the limit the stream is lost: the bytes behind it, here a body that looks
// like a reply, must not be handed out as the answer to the next request.
TEST(ReplyStream, NothingIsReadAfterAnError) {
    const std::string announcement = "99999999\x02";
    CutStream source(announcement + frame("ok"), {announcement.size()});
    const ReplyStream::Read read = source.reader();
    ReplyStream replies;
    for (int attempt = 0; attempt < 3; ++attempt) {
        SCOPED_TRACE(attempt);
        try {
            ADD_FAILURE() << "read " << replies.next(read);
        } catch (const ComError& e) {
            EXPECT_EQ(e.number(), 6);
        }
    }
}
