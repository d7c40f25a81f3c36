// UTF-16 to UTF-8 for text leaving the library, and UTF-8 narrow arguments coming in.
#include "KVZDebugLib/text/Utf.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Text = std::basic_string<KVZChar>;

std::string ToUtf8(const Text &text, size_t capacity) {
    std::vector<char> out(capacity + 4, '#');
    size_t written = kvz::Utf16ToUtf8(text.data(), text.size(), out.data(), capacity);
    EXPECT_LE(written, capacity);
    for (size_t i = capacity; i < out.size(); ++i) {
        EXPECT_EQ(out[i], '#') << "written past the capacity";
    }
    return std::string(out.data(), written);
}

TEST(Utf16ToUtf8, EncodesAndReplacesUnpairedSurrogates) {
    struct Case {
        std::vector<KVZChar> units;
        std::string expected;
    };
    const Case cases[] = {
        {{'a', 'b'}, "ab"},
        {{0xE9}, "\xC3\xA9"},
        {{0x7FF, 0x800}, "\xDF\xBF\xE0\xA0\x80"},
        {{0xFFFF}, "\xEF\xBF\xBF"},
        {{0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},
        {{0xDBFF, 0xDFFF}, "\xF4\x8F\xBF\xBF"},
        {{'a', 0xD83D}, "a\xEF\xBF\xBD"}, // high at the end
        {{0xD83D, 'b'},
         "\xEF\xBF\xBD"
         "b"},                                          // high before a non-surrogate
        {{0xDE00, 0xD83D}, "\xEF\xBF\xBD\xEF\xBF\xBD"}, // the pair backwards
        {{0xD83D, 0xD83D, 0xDE00}, "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
        {{0, 'x'}, std::string("\0x", 2)}, // a count, not a terminator, ends the text
    };
    for (const Case &test : cases) {
        Text text(test.units.begin(), test.units.end());
        EXPECT_EQ(ToUtf8(text, 64), test.expected) << test.expected;
    }
}

TEST(Utf16ToUtf8, ACharacterThatDoesNotFitWholeIsNotWritten) {
    const Text text = {'a', 0xE9, 0x20AC, 0xD83D, 0xDE00, 'z'}; // 1 + 2 + 3 + 4 + 1 bytes
    const std::string whole = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";
    const size_t ends[] = {0, 1, 3, 6, 10, 11}; // where whole characters end
    for (size_t capacity = 0; capacity <= whole.size(); ++capacity) {
        size_t keep = 0;
        for (size_t end : ends) {
            if (end <= capacity) {
                keep = end;
            }
        }
        EXPECT_EQ(ToUtf8(text, capacity), whole.substr(0, keep)) << "capacity " << capacity;
    }
    EXPECT_EQ(kvz::Utf16ToUtf8(nullptr, 5, nullptr, 5), 0u);
}

#if !defined(_WIN32)
struct Decoded {
    Text text;
    size_t produced;
    bool truncated;
};

Decoded Decode(const char *bytes, size_t maxBytes, size_t capacity = 64) {
    std::vector<KVZChar> buffer(capacity + 2, 0x5A5A);
    kvz::TextSink sink = kvz::MakeTextSink(buffer.data(), capacity);
    size_t produced = kvz::PutUtf8(sink, bytes, maxBytes);
    EXPECT_EQ(buffer[capacity], 0x5A5A);
    EXPECT_EQ(produced, sink.length);
    return {Text(buffer.data(), sink.length), produced, sink.truncated};
}

TEST(PutUtf8, DecodesAndReplacesEachMalformedPiece) {
    struct Case {
        const char *bytes;
        Text expected;
    };
    const Text fffd(1, 0xFFFD);
    const Case cases[] = {
        {"plain", u"plain"},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", u"café € \U0001F600"},
        {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        {"a\x80"
         "b",
         u"a\uFFFDb"},                                   // a stray continuation byte
        {"\xC0\x80", fffd + fffd},                       // an overlong form
        {"\xE0\x80\x80", fffd + fffd + fffd},            // overlong, three bytes
        {"\xED\xA0\x80", fffd + fffd + fffd},            // a surrogate
        {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd}, // past U+10FFFF
        {"\xF5\xFF", fffd + fffd},                       // bytes UTF-8 never uses
        {"\xE2\x82"
         "x",
         fffd + u"x"},          // broken off: one U+FFFD, then the x
        {"\xF0\x9F\x98", fffd}, // broken off by the terminator
        {"\xC3", fffd},
    };
    for (const Case &test : cases) {
        EXPECT_EQ(Decode(test.bytes, SIZE_MAX).text, test.expected) << test.bytes;
    }
}

TEST(PutUtf8, StopsAtMaxBytesAndWhenTheSinkIsFull) {
    // maxBytes ends the text; a sequence it cuts short is left out.
    EXPECT_EQ(Decode("abcdef", 3).text, u"abc");
    EXPECT_EQ(Decode("ab\xC3\xA9", 3).text, u"ab");
    EXPECT_EQ(Decode("ab\xC3\xA9", 4).text, u"abé");
    EXPECT_EQ(Decode("\xF0\x9F\x98\x80", 3).text, u"");
    EXPECT_EQ(Decode("ab", 0).text, u"");
    // Nothing past maxBytes is read: the bytes after it need not be there at all.
    const char unterminated[] = {'x', 'y'};
    EXPECT_EQ(Decode(unterminated, 2).text, u"xy");

    Decoded full = Decode("abcdef", SIZE_MAX, 4);
    EXPECT_EQ(full.text, u"abc");
    EXPECT_TRUE(full.truncated);
    Decoded exact = Decode("abc", SIZE_MAX, 4);
    EXPECT_EQ(exact.text, u"abc");
    EXPECT_FALSE(exact.truncated);
    // A pair goes whole or not at all.
    Decoded pair = Decode("a\xF0\x9F\x98\x80", SIZE_MAX, 3);
    EXPECT_EQ(pair.text, u"a");
    EXPECT_TRUE(pair.truncated);
    EXPECT_EQ(Decode(nullptr, 10).produced, 0u);
}
#endif

} // namespace
