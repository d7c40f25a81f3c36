// The bounded wide formatter: each conversion, flag and modifier, the outcomes chosen for
// odd input, cutting at the end of the buffer, and agreement with the C library's
// swprintf wherever the two share a convention.
#include "KVZDebugLib/text/Format.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/mman.h>
#include <unistd.h>
#include <wchar.h>
#endif

namespace {

using Text = std::basic_string<KVZChar>;
#define K(s) KVZ_TEXT(s)

constexpr KVZChar kGuard = 0x5A5A;

// Formats into a buffer of `capacity` units followed by guard units, and checks what
// every call must hold: nothing written past the capacity, the text terminated, and the
// returned length that of the text.
template <class... A> Text FormatCut(size_t capacity, const KVZChar *format, A... args) {
    std::vector<KVZChar> buffer(capacity + 8, kGuard);
    size_t length = kvz::FormatText(buffer.data(), capacity, format, args...);
    for (size_t i = capacity; i < buffer.size(); ++i) {
        EXPECT_EQ(buffer[i], kGuard) << "written past the capacity at " << i;
    }
    if (capacity == 0) {
        EXPECT_EQ(length, 0u);
        return Text();
    }
    EXPECT_LT(length, capacity);
    EXPECT_EQ(buffer[length], 0) << "not terminated at the returned length";
    return Text(buffer.data(), length);
}

template <class... A> Text Format(const KVZChar *format, A... args) {
    return FormatCut(1024, format, args...);
}

Text Repeat(KVZChar unit, size_t count) {
    return Text(count, unit);
}

Text ToText(const std::string &ascii) {
    return Text(ascii.begin(), ascii.end());
}

TEST(FormatText, IntegerConversionsFlagsWidthAndPrecision) {
    EXPECT_EQ(Format(K("%d|%i|%d"), 0, INT_MAX, INT_MIN), K("0|2147483647|-2147483648"));
    EXPECT_EQ(Format(K("%u|%o|%x|%X"), UINT_MAX, 8u, 0xdeadbeefu, 0xdeadbeefu),
              K("4294967295|10|deadbeef|DEADBEEF"));
    EXPECT_EQ(Format(K("%+d|% d|%+ d|%+d|% d"), 5, 5, 5, -5, -5), K("+5| 5|+5|-5|-5"));
    EXPECT_EQ(Format(K("%+u|% x"), 5u, 5u), K("5|5")); // signs only for signed conversions
    EXPECT_EQ(Format(K("%5d|%-5d|%05d|%-05d|"), 42, 42, -42, -42), K("   42|42   |-0042|-42  |"));
    EXPECT_EQ(Format(K("%5.3d|%05.3d|%.3d|%+.3d"), 7, 7, -7, 7), K("  007|  007|-007|+007"));
    EXPECT_EQ(Format(K("[%.0d][%5.0d][%.0x][%+.0d]"), 0, 0, 0u, 0), K("[][     ][][+]"));
    EXPECT_EQ(Format(K("%#x|%#X|%#x|%#08x|%#.5x"), 255u, 255u, 0u, 255u, 255u),
              K("0xff|0XFF|0|0x0000ff|0x000ff"));
    EXPECT_EQ(Format(K("%#o|%#o|%#.0o|%#.3o|%#5o"), 8u, 0u, 0u, 8u, 8u), K("010|0|0|010|  010"));
}

TEST(FormatText, LengthModifiersReadTheirOwnSize) {
    EXPECT_EQ(Format(K("%hhd|%hhd|%hhu|%hhx"), 300, 200, 300, -1), K("44|-56|44|ff"));
    EXPECT_EQ(Format(K("%hd|%hu|%hx"), 70000, -1, 0x12345), K("4464|65535|2345"));
    EXPECT_EQ(Format(K("%ld|%lu"), LONG_MIN, ULONG_MAX),
              Format(K("%lld|%llu"), static_cast<long long>(LONG_MIN),
                     static_cast<unsigned long long>(ULONG_MAX)));
    EXPECT_EQ(Format(K("%lld|%llu|%llx"), static_cast<long long>(INT64_MIN),
                     static_cast<unsigned long long>(UINT64_MAX), 0x123456789abcdefULL),
              K("-9223372036854775808|18446744073709551615|123456789abcdef"));
    EXPECT_EQ(Format(K("%Ld|%jd|%ju"), -5LL, static_cast<intmax_t>(INT64_MIN),
                     static_cast<uintmax_t>(UINT64_MAX)),
              K("-5|-9223372036854775808|18446744073709551615"));
    EXPECT_EQ(Format(K("%zd|%td|%zx"), static_cast<ptrdiff_t>(-3), static_cast<ptrdiff_t>(-4),
                     static_cast<size_t>(0xabc)),
              K("-3|-4|abc"));
    EXPECT_EQ(Format(K("%I64d|%I64u|%I64X"), static_cast<int64_t>(INT64_MIN),
                     static_cast<uint64_t>(UINT64_MAX), static_cast<uint64_t>(0xABCDEF0123ULL)),
              K("-9223372036854775808|18446744073709551615|ABCDEF0123"));
    EXPECT_EQ(Format(K("%I32d|%I32u|%I32x"), INT32_MIN, UINT32_MAX, -1),
              K("-2147483648|4294967295|ffffffff"));
    EXPECT_EQ(Format(K("%Id|%Iu"), static_cast<ptrdiff_t>(-1), static_cast<size_t>(7)), K("-1|7"));
    // The argument after each one is read from the right place only if each took its size.
    EXPECT_EQ(Format(K("%I64d %d|%Id %d|%I32d %d|%lld %d|%zu %d|%hhd %d"), int64_t{1} << 40, 1,
                     static_cast<ptrdiff_t>(-2), 2, 3, 3, 1LL << 33, 4, static_cast<size_t>(5), 5,
                     6, 6),
              K("1099511627776 1|-2 2|3 3|8589934592 4|5 5|6 6"));
    EXPECT_EQ(Format(K("%wd"), 9), K("9")); // w means nothing to an integer
}

TEST(FormatText, StarTakesWidthAndPrecisionFromTheArguments) {
    EXPECT_EQ(Format(K("%*d|%*d|%-*d|"), 5, 42, -5, 42, -5, 42), K("   42|42   |42   |"));
    EXPECT_EQ(Format(K("%.*d|%.*d|%.*d"), 3, 7, -1, 7, -1, 0), K("007|7|0"));
    EXPECT_EQ(Format(K("%*.*d|%*.*s|"), 6, 3, -7, -4, 2, K("wide")), K("  -007|wi  |"));
    EXPECT_EQ(Format(K("%0*d"), 5, -3), K("-0003"));
}

// Digits after a * width replace what it gave, and its argument is still taken, as the
// Universal CRT reads them; a negative * width still asks for left justification. After a
// * precision they make the conversion unknown, as there.
TEST(FormatText, DigitsAfterAStarWidthReplaceWhatItGave) {
    struct Row {
        const KVZChar *format;
        int star, value;
        const KVZChar *expected;
    };
    const Row rows[] = {
        {K("%0*2d|"), 1, 3, K("03|")},    {K("%*0d|"), 1, 2, K("2|")},
        {K("% *2d|"), 0, 7, K(" 7|")},    {K("%*3d|"), -9, 4, K("4  |")},
        {K("%.*3d|"), 1, 5, K("%.*3d|")},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(Format(row.format, row.star, row.value), row.expected);
    }
}

TEST(FormatText, Characters) {
    EXPECT_EQ(Format(K("%c|%3c|%-3c|%03c|%.0c"), 'A', 'A', 'A', 'A', 'A'), K("A|  A|A  |00A|A"));
    EXPECT_EQ(Format(K("%lc%wc%lC%wC"), 0x263A, 0x263B, 0x263C, 0x2603),
              K("\u263A\u263B\u263C\u2603"));
    EXPECT_EQ(Format(K("%C|%hc|%3C"), 'q', 'r', 's'), K("q|r|  s"));
    // A 16-bit character: what does not fit 16 bits is not there.
    EXPECT_EQ(Format(K("%c"), 0x1F600), Text(1, static_cast<KVZChar>(0xF600)));
    // A zero character is a unit of the text, as in the C runtimes.
    const KVZChar withZero[] = {'a', 0, 'b', 0, 'c'};
    EXPECT_EQ(Format(K("a%cb%Cc"), 0, 0), Text(withZero, 5));
#if !defined(_WIN32)
    EXPECT_EQ(Format(K("%hc"), 0xE9), K("\uFFFD")); // a lone byte >= 0x80 is not UTF-8
#endif
}

TEST(FormatText, WideAndNarrowStrings) {
    EXPECT_EQ(Format(K("%s|%ls|%ws|%lS|%wS"), K("a"), K("b"), K("c"), K("d"), K("e")),
              K("a|b|c|d|e"));
    EXPECT_EQ(Format(K("%S|%hs|%hS"), "nar", "row", "ok"), K("nar|row|ok"));
    EXPECT_EQ(Format(K("%6s|%-6s|%06s|%.2s|%6.2s|%-6.2s|%.0s|%.10s"), K("wide"), K("wide"),
                     K("wide"), K("wide"), K("wide"), K("wide"), K("wide"), K("wide")),
              K("  wide|wide  |00wide|wi|    wi|wi    ||wide"));
    EXPECT_EQ(Format(K("%6S|%-6S|%06S|%.2S|%6.2S|%-6.2S|%.0S"), "nrw", "nrw", "nrw", "nrw", "nrw",
                     "nrw", "nrw"),
              K("   nrw|nrw   |000nrw|nr|    nr|nr    |"));
    const KVZChar *noText = nullptr;
    const char *noNarrow = nullptr;
    EXPECT_EQ(
        Format(K("%s|%.3s|%8s|%-8s|%S|%.2S"), noText, noText, noText, noText, noNarrow, noNarrow),
        K("(null)|(nu|  (null)|(null)  |(null)|(n"));
#if !defined(_WIN32)
    EXPECT_EQ(Format(K("%S|%S|%S"), "caf\xC3\xA9", "\xF0\x9F\x98\x80",
                     "a\xFF"
                     "b"),
              K("café|\U0001F600|a\uFFFDb"));
    // Width and precision count bytes of a narrow text; a character the precision cuts is
    // left out.
    EXPECT_EQ(
        Format(K("%7S|%-7S|%.4S|%.5S"), "caf\xC3\xA9", "caf\xC3\xA9", "caf\xC3\xA9", "caf\xC3\xA9"),
        K("  café|café  |caf|café"));
#endif
}

TEST(FormatText, FloatingPoint) {
    EXPECT_EQ(Format(K("%f|%.2f|%e|%E|%g|%G"), 3.14159, 2.675, 12345.678, 1e-10, 1e-5, 1e100),
              K("3.141590|2.67|1.234568e+04|1.000000E-10|1e-05|1E+100"));
    EXPECT_EQ(Format(K("%08.2f|%+08.2f|%-8.2f|% .1f|%#.0f|%#g"), -3.14159, 3.14159, 3.14159, 2.0,
                     3.0, 2.0),
              K("-0003.14|+0003.14|3.14    | 2.0|3.|2.00000"));
    EXPECT_EQ(Format(K("%f|%.0e|%g"), -0.0, -0.0, -0.0), K("-0.000000|-0e+00|-0"));
    EXPECT_EQ(Format(K("%F|%.1F"), 1.5, 1e20), K("1.500000|100000000000000000000.0"));
    // Every double prints whole in %f, the largest too.
    Text largest = Format(K("%.0f"), DBL_MAX);
    EXPECT_EQ(largest.size(), 309u);
    EXPECT_EQ(largest.substr(0, 6), K("179769"));
#if !defined(_WIN32)
    EXPECT_EQ(Format(K("%a|%A|%010a|%.1a|%-12a|"), 1.0, 255.0, 1.0, 1.0, -1.0),
              K("0x1p+0|0X1.FEP+7|0x00001p+0|0x1.0p+0|-0x1p+0     |"));
    EXPECT_EQ(Format(K("%Lf|%.3Le|%Lg"), 1.5L, 1e4000L, 0.25L), K("1.500000|1.000e+4000|0.25"));
#endif
}

// The choices that differ on purpose from C99 runtimes, or from the old Windows runtime.
TEST(FormatText, InfinityAndNanAreC99WordsWithTheirSign) {
    const double inf = INFINITY;
    const double nan = NAN;
    EXPECT_EQ(Format(K("%f|%F|%e|%E|%g|%G|%a|%A"), inf, inf, -inf, -inf, inf, inf, inf, inf),
              K("inf|INF|-inf|-INF|inf|INF|inf|INF"));
    EXPECT_EQ(Format(K("%f|%F|%f|%+f|% f|%+f"), nan, nan, -nan, nan, nan, inf),
              K("nan|NAN|-nan|+nan| nan|+inf"));
    // The 0 flag pads them with spaces: zeros before a word mean nothing.
    EXPECT_EQ(Format(K("%08f|%-6f|%06.2e|"), inf, nan, -inf), K("     inf|nan   |  -inf|"));
}

TEST(FormatText, ExponentsHaveTwoDigitsWhenTwoAreEnough) {
    EXPECT_EQ(Format(K("%e|%E|%.0e|%g|%e|%e"), 1e5, 1e-7, 5.0, 1e-300, 1e100, 0.0),
              K("1.000000e+05|1.000000E-07|5e+00|1e-300|1.000000e+100|0.000000e+00"));
}

TEST(FormatText, FloatPrecisionIsCappedAtAHundredDigits) {
    EXPECT_EQ(Format(K("%.150f"), 1.0), K("1.") + Repeat('0', 100));
    EXPECT_EQ(Format(K("%.*f|"), INT_MAX, 0.5), K("0.5") + Repeat('0', 99) + K("|"));
    EXPECT_EQ(Format(K("%.200e"), 1.0), K("1.") + Repeat('0', 100) + K("e+00"));
    EXPECT_EQ(Format(K("%.100f"), 0.25), K("0.25") + Repeat('0', 98));
#if !defined(_WIN32)
    // A long double too long for the digit buffer shows what fits and ends the text.
    Text huge = Format(K("%Lf|after"), 1e4000L);
    char digits[5000];
    ASSERT_GT(snprintf(digits, sizeof digits, "%Lf", 1e4000L), 4000);
    EXPECT_EQ(huge, ToText(std::string(digits, 511)));
    EXPECT_EQ(huge.find('|'), Text::npos);
#endif
}

TEST(FormatText, PointersAsTheWindowsRuntimePrintsThem) {
    const size_t digits = 2 * sizeof(void *);
    EXPECT_EQ(Format(K("%p"), static_cast<void *>(nullptr)), Repeat('0', digits));
    void *p = reinterpret_cast<void *>(static_cast<uintptr_t>(0x1234abcdu));
    Text shown = Repeat('0', digits - 8) + K("1234ABCD");
    EXPECT_EQ(Format(K("%p"), p), shown);
    EXPECT_EQ(Format(K("%20p|%-20p|%p %d"), p, p, p, 7), Repeat(' ', 20 - digits) + shown + K("|") +
                                                             shown + Repeat(' ', 20 - digits) +
                                                             K("|") + shown + K(" 7"));
}

TEST(FormatText, PercentNWritesNothingButTakesItsArgument) {
    int target = 12345;
    long long wide = 777;
    signed char small = 9;
    EXPECT_EQ(Format(K("a%nb%d|%lln%hhn%d"), &target, 7, &wide, &small, 8), K("ab7|8"));
    EXPECT_EQ(target, 12345);
    EXPECT_EQ(wide, 777);
    EXPECT_EQ(small, 9);
}

TEST(FormatText, PercentSignAndUnknownConversions) {
    EXPECT_EQ(Format(K("100%%|%5%|%-5%|")), K("100%|%|%|"));
    // An unknown conversion shows as it stands, and the arguments go on where they were.
    EXPECT_EQ(Format(K("a%yb|%-08.3y|%k%d|%ll!|%I3d|%Z"), 7), K("a%yb|%-08.3y|%k7|%ll!|%I3d|%Z"));
    // A * in it has taken its argument.
    EXPECT_EQ(Format(K("%*y%d"), 5, 6), K("%*y6"));
}

TEST(FormatText, AnUnfinishedConversionAtTheEndPrintsNothing) {
    const KVZChar *formats[] = {K("abc%"), K("abc%-5"), K("abc%l"), K("abc%I64"), K("abc%.")};
    for (const KVZChar *format : formats) {
        EXPECT_EQ(Format(format), K("abc")) << Text(format).size();
    }
    EXPECT_EQ(Format(K("%")), K(""));
    EXPECT_EQ(Format(K("abc%.*"), 3), K("abc"));
}

TEST(FormatText, NullFormatAndNullBufferAreHarmless) {
    KVZChar buffer[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(kvz::FormatText(buffer, 8, nullptr, 1, 2), 0u);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(kvz::FormatText(nullptr, 8, K("abc%d"), 1), 0u);
    EXPECT_EQ(FormatCut(8, nullptr), K(""));
}

TEST(FormatText, CapacityZeroAndOne) {
    EXPECT_EQ(FormatCut(0, K("abc%d"), 5), K(""));
    EXPECT_EQ(FormatCut(1, K("abc%d"), 5), K(""));
    EXPECT_EQ(FormatCut(1, K("%s"), K("")), K(""));
    EXPECT_EQ(FormatCut(2, K("%d"), 5), K("5"));
}

// Whatever the format, a cut text is the first capacity - 1 units of the whole.
TEST(FormatText, ACutKeepsTheStartOfTheWholeText) {
    struct Case {
        const KVZChar *format;
        Text (*make)(size_t capacity, const KVZChar *format);
    };
    const Case cases[] = {
        {K("plain text without conversions"),
         [](size_t c, const KVZChar *f) { return FormatCut(c, f); }},
        {K("%s and %d end"),
         [](size_t c, const KVZChar *f) { return FormatCut(c, f, K("x"), -12); }},
        {K("%-8s|%08.3f|%#x|"),
         [](size_t c, const KVZChar *f) { return FormatCut(c, f, K("ab"), -1.5, 255u); }},
        {K("%*d|%.20d"), [](size_t c, const KVZChar *f) { return FormatCut(c, f, 30, 5, -6); }},
        {K("%5%%y%c%S%%"), [](size_t c, const KVZChar *f) { return FormatCut(c, f, 'c', "nar"); }},
        {K("%20s!"), [](size_t c, const KVZChar *f) { return FormatCut(c, f, K("right")); }},
        {K("%-20S!"), [](size_t c, const KVZChar *f) { return FormatCut(c, f, "left"); }},
    };
    for (const Case &test : cases) {
        Text whole = test.make(1024, test.format);
        for (size_t capacity = 1; capacity <= whole.size() + 2; ++capacity) {
            size_t keep = capacity - 1 < whole.size() ? capacity - 1 : whole.size();
            EXPECT_EQ(test.make(capacity, test.format), whole.substr(0, keep))
                << "format " << Text(test.format).size() << " units, capacity " << capacity;
        }
    }
}

TEST(FormatText, ACutNeverLeavesHalfASurrogatePair) {
    const Text smile = K("\U0001F600");
    // From the format, a wide argument, a narrow argument and two characters alike.
    for (size_t capacity = 1; capacity <= 6; ++capacity) {
        Text whole = K("ab") + smile + K("c");
        size_t keep = capacity - 1 == 3 ? 2 : (capacity - 1 < 5 ? capacity - 1 : 5);
        SCOPED_TRACE(capacity);
        EXPECT_EQ(FormatCut(capacity, K("ab\U0001F600c")), whole.substr(0, keep));
        EXPECT_EQ(FormatCut(capacity, K("ab%sc"), smile.c_str()), whole.substr(0, keep));
        EXPECT_EQ(FormatCut(capacity, K("ab%cc"), 'x'), Text(K("abxc")).substr(0, capacity - 1));
        EXPECT_EQ(FormatCut(capacity, K("a%c%c%cc"), 'b', 0xD83D, 0xDE00), whole.substr(0, keep));
#if !defined(_WIN32)
        EXPECT_EQ(FormatCut(capacity, K("ab%Sc"), "\xF0\x9F\x98\x80"), whole.substr(0, keep));
#endif
    }
    // A lone high surrogate that was not cut stays: only a cut drops one.
    const KVZChar lone[] = {'a', 0xD83D, 0};
    EXPECT_EQ(FormatCut(3, lone), Text(lone, 2));
    EXPECT_EQ(FormatCut(3, K("a%c"), 0xD83D), Text(lone, 2));
}

// Widths and precisions of any size cost the room left, no more: each of these would run
// for seconds per call if it were filled unit by unit.
TEST(FormatText, HugeWidthsAndPrecisionsStopAtTheBuffer) {
    struct Case {
        Text (*make)(size_t capacity);
        const KVZChar *start; // what the text begins with
        KVZChar fill;         // and what fills the rest of the buffer
    };
    const Case cases[] = {
        {[](size_t c) { return FormatCut(c, K("%1000000000d"), 5); }, K(""), ' '},
        {[](size_t c) { return FormatCut(c, K("%-1000000000d"), 5); }, K("5"), ' '},
        {[](size_t c) { return FormatCut(c, K("%.1000000000d"), 5); }, K(""), '0'},
        {[](size_t c) { return FormatCut(c, K("%01000000000d"), -5); }, K("-"), '0'},
        {[](size_t c) { return FormatCut(c, K("%99999999999999999999d"), 5); }, K(""), ' '},
        {[](size_t c) { return FormatCut(c, K("%*d"), INT_MAX, 5); }, K(""), ' '},
        {[](size_t c) { return FormatCut(c, K("%*d"), INT_MIN, 5); }, K("5"), ' '},
        {[](size_t c) { return FormatCut(c, K("%.*d"), INT_MAX, 5); }, K(""), '0'},
        {[](size_t c) { return FormatCut(c, K("%#.*x"), INT_MAX, 5u); }, K("0x"), '0'},
        {[](size_t c) { return FormatCut(c, K("%1000000000s"), K("x")); }, K(""), ' '},
        {[](size_t c) { return FormatCut(c, K("%-1000000000s"), K("x")); }, K("x"), ' '},
        {[](size_t c) { return FormatCut(c, K("%01000000000s"), K("x")); }, K(""), '0'},
        {[](size_t c) { return FormatCut(c, K("%*.*s"), INT_MAX, INT_MAX, K("x")); }, K(""), ' '},
        {[](size_t c) { return FormatCut(c, K("%1000000000S"), "x"); }, K(""), ' '},
        {[](size_t c) { return FormatCut(c, K("%-1000000000S"), "x"); }, K("x"), ' '},
        {[](size_t c) { return FormatCut(c, K("%1000000000c"), 'x'); }, K(""), ' '},
        {[](size_t c) { return FormatCut(c, K("%1000000000f"), 1.0); }, K(""), ' '},
        {[](size_t c) { return FormatCut(c, K("%-1000000000f"), 1.0); }, K("1.000000"), ' '},
        {[](size_t c) { return FormatCut(c, K("%01000000000f"), -1.0); }, K("-"), '0'},
        {[](size_t c) { return FormatCut(c, K("%1000000000p"), nullptr); }, K(""), ' '},
    };
    for (size_t capacity : {size_t{2}, size_t{64}, size_t{1024}}) {
        for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
            Text start = Text(cases[i].start).substr(0, capacity - 1);
            Text expected = start + Repeat(cases[i].fill, capacity - 1 - start.size());
            for (int repeat = 0; repeat < 20; ++repeat) {
                ASSERT_EQ(cases[i].make(capacity), expected) << "case " << i;
            }
        }
    }
}

TEST(FormatText, ATenMegabyteArgumentCostsNoMoreThanTheBuffer) {
    const size_t size = 10 * 1024 * 1024;
    const Text wide(size, 'w');
    const std::string narrow(size, 'n');
    for (int repeat = 0; repeat < 100; ++repeat) {
        ASSERT_EQ(Format(K("%s|"), wide.c_str()), Repeat('w', 1023));
        ASSERT_EQ(Format(K("%-20S|"), narrow.c_str()), Repeat('n', 1023));
    }
    EXPECT_EQ(Format(K("%.5s|%.3S|"), wide.c_str(), narrow.c_str()), K("wwwww|nnn|"));
}

#if !defined(_WIN32)
// Two pages, the second unreadable: a text that ends at the boundary with no terminator
// makes any read past what the formatter may look at fault.
class GuardedPage {
  public:
    GuardedPage() {
        page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        void *map =
            mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        base_ = map == MAP_FAILED ? nullptr : static_cast<char *>(map);
        if (base_ != nullptr && mprotect(base_ + page_, page_, PROT_NONE) != 0) {
            munmap(base_, 2 * page_);
            base_ = nullptr;
        }
    }
    ~GuardedPage() {
        if (base_ != nullptr) {
            munmap(base_, 2 * page_);
        }
    }
    bool ok() const { return base_ != nullptr; }
    // `count` units of `unit`, ending right at the unreadable page.
    template <class C> const C *Unterminated(C unit, size_t count) {
        C *start = reinterpret_cast<C *>(base_ + page_) - count;
        for (size_t i = 0; i < count; ++i) {
            start[i] = unit;
        }
        return start;
    }

  private:
    size_t page_ = 0;
    char *base_ = nullptr;
};

TEST(FormatText, StringsAreReadNoFurtherThanTheRoomAndOneMore) {
    GuardedPage guard;
    ASSERT_TRUE(guard.ok());
    // A capacity of 64 leaves room for 63 units; the 64th tells that the text was cut.
    const KVZChar *wide = guard.Unterminated<KVZChar>('w', 64);
    EXPECT_EQ(FormatCut(64, K("%s"), wide), Repeat('w', 63));
    EXPECT_EQ(FormatCut(64, K("%-5s"), wide), Repeat('w', 63));
    EXPECT_EQ(FormatCut(64, K("%.100s"), wide), Repeat('w', 63));
    EXPECT_EQ(FormatCut(66, K("ab%s"), wide), K("ab") + Repeat('w', 63));
    EXPECT_EQ(FormatCut(1024, K("%.64s"), wide), Repeat('w', 64));
    // Precision and room run out together: the unit after them is not the formatter's.
    const KVZChar *exact = guard.Unterminated<KVZChar>('e', 63);
    EXPECT_EQ(FormatCut(64, K("%.63s"), exact), Repeat('e', 63));
    EXPECT_EQ(FormatCut(64, K("%63.63s"), exact), Repeat('e', 63));
    EXPECT_EQ(FormatCut(64, K("%-63.63s"), exact), Repeat('e', 63));
    EXPECT_EQ(FormatCut(64, K("%.63S"), guard.Unterminated<char>('e', 63)), Repeat('e', 63));
    const char *narrow = guard.Unterminated<char>('n', 64);
    EXPECT_EQ(FormatCut(64, K("%S"), narrow), Repeat('n', 63));
    EXPECT_EQ(FormatCut(64, K("%-5S"), narrow), Repeat('n', 63));
    EXPECT_EQ(FormatCut(1024, K("%.64S"), narrow), Repeat('n', 64));
    EXPECT_EQ(FormatCut(1024, K("%70.64S"), narrow), Repeat(' ', 6) + Repeat('n', 64));
}

TEST(FormatText, TheDecimalPointIsAPointInEveryLocale) {
    const char *before = setlocale(LC_NUMERIC, nullptr);
    std::string saved = before != nullptr ? before : "C";
    const char *commaLocales[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"};
    bool found = false;
    for (const char *name : commaLocales) {
        if (setlocale(LC_NUMERIC, name) != nullptr) {
            found = true;
            break;
        }
    }
    if (!found) {
        GTEST_SKIP() << "NOT RUN: the decimal-comma locale case, no locale with a decimal comma is "
                        "installed";
    }
    Text text = Format(K("%.2f|%.12f|%e|%g|%a"), 3.25, 0.5, 1.5, 2.5, 1.5);
    setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(text, K("3.25|0.500000000000|1.500000e+00|2.5|0x1.8p+0"));
}

// --- Agreement with glibc's swprintf on the conventions the two share ----------------

// A 16-bit string for the formatter and the same text as wchar_t for swprintf.
struct WideArg {
    const KVZChar *units;
    const wchar_t *wide;
};
#define W(s) (WideArg{KVZ_TEXT(s), L##s})

template <class A> A ForOurs(A value) {
    return value;
}
inline const KVZChar *ForOurs(WideArg value) {
    return value.units;
}
template <class A> A ForGlibc(A value) {
    return value;
}
inline const wchar_t *ForGlibc(WideArg value) {
    return value.wide;
}

// The reference speaks the C convention: there %s is narrow and %ls wide, so the 16-bit
// %s and %c become %ls and %lc, and the narrow %S and %C become %s and %c.
std::wstring ForReference(const std::string &format) {
    std::wstring out;
    for (size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (c != '%') {
            out += static_cast<wchar_t>(c);
            continue;
        }
        out += L'%';
        size_t j = i + 1;
        while (j < format.size() &&
               std::string("-+ #0123456789.*").find(format[j]) != std::string::npos) {
            out += static_cast<wchar_t>(format[j++]);
        }
        bool modified =
            j < format.size() && std::string("hlLjzt").find(format[j]) != std::string::npos;
        while (j < format.size() && std::string("hlLjzt").find(format[j]) != std::string::npos) {
            out += static_cast<wchar_t>(format[j++]);
        }
        if (j < format.size()) {
            char conversion = format[j];
            if (!modified && (conversion == 's' || conversion == 'c')) {
                out += L'l';
                out += static_cast<wchar_t>(conversion);
            } else if (!modified && (conversion == 'S' || conversion == 'C')) {
                out += static_cast<wchar_t>(conversion - 'A' + 'a');
            } else {
                out += static_cast<wchar_t>(conversion);
            }
        }
        i = j;
    }
    return out;
}

Text Widen(const std::wstring &text) {
    Text out;
    for (wchar_t c : text) {
        out += static_cast<KVZChar>(c);
    }
    return out;
}

// Formats with both and compares; when `everyCut` is set, also compares each cut of the
// text with the start of glibc's.
template <class... A> void Agree(const std::string &format, bool everyCut, A... args) {
    wchar_t reference[2048];
    int made = swprintf(reference, 2048, ForReference(format).c_str(), ForGlibc(args)...);
    ASSERT_GE(made, 0) << format;
    Text expected = Widen(std::wstring(reference, static_cast<size_t>(made)));
    Text text = ToText(format);
    EXPECT_EQ(FormatCut(2048, text.c_str(), ForOurs(args)...), expected) << format;
    if (everyCut) {
        for (size_t capacity = 0; capacity <= expected.size() + 1; ++capacity) {
            size_t keep = capacity == 0 ? 0 : capacity - 1;
            EXPECT_EQ(FormatCut(capacity, text.c_str(), ForOurs(args)...),
                      expected.substr(0, keep < expected.size() ? keep : expected.size()))
                << format << " at capacity " << capacity;
        }
    }
}

TEST(FormatTextAgainstGlibc, TypicalFormatsAndEveryCutOfThem) {
    Agree("plain text, no conversions", true);
    Agree("%s", true, W("a wide string"));
    Agree("%d|%i|%u", true, -42, 42, 42u);
    Agree("%08X|%#x|%o", true, 0xbeefu, 255u, 8u);
    Agree("%.2f|%10.4e|%-8g|", true, 3.14159, -0.000123, 1e20);
    Agree("%c%c|%C", true, 'a', 0x263A, 'z');
    Agree("%-20s|%5d", true, W("name"), 7);
    Agree("%S and %s", true, "narrow", W("wide"));
    Agree("x=%d y=%5.2f %s %%", true, 3, 4.5, W("done"));
    Agree("%*d|%-*d|%.*d|%*.*f", true, 6, 1, 6, 2, 4, 3, 9, 2, 1.005);
    Agree("%lld %llu %hhd %hd %ld %jd %zd %td", true, static_cast<long long>(INT64_MIN),
          static_cast<unsigned long long>(UINT64_MAX), 300, 70000, LONG_MIN,
          static_cast<intmax_t>(-1), static_cast<ptrdiff_t>(-2), static_cast<ptrdiff_t>(-3));
    Agree("%Lf %Le %Lg", true, 1.25L, -3e-300L, 1e30L);
    Agree("%5%|%-5%|%%", true);
}

TEST(FormatTextAgainstGlibc, EveryIntegerFlagWidthPrecisionAndLength) {
    const char *flags[] = {"", "-", "+", " ", "#", "0", "-0", "+0", " 0", "#0", "-#", "+ -"};
    const char *widths[] = {"", "1", "6", "23"};
    const char *precisions[] = {"", ".", ".0", ".1", ".5", ".21"};
    const char *lengths[] = {"", "hh", "h", "l", "ll", "j", "z", "t"};
    const char conversions[] = {'d', 'i', 'u', 'o', 'x', 'X'};
    const long long values[] = {0, 1, -1, 42, INT_MIN, INT_MAX, LLONG_MIN, LLONG_MAX};
    for (const char *flag : flags) {
        for (const char *width : widths) {
            for (const char *precision : precisions) {
                for (const char *length : lengths) {
                    for (char conversion : conversions) {
                        std::string format = std::string("[%") + flag + width + precision + length +
                                             conversion + "]";
                        std::string l = length;
                        for (long long v : values) {
                            if (l == "hh" || l == "h" || l.empty()) {
                                Agree(format, false, static_cast<int>(v));
                            } else if (l == "l") {
                                Agree(format, false, static_cast<long>(v));
                            } else if (l == "ll") {
                                Agree(format, false, v);
                            } else if (l == "j") {
                                Agree(format, false, static_cast<intmax_t>(v));
                            } else {
                                Agree(format, false, static_cast<ptrdiff_t>(v));
                            }
                        }
                    }
                }
            }
        }
    }
}

TEST(FormatTextAgainstGlibc, EveryFloatFlagWidthAndPrecision) {
    const char *flags[] = {"", "-", "+", " ", "#", "0", "-0", "+0", " 0", "#0", "-#", "+ -"};
    const char *widths[] = {"", "1", "12", "30"};
    const char *precisions[] = {"", ".", ".0", ".3", ".17", ".60"};
    const char conversions[] = {'e', 'E', 'f', 'F', 'g', 'G', 'a', 'A'};
    const double values[] = {0.0,   -0.0,    1.0, -1.5,      0.1,      123456.789, 1e-300, 5e-324,
                             1e300, DBL_MAX, 0.5, 9.9999999, INFINITY, -INFINITY,  NAN,    -NAN};
    for (const char *flag : flags) {
        for (const char *width : widths) {
            for (const char *precision : precisions) {
                for (char conversion : conversions) {
                    std::string format =
                        std::string("[%") + flag + width + precision + conversion + "]";
                    for (double v : values) {
                        Agree(format, false, v);
                    }
                }
            }
        }
    }
}

// Fixed notation with few decimals has its own exact digits: every rounding, the ties
// (which go to even) included, must be what the C library makes of the same double.
TEST(FormatTextAgainstGlibc, FixedNotationRoundsAsTheCLibraryDoes) {
    std::vector<double> values = {0.0,
                                  0.5,
                                  1.5,
                                  2.5,
                                  0.125,
                                  0.375,
                                  2.675,
                                  1.005,
                                  1e-7,
                                  5e-10,
                                  4.9e-10,
                                  0.9999999999,
                                  99.995,
                                  123456789.125,
                                  9e9,
                                  8.99999e17,
                                  4503599627370495.5,
                                  9007199254740993.0,
                                  DBL_MIN,
                                  5e-324,
                                  1e15 + 0.3,
                                  1e18 - 1};
    std::mt19937_64 random(20240611);
    for (int i = 0; i < 20000; ++i) {
        // Any bit pattern, folded into the range where the digits are made here.
        double any = std::bit_cast<double>(random() & ~(uint64_t{1} << 63));
        if (std::isfinite(any)) {
            values.push_back(std::fmod(any, std::ldexp(1.0, static_cast<int>(random() % 64))));
        }
        // Halves, quarters, eighths...: exact ties at some precision.
        values.push_back(std::ldexp(static_cast<double>(random() % 100000000),
                                    -static_cast<int>(random() % 40)));
    }
    const char *formats[] = {"%f",   "%.0f", "%.1f", "%.2f", "%.3f",  "%.4f",  "%.5f",
                             "%.6f", "%.7f", "%.8f", "%.9f", "%#.0f", "%+.2F", "%010.3f"};
    for (const char *format : formats) {
        for (double v : values) {
            Agree(format, false, v);
            Agree(format, false, -v);
        }
    }
}

TEST(FormatTextAgainstGlibc, EveryStringAndCharacterFlagWidthAndPrecision) {
    // No 0 flag here: it pads strings with zeros, as the Windows runtime does.
    const char *flags[] = {"", "-"};
    const char *widths[] = {"", "1", "3", "12"};
    const char *precisions[] = {"", ".", ".0", ".2", ".8"};
    for (const char *flag : flags) {
        for (const char *width : widths) {
            for (const char *precision : precisions) {
                std::string spec = std::string("[%") + flag + width + precision;
                Agree(spec + "s]", false, W("hello world"));
                Agree(spec + "s]", false, W(""));
                Agree(spec + "S]", false, "narrow text");
                Agree(spec + "S]", false, "");
                Agree(spec + "c]", false, 'x');
                Agree(spec + "C]", false, 'y');
            }
        }
    }
}
#endif // !defined(_WIN32)

} // namespace
