// WireCodec.cpp: key, scrambling, tokens, header and framing of the gateway protocol.
#include "common/WireCodec.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "common/ComError.h"
#include "common/Conversions.h"

namespace wire {

namespace {

constexpr const char* kSource = "WireCodec";

// Adds the key's offsets (mod 256) to `n` bytes from `in` into `out`, the key index restarting at the
// first byte. The key comes unrolled into a block of whole key periods that is a multiple of 16 bytes (see
// Key), so whole blocks are added 16 bytes at a time with the compiler's vector type. That keeps the codec
// fast at every optimisation level: left to the auto-vectoriser, GCC 12 at -O2 leaves the byte loop scalar,
// some twenty times slower. The copies through memcpy are single unaligned vector loads and stores.
void add_offsets(const char* in, char* out, size_t n, const std::vector<unsigned char>& offsets) {
    using Lane = unsigned char __attribute__((vector_size(16)));
    static_assert(sizeof(Lane) == 16);
    const size_t block = offsets.size();
    const auto* src = reinterpret_cast<const unsigned char*>(in);
    auto* dst = reinterpret_cast<unsigned char*>(out);
    const unsigned char* off = offsets.data();
    size_t done = 0;
    for (; done + block <= n; done += block)
        for (size_t i = 0; i < block; i += sizeof(Lane)) {
            Lane bytes;
            Lane key;
            std::memcpy(&bytes, src + done + i, sizeof bytes);
            std::memcpy(&key, off + i, sizeof key);
            bytes += key;
            std::memcpy(dst + done + i, &bytes, sizeof bytes);
        }
    for (size_t i = 0; done + i < n; ++i) dst[done + i] = static_cast<unsigned char>(src[done + i] + off[i]);
}

ComError protocol_error(const std::string& what) { return ComError(kErrInvalidCall, kSource, what); }

}  // namespace

Key::Key(std::vector<int16_t> values) : values_(std::move(values)) {
    if (values_.empty() || values_.size() > kMaxLength)
        throw protocol_error("a key has 1 to 100 values, not " + std::to_string(values_.size()));
    for (int16_t v : values_)
        if (v < -kMaxMagnitude || v > kMaxMagnitude)
            throw protocol_error("key value " + std::to_string(v) + " is outside -255..255");
    // Whole key periods, a multiple of kLane bytes (16 periods are), repeated to at least kBlockTarget.
    const size_t period = values_.size() * kLane;
    const size_t block = (kBlockTarget + period - 1) / period * period;
    add_.resize(block);
    subtract_.resize(block);
    for (size_t i = 0; i < block; ++i) {
        add_[i] = static_cast<unsigned char>(values_[i % values_.size()]);
        subtract_[i] = static_cast<unsigned char>(-values_[i % values_.size()]);
    }
}

// A key value k turns the code 3 - k (mod 256) into ETX, which would cut a request in two. With these
// values only the control characters 0, 8, 1 and 6 can become ETX; text, tab, CR and LF never do.
Key initial_key() { return Key({3, -5, 2, -3}); }

void scramble(std::string& text, const Key& key) { add_offsets(text.data(), text.data(), text.size(), key.add_); }
void unscramble(std::string& text, const Key& key) {
    add_offsets(text.data(), text.data(), text.size(), key.subtract_);
}

std::string scrambled(std::string_view text, const Key& key) {
    std::string out(text.size(), '\0');
    add_offsets(text.data(), out.data(), text.size(), key.add_);
    return out;
}

std::string unscrambled(std::string_view text, const Key& key) {
    std::string out(text.size(), '\0');
    add_offsets(text.data(), out.data(), text.size(), key.subtract_);
    return out;
}

std::string_view next_token(std::string_view& rest, std::string_view sep) {
    std::string_view token;
    const size_t at = sep.empty() ? std::string_view::npos : rest.find(sep);
    if (at == std::string_view::npos) {
        token = rest;
        rest = {};
    } else {
        token = rest.substr(0, at);
        rest.remove_prefix(at + sep.size());
    }
    return token == kEmptyToken ? std::string_view() : token;
}

std::string GetNext(std::string& iStr, std::string& sep) {
    if (sep.empty()) sep.assign(1, kSeparator);
    std::string_view rest = iStr;
    std::string token(next_token(rest, sep));
    iStr.erase(0, iStr.size() - rest.size());
    return token;
}

std::string make_header(bool acknowledge, const Key& key) {
    std::string header = acknowledge ? "1" : "0";
    header += kSeparator;
    header += vb::signed_text(static_cast<int64_t>(2 * key.size()));
    header += kSeparator;
    for (int16_t v : key.values()) {
        header += vb::signed_text(static_cast<int64_t>(v));
        header += kSeparator;
    }
    return header;
}

Header read_header(std::string_view& rest) {
    const auto number = [&rest] { return vb::to_int16(Variant(next_token(rest))); };
    const bool acknowledge = number() == 1;
    // The count field is twice the number of values; halves round to even as the integer conversion does.
    const double half = vb::round_half_even(number() / 2.0);
    if (half < 1 || half > Key::kMaxLength)
        throw protocol_error("the header announces " + std::to_string(static_cast<int>(half)) + " key values");
    std::vector<int16_t> values;
    for (int i = 0; i < static_cast<int>(half); ++i) values.push_back(number());
    return Header{acknowledge, Key(std::move(values))};
}

std::string frame_request(std::string_view scrambled_body) {
    std::string out;
    out.reserve(scrambled_body.size() + 1);
    out.append(scrambled_body);
    out += kTerminator;
    return out;
}

std::string frame_reply(std::string_view scrambled_body) {
    std::string out = std::to_string(scrambled_body.size());
    out.reserve(out.size() + scrambled_body.size() + 2);
    out += kSeparator;
    out.append(scrambled_body);
    out += kTerminator;
    return out;
}

void ReplyReader::feed(std::string_view bytes) {
    // Drop what was handed out before growing, so the buffer holds at most one partial reply plus a read.
    if (start_ > 0 && (start_ == buffer_.size() || start_ >= buffer_.size() / 2)) {
        buffer_.erase(0, start_);
        start_ = 0;
    }
    buffer_.append(bytes);
}

std::optional<ReplyReader::Prefix> ReplyReader::body_length() const {
    constexpr size_t kMaxDigits = 10;
    const std::string_view pending(buffer_.data() + start_, buffer_.size() - start_);
    const size_t sep = pending.substr(0, kMaxDigits + 1).find(kSeparator);
    if (sep == std::string_view::npos) {
        const size_t digits = std::min(pending.size(), kMaxDigits + 1);
        if (!std::all_of(pending.begin(), pending.begin() + digits, [](char c) { return c >= '0' && c <= '9'; }))
            throw protocol_error("a reply does not start with its length");
        if (digits > kMaxDigits) throw protocol_error("a reply's length prefix is too long");
        return std::nullopt;
    }
    size_t length = 0;
    const auto [end, ec] = std::from_chars(pending.data(), pending.data() + sep, length);
    if (sep == 0 || ec != std::errc() || end != pending.data() + sep)
        throw protocol_error("a reply does not start with its length");
    if (length > max_body_)
        throw protocol_error("a reply announces " + std::to_string(length) + " characters, more than the " +
                             std::to_string(max_body_) + " allowed");
    return Prefix{sep + 1, length};
}

std::optional<std::string> ReplyReader::next() {
    const std::optional<Prefix> p = body_length();
    if (!p || buffered() < p->size + p->length + 1) return std::nullopt;
    if (buffer_[start_ + p->size + p->length] != kTerminator) throw protocol_error("a reply does not end with ETX");
    std::string body = buffer_.substr(start_ + p->size, p->length);
    start_ += p->size + p->length + 1;
    return body;
}

size_t ReplyReader::wanted() const {
    const std::optional<Prefix> p = body_length();
    const size_t whole = p ? p->size + p->length + 1 : buffered() + 1;
    return whole > buffered() ? whole - buffered() : 1;
}

}  // namespace wire
