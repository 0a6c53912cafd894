// WireCodec.h: the text protocol shared by the gateway and the client library — the key, scrambling,
// tokens, the first-message header, request and reply framing, and an incremental reply reader.
//
// Everything here works on wire bytes (Windows-1252, one byte per character, see Cp1252.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wire {

constexpr char kSeparator = '\x02';   // STX: between tokens, after a reply's length, inside error entries
constexpr char kTerminator = '\x03';  // ETX: ends every message in both directions
constexpr std::string_view kEmptyToken = "\\@";  // a token of exactly these two characters reads as ""

// A scrambling key: 1 to 100 whole numbers, each within -255..255 so that one correction keeps every
// scrambled code within 0..255. Bad keys are refused with ComError 5 (a peer may announce anything).
class Key {
public:
    static constexpr size_t kMaxLength = 100;
    static constexpr int kMaxMagnitude = 255;

    explicit Key(std::vector<int16_t> values);
    const std::vector<int16_t>& values() const { return values_; }
    size_t size() const { return values_.size(); }
    bool operator==(const Key& other) const { return values_ == other.values_; }

private:
    friend void scramble(std::string&, const Key&);
    friend void unscramble(std::string&, const Key&);
    friend std::string scrambled(std::string_view, const Key&);
    friend std::string unscrambled(std::string_view, const Key&);
    static constexpr size_t kBlockTarget = 256;
    static constexpr size_t kLane = 16;  // bytes added at once (one SSE2/NEON register)

    std::vector<int16_t> values_;
    // The offsets mod 256, repeated to whole key periods of at least kBlockTarget bytes and a multiple of
    // kLane, worked out once per key: a connection scrambles every message with the same key.
    std::vector<unsigned char> add_;
    std::vector<unsigned char> subtract_;
};

// The key every connection starts with; the gateway and the client library must agree on it.
Key initial_key();

// Scramble: code + key[i] (mod 256), the key index starting at the first value for every message.
// Unscramble subtracts. Both keep the text's length.
void scramble(std::string& text, const Key& key);
void unscramble(std::string& text, const Key& key);
std::string scrambled(std::string_view text, const Key& key);
std::string unscrambled(std::string_view text, const Key& key);

// Takes the next token off `rest` (advancing it): the text before the first `sep`, or all of `rest` when
// there is none; "" once `rest` is empty; "\@" reads as "". Works in place, so splitting a long reply
// into many tokens costs time in proportion to its length.
std::string_view next_token(std::string_view& rest, std::string_view sep = std::string_view(&kSeparator, 1));

// GetNext(iStr, sep): the same on a text passed by reference; an empty `sep` is first replaced by STX
// (the caller's variable is overwritten, as callers of this routine expect).
std::string GetNext(std::string& iStr, std::string& sep);

// The header in front of a connection's first request: acknowledgement flag, then twice the key length and
// the key values, each in the signed-number text form (" 3", "-5"); every field followed by STX.
std::string make_header(bool acknowledge, const Key& key);

struct Header {
    bool acknowledge;
    Key key;
};
// Reads the header off the front of an unscrambled first message (advancing `rest` to the request).
// A header whose numbers are not whole numbers, or whose key is out of bounds, raises ComError
// (13 or 6 for bad numbers, 5 for a bad key).
Header read_header(std::string_view& rest);

// Framing: a request is its scrambled body and ETX; a reply is the body's length in decimal, STX, the
// scrambled body and ETX. The length delimits the body, which may itself contain STX and ETX.
std::string frame_request(std::string_view scrambled_body);
std::string frame_reply(std::string_view scrambled_body);

// Collects reply bytes as they arrive, in reads of any size, and hands out whole reply bodies (still
// scrambled). Copes with a length prefix split over reads and with several replies in one read. A
// malformed prefix, a length beyond max_body, or a missing terminator raises ComError: the stream is then
// lost and the caller must drop the connection.
class ReplyReader {
public:
    static constexpr size_t kDefaultMaxBody = 64u << 20;

    explicit ReplyReader(size_t max_body = kDefaultMaxBody) : max_body_(max_body) {}

    void feed(std::string_view bytes);
    std::optional<std::string> next();  // the next whole reply body, or nullopt when more bytes are needed
    size_t buffered() const { return buffer_.size() - start_; }

    // Bytes still needed before next() can return something (at least 1); a reader that pulls a socket
    // can ask for exactly that many instead of over-reading into the following reply. Raises as next()
    // does on a malformed prefix.
    size_t wanted() const;

private:
    struct Prefix {
        size_t size;    // digits and STX
        size_t length;  // body characters announced
    };
    std::optional<Prefix> body_length() const;  // parses the prefix at start_; nullopt while incomplete

    size_t max_body_;
    std::string buffer_;  // unread bytes live in buffer_[start_ ..]
    size_t start_ = 0;
};

}  // namespace wire
