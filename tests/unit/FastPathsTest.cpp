// The shortcuts taken for speed: the block-wise run copier (every start, length and page
// position against a plain copy), text formatted onto itself, the detail length the
// formatter reports for the frames, and the frames' text when a %c put a 0 in a detail.
#include "RecordingPlatform.h"

#include "KVZDebugLib/KVZDebugLib.h"
#include "KVZDebugLib/text/Format.h"
#include "KVZDebugLib/text/Utf.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <random>

#include <cstring>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace {

using Text = std::u16string;

size_t FormatMeasured(KVZChar *buffer, size_t capacity, size_t *stringLength, const KVZChar *format,
                      ...) {
    va_list args;
    va_start(args, format);
    size_t length = kvz::FormatTextV(buffer, capacity, format, args, stringLength);
    va_end(args);
    return length;
}

// A text of `count` units that never repeats a unit within 8, so a misplaced block shows.
Text Pattern(size_t count) {
    Text text;
    for (size_t i = 0; i < count; ++i) {
        text.push_back(static_cast<KVZChar>(u'A' + (i * 7) % 26 + (i / 26) % 3 * 0x100));
    }
    return text;
}

TEST(FastPaths, RunsOfEveryLengthFromEveryStartCopyExactly) {
    std::vector<KVZChar> storage(600, 0);
    for (size_t start = 0; start < 40; ++start) {
        for (size_t length = 0; length <= 140; ++length) {
            for (KVZChar end : {KVZChar(0), KVZChar(u'%')}) {
                Text run = Pattern(length);
                KVZChar *format = storage.data() + start;
                std::copy(run.begin(), run.end(), format);
                format[length] = end;
                format[length + 1] = end == u'%' ? u'%' : 0;
                format[length + 2] = 0;
                for (size_t i = length + 3; i < length + 80 && start + i < storage.size(); ++i) {
                    format[i] = u'z'; // text past the terminator must not show
                }
                KVZChar out[400];
                size_t got = kvz::FormatText(out, 400, format);
                Text expected = end == u'%' ? run + u"%" : run;
                ASSERT_EQ(Text(out, got), expected) << "start " << start << " length " << length;
                // As a string argument too, with and without a precision.
                format[length] = 0;
                got = kvz::FormatText(out, 400, u"<%s>", format);
                ASSERT_EQ(Text(out, got), u"<" + run + u">") << start << " " << length;
                got = kvz::FormatText(out, 400, u"%.*s", static_cast<int>(length / 2), format);
                ASSERT_EQ(Text(out, got), run.substr(0, length / 2));
            }
        }
    }
}

TEST(FastPaths, RunsCutByTheRoomStopAtTheRoom) {
    Text run = Pattern(100);
    for (size_t capacity = 1; capacity <= 90; ++capacity) {
        std::vector<KVZChar> out(capacity + 40, 0x5A5A);
        size_t got = kvz::FormatText(out.data(), capacity, u"%s", run.c_str());
        ASSERT_EQ(Text(out.data(), got), run.substr(0, capacity - 1));
        for (size_t i = capacity; i < out.size(); ++i) {
            ASSERT_EQ(out[i], 0x5A5A) << "written past the capacity " << capacity;
        }
    }
}

// Three pages, the last unreadable: texts that cross from the first page into the second
// at every offset, and texts whose terminator is the very last readable unit.
TEST(FastPaths, RunsAcrossAndUpToAPageEnd) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void *map = mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(map, MAP_FAILED);
    char *base = static_cast<char *>(map);
    ASSERT_EQ(mprotect(base + 2 * page, page, PROT_NONE), 0);
    KVZChar out[200];
    for (size_t before = 0; before <= 40; ++before) {
        for (size_t length : {before, before + 1, before + 9, before + 40, before + 70}) {
            Text run = Pattern(length);
            KVZChar *across = reinterpret_cast<KVZChar *>(base + page) - before;
            std::copy(run.begin(), run.end(), across);
            across[length] = 0;
            size_t got = kvz::FormatText(out, 200, u"%s", across);
            ASSERT_EQ(Text(out, got), run) << before << " " << length;
            got = kvz::FormatText(out, 200, across);
            ASSERT_EQ(Text(out, got), run) << before << " " << length;

            KVZChar *atEnd = reinterpret_cast<KVZChar *>(base + 2 * page) - length - 1;
            std::copy(run.begin(), run.end(), atEnd);
            atEnd[length] = 0;
            got = kvz::FormatText(out, 200, u"%s", atEnd);
            ASSERT_EQ(Text(out, got), run) << "ending at the page " << length;
            got = kvz::FormatText(out, 200, atEnd);
            ASSERT_EQ(Text(out, got), run) << "ending at the page " << length;
        }
    }
    munmap(map, 3 * page);
}

// A hook may hand MessageBuffer back to _DebugOutput as its format: the text is read
// from the buffer it is written to, and must come out as a plain forward copy makes it.
TEST(FastPaths, AFormatReadFromItsOwnBufferComesOutWhole) {
    for (size_t length : {0u, 3u, 8u, 17u, 40u, 100u}) {
        Text tail = Pattern(length);
        KVZChar buffer[300];
        Text format = u"ab%%" + tail + u"%%" + tail;
        std::copy(format.begin(), format.end(), buffer);
        buffer[format.size()] = 0;
        size_t got = kvz::FormatText(buffer, 300, buffer);
        EXPECT_EQ(Text(buffer, got), u"ab%" + tail + u"%" + tail) << length;
    }
}

TEST(FastPaths, TheReportedStringLengthStopsAtAZeroFromPercentC) {
    KVZChar buffer[64];
    size_t string = 99;
    EXPECT_EQ(FormatMeasured(buffer, 64, &string, u"abc%d", 12), 5u);
    EXPECT_EQ(string, 5u);
    EXPECT_EQ(FormatMeasured(buffer, 64, &string, u"a%cbc", 0), 4u);
    EXPECT_EQ(string, 1u);
    EXPECT_EQ(FormatMeasured(buffer, 64, &string, u"a%3cb", 0), 5u) << "a, two spaces, 0, b";
    EXPECT_EQ(string, 3u);
    EXPECT_EQ(FormatMeasured(buffer, 64, &string, u"x%Cy%c", 0, 0), 4u);
    EXPECT_EQ(string, 1u);
    EXPECT_EQ(FormatMeasured(buffer, 64, &string, u"%c", 0x10000), 1u) << "only the low unit";
    EXPECT_EQ(string, 0u);
    EXPECT_EQ(FormatMeasured(buffer, 4, &string, u"ab%cdef", 0), 3u) << "cut after the 0";
    EXPECT_EQ(string, 2u);
    EXPECT_EQ(FormatMeasured(buffer, 3, &string, u"abcdef"), 2u);
    EXPECT_EQ(string, 2u);
    EXPECT_EQ(FormatMeasured(nullptr, 3, &string, u"abc"), 0u);
    EXPECT_EQ(string, 0u);
}

class FastPathReports : public ::testing::Test {
  protected:
    void SetUp() override { kvz::recording::Reset(); }
    void TearDown() override { kvz::recording::Reset(); }
    static Text LastBox() {
        auto events = kvz::recording::Events();
        return events.empty() ? Text(u"(none)") : Text(events.back().text);
    }
};

// The frame copies the detail as a string: up to a 0 that %c put into it, and then the
// frame's own closing text follows.
TEST_F(FastPathReports, AZeroInTheDetailEndsTheDetailNotTheFrame) {
    _WarnRelease(u"f.cpp", 7, u"ab%ccd", 0);
    EXPECT_EQ(LastBox(), u"f.cpp, line 7 : ab\n Press OK to continue or CANCEL to report this "
                         u"error.");
    _WarnDebug(u"f.cpp", 8, u"%c", 0);
    EXPECT_EQ(LastBox(), u"f.cpp, line 8 : \n Press OK to continue or CANCEL to debug.");
    _WarnFinal(u"x%cy", 0);
    EXPECT_EQ(LastBox(), u"x\n Press OK to continue.");
}

TEST_F(FastPathReports, AFullDetailReachesTheFrameWhole) {
    Text detail = Pattern(763);
    _WarnFinal(u"%s", detail.c_str());
    EXPECT_EQ(LastBox(), detail + u"\n Press OK to continue.");
}

// The output's converter against the plain one: ASCII runs of every length, broken by
// characters of every UTF-8 length, pairs and lone surrogates, in pieces of every size.
TEST(FastPaths, TerminatedConversionMatchesThePlainOne) {
    const std::vector<Text> breaks = {u"\u00e9", u"\u20ac", u"\U0001F600", Text(1, 0xD800),
                                      Text(1, 0xDC00)};
    for (size_t run = 0; run <= 40; ++run) {
        for (const Text &odd : breaks) {
            Text text = Pattern(run) + odd + Pattern(run / 2) + odd + Pattern(9);
            std::string expected(text.size() * 3, '\0');
            expected.resize(
                kvz::Utf16ToUtf8(text.data(), text.size(), expected.data(), expected.size()));
            for (size_t capacity : {4, 7, 8, 13, 16, 17, 31, 4096}) {
                std::string got;
                const KVZChar *at = text.c_str();
                while (*at != 0) {
                    char piece[4096];
                    size_t bytes = kvz::TerminatedUtf16ToUtf8(at, piece, capacity);
                    ASSERT_GT(bytes, 0u) << "no progress";
                    ASSERT_LE(bytes, capacity);
                    got.append(piece, bytes);
                    // A piece ends between characters: never between the units of a pair.
                    ASSERT_FALSE(at[0] >= 0xDC00 && at[0] <= 0xDFFF && at > text.c_str() &&
                                 at[-1] >= 0xD800 && at[-1] <= 0xDBFF);
                }
                ASSERT_EQ(got, expected) << "run " << run << " capacity " << capacity;
            }
        }
    }
}

// %g in fixed notation is made from the formatter's own exact digits: every value and
// precision, ties and the carries that change the exponent included, must come out as the
// C library's snprintf makes it.
TEST(FastPaths, GeneralNotationAgreesWithTheCLibrary) {
    std::vector<double> values = {0.0,       1e-4,     9.99995e-5, 0.0001234,   0.5,        1.0,
                                  2.5,       999999.5, 999999.4,   99999.95,    123456.789, 1e5,
                                  1e6,       0.1,      0.3,        1.0 / 3,     2.0 / 3,    0.00025,
                                  9.9999e-5, 1e-5,     12345678.0, 0.099999999, 5e-324,     1e300};
    std::mt19937_64 random(20251208);
    for (int i = 0; i < 20000; ++i) {
        // Decimal-looking values of every size around the fixed range, and any bits.
        double mantissa = static_cast<double>(random() % 10000000) / 1000.0;
        values.push_back(mantissa * std::pow(10.0, static_cast<int>(random() % 12) - 7));
        double any = std::bit_cast<double>(random() & ~(uint64_t{1} << 63));
        if (std::isfinite(any)) {
            values.push_back(std::fmod(any, 1e7));
        }
    }
    const char *formats[] = {"%g",   "%G",    "%.0g",  "%.1g", "%.2g",  "%.3g",   "%.6g",
                             "%.8g", "%.10g", "%.17g", "%#g",  "%#.3g", "%12.4g", "%-+12g"};
    for (const char *format : formats) {
        Text wide(format, format + strlen(format));
        for (double value : values) {
            for (double v : {value, -value}) {
                char expected[64];
                snprintf(expected, sizeof expected, format, v);
                KVZChar out[64];
                size_t length = kvz::FormatText(out, 64, wide.c_str(), v);
                ASSERT_EQ(Text(out, length), Text(expected, expected + strlen(expected)))
                    << format << " of " << std::bit_cast<uint64_t>(v);
            }
        }
    }
}

} // namespace
