// Tests of the gateway protocol codec: scrambling, tokens, header, framing and the reply reader.
#include "common/WireCodec.h"

#include <gtest/gtest.h>

#include <random>

#include "common/ComError.h"
#include "tests/support/ErrorOf.h"

namespace {

using wire::Key;

const std::string kStx(1, wire::kSeparator);
const std::string kEtx(1, wire::kTerminator);

// The rule as written, one character at a time: the block-wise implementation must agree with it.
std::string scramble_by_rule(std::string text, const Key& key, int sign) {
    size_t i = 0;
    for (char& ch : text) {
        int c = static_cast<unsigned char>(ch) + sign * key.values()[i];
        if (c < 0) c += 256;
        if (c > 255) c -= 256;
        ch = static_cast<char>(c);
        i = (i + 1) % key.size();
    }
    return text;
}

TEST(WireCodec, ScrambleShiftsEachCodeByTheKeyAndWrapsAround) {
    struct Case {
        std::string plain;
        std::string expected;
    };
    const Case cases[] = {
        {"ok", "rf"},                                  // 'o'+3, 'k'-5
        {"okay!", "rfcv$"},                            // the key restarts after four characters
        {std::string("\xFE\x01", 2), std::string("\x01\xFC", 2)},  // 254+3 wraps to 1; 1-5 wraps to 252
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.plain);
        EXPECT_EQ(wire::scrambled(c.plain, wire::initial_key()), c.expected);
        EXPECT_EQ(wire::unscrambled(c.expected, wire::initial_key()), c.plain);
    }
}

TEST(WireCodec, InitialKeyTurnsOnlyRareControlCharactersIntoTheTerminator) {
    // A request whose scrambled body holds ETX is cut in two by the gateway's receive side. Under the
    // initial key that may only happen for the codes 0, 8, 1 and 6 (one per key position), never for the
    // text a statement holds: printable characters, tab, CR, LF.
    const int expected[4] = {0, 8, 1, 6};
    for (size_t position = 0; position < 4; ++position) {
        for (int code = 0; code < 256; ++code) {
            std::string text(position + 1, 'a');
            text[position] = static_cast<char>(code);
            const bool cut = wire::scrambled(text, wire::initial_key())[position] == wire::kTerminator;
            EXPECT_EQ(cut, code == expected[position]) << "position " << position << ", code " << code;
        }
    }
}

TEST(WireCodec, BlockwiseScrambleAgreesWithTheRuleAcrossBlockBoundaries) {
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> byte(0, 255), value(-255, 255);
    for (size_t key_length : {1u, 3u, 5u, 7u, 99u, 100u}) {
        std::vector<int16_t> values;
        for (size_t i = 0; i < key_length; ++i) values.push_back(static_cast<int16_t>(value(random)));
        const Key key(values);
        for (size_t length : {1u, 1023u, 1024u, 1025u, 3001u}) {
            SCOPED_TRACE(testing::Message() << "key " << key_length << ", text " << length);
            std::string text(length, '\0');
            for (char& c : text) c = static_cast<char>(byte(random));
            std::string in_place = text;
            wire::scramble(in_place, key);
            EXPECT_EQ(in_place, scramble_by_rule(text, key, +1));
            wire::unscramble(in_place, key);
            EXPECT_EQ(in_place, text);
        }
    }
}

TEST(WireCodec, KeysOutsideTheLimitsAreRefused) {
    EXPECT_EQ(error_number([] { Key k({}); }), kErrInvalidCall);
    EXPECT_EQ(error_number([] { Key k(std::vector<int16_t>(101, 2)); }), kErrInvalidCall);
    EXPECT_EQ(error_number([] { Key k({2, 256}); }), kErrInvalidCall);
    EXPECT_EQ(error_number([] { Key k({-255, 255}); }), 0);
}

TEST(WireCodec, GetNextTakesTokensOffTheFront) {
    struct Case {
        std::string text, sep, token, rest;
    };
    const Case cases[] = {
        {"a" + kStx + "b", "", "a", "b"},      // empty separator means STX
        {"\\@", "", "", ""},                   // the empty-token marker
        {"\\@" + kStx + "x", "", "", "x"},
        {"abc", ",", "abc", ""},               // no separator: everything
        {kStx + "rest", "", "", "rest"},       // leading separator: empty token
        {kStx + kStx + "b", "", "", kStx + "b"},
        {"", "", "", ""},
        {"a::b", "::", "a", "b"},              // a separator of two characters
        {"\\@x", "", "\\@x", ""},              // only exactly "\@" is the marker
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string text = c.text, sep = c.sep;
        EXPECT_EQ(wire::GetNext(text, sep), c.token);
        EXPECT_EQ(text, c.rest);
        EXPECT_EQ(sep, c.sep.empty() ? kStx : c.sep);
    }
}

TEST(WireCodec, TokensAfterTheEndAreEmpty) {
    const std::string request = "open" + kStx + "select 1";
    std::string_view rest = request;
    EXPECT_EQ(wire::next_token(rest), "open");
    EXPECT_EQ(wire::next_token(rest), "select 1");
    EXPECT_EQ(wire::next_token(rest), "");
    EXPECT_EQ(wire::next_token(rest), "");
}

TEST(WireCodec, FirstMessageCarriesTheHeaderAndItsRequest) {
    // The client's side: header for five values, then "open", all scrambled with the initial key.
    const Key key({3, -10, 0, 7, -4});
    const std::string request = "open" + kStx + "select * from t" + kStx + "1" + kStx + "3";
    const std::string header = wire::make_header(true, key);
    EXPECT_EQ(header, "1" + kStx + " 10" + kStx + " 3" + kStx + "-10" + kStx + " 0" + kStx + " 7" + kStx + "-4" + kStx);
    const std::string message = wire::frame_request(wire::scrambled(header + request, wire::initial_key()));
    ASSERT_EQ(message.back(), wire::kTerminator);

    // The gateway's side.
    const std::string plain = wire::unscrambled(std::string_view(message).substr(0, message.size() - 1),
                                                wire::initial_key());
    std::string_view rest = plain;
    const wire::Header parsed = wire::read_header(rest);
    EXPECT_TRUE(parsed.acknowledge);
    EXPECT_EQ(parsed.key, key);
    EXPECT_EQ(rest, request);
}

TEST(WireCodec, HeaderFieldsAreReadWithTheIntegerConversion) {
    struct Case {
        std::string header;
        int32_t error;                // 0: accepted
        bool acknowledge;
        std::vector<int16_t> key;
    };
    const Case cases[] = {
        {"0" + kStx + "4" + kStx + "5" + kStx + "6" + kStx, 0, false, {5, 6}},
        {"2" + kStx + "3" + kStx + "5" + kStx + "6" + kStx, 0, false, {5, 6}},   // 3/2 rounds to even: 2
        {"1" + kStx + "5" + kStx + "5" + kStx + "6" + kStx, 0, true, {5, 6}},    // 5/2 rounds to even: 2
        {"1" + kStx + " 2 " + kStx + " -3" + kStx, 0, true, {-3}},               // blanks allowed
        {"x" + kStx + "2" + kStx + "5" + kStx, kErrTypeMismatch, false, {}},
        {"1" + kStx + "2" + kStx + "300" + kStx, kErrInvalidCall, false, {}},    // outside -255..255
        {"1" + kStx + "2" + kStx + "40000" + kStx, kErrOverflow, false, {}},
        {"1" + kStx + "0" + kStx, kErrInvalidCall, false, {}},                   // no key values
        {"1" + kStx + "400" + kStx, kErrInvalidCall, false, {}},                 // 200 values
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        std::string_view rest = c.header;
        if (c.error != 0) {
            EXPECT_EQ(error_number([&] { wire::read_header(rest); }), c.error);
            continue;
        }
        const wire::Header h = wire::read_header(rest);
        EXPECT_EQ(h.acknowledge, c.acknowledge);
        EXPECT_EQ(h.key.values(), c.key);
    }
}

TEST(WireCodec, ReplyReaderCutsRepliesWhateverTheReadSizes) {
    // Bodies with STX and ETX inside: only the length delimits them.
    const std::vector<std::string> bodies = {"ok", "", "a" + kEtx + "b" + kStx + "c", std::string(1500, 'x')};
    std::string stream;
    for (const std::string& b : bodies) stream += wire::frame_reply(b);
    EXPECT_EQ(wire::frame_reply("ok"), "2" + kStx + "ok" + kEtx);

    for (size_t chunk : {1u, 2u, 3u, 7u, 1000u, 100000u}) {
        SCOPED_TRACE(chunk);
        wire::ReplyReader reader;
        std::vector<std::string> got;
        for (size_t at = 0; at < stream.size(); at += chunk) {
            reader.feed(std::string_view(stream).substr(at, chunk));
            while (auto body = reader.next()) got.push_back(*body);
        }
        EXPECT_EQ(got, bodies);
        EXPECT_EQ(reader.buffered(), 0u);
    }
}

TEST(WireCodec, ReplyReaderAsksForExactlyTheRestOfAReply) {
    wire::ReplyReader reader;
    EXPECT_EQ(reader.wanted(), 1u);
    reader.feed("1");
    EXPECT_EQ(reader.wanted(), 1u);
    reader.feed("0" + kStx + "abc");
    EXPECT_EQ(reader.wanted(), 8u);  // seven body characters and ETX
    reader.feed("defghij" + kEtx);
    EXPECT_EQ(reader.next(), "abcdefghij");
}

TEST(WireCodec, MalformedRepliesAreRefusedBeforeMemoryGrows) {
    const std::string cases[] = {
        "x2" + kStx + "ok" + kEtx,            // not a length
        kStx + "ok" + kEtx,                   // no digits at all
        "2" + kStx + "okX",                   // no terminator after the body
        "99999999999" + kStx,                 // eleven digits
        "12345678901234567890",               // digits with no end in sight
        "2000" + kStx,                        // more than the reader allows
    };
    for (const std::string& c : cases) {
        SCOPED_TRACE(c);
        wire::ReplyReader reader(1000);
        reader.feed(c);
        EXPECT_THROW(reader.next(), ComError);
    }
}

}  // namespace
