// Tests of the Windows-1252 ↔ UTF-8 conversion used where text meets the wire.
#include "common/Cp1252.h"

#include <gtest/gtest.h>

namespace {

TEST(Cp1252, EveryByteSurvivesARoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(cp1252::from_utf8(cp1252::to_utf8(all)), all);
}

TEST(Cp1252, CharactersMapToOneByteEach) {
    struct Case {
        const char* utf8;
        std::string bytes;
    };
    const Case cases[] = {
        {"abc", "abc"},
        {"\xC3\xA9", "\xE9"},                 // é: Latin-1 range
        {"\xE2\x82\xAC", "\x80"},             // €: the 0x80..0x9F block
        {"\xC5\xB8", "\x9F"},                 // Ÿ
        {"\xE2\x80\x9C" "q" "\xE2\x80\x9D", "\x93q\x94"},  // curly quotes
        {"\xE6\x97\xA5", "?"},                // a character the code page lacks
        {"\xF0\x9F\x98\x80", "?"},            // four-byte sequence, one character
        {"a\xFF" "b", "a?b"},                 // malformed byte
        {"\xC3", "?"},                        // sequence cut short
        {"\xC0\xAF", "?"},                    // overlong form is not a "/"
        {"\xED\xA0\x80", "?"},                // a lone surrogate
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(cp1252::from_utf8(c.utf8), c.bytes);
    }
}

}  // namespace
