// The X11 dialog's layout, without a display: wrapping with proportional widths, the
// order a line is drawn in (simple, and FriBidi's), the resolution read from the X
// resources, and placement.
#include "KVZDebugLib/platform/dialog/DialogLayout.h"
#include "KVZDebugLib/platform/dialog/DialogBidi.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using kvz::platform::TextLine;

// A proportional font: 'i' is narrow, 'W' wide, everything else 10 pixels.
int TestWidth(void *, uint32_t code) {
    return code == 'i' ? 4 : code == 'W' ? 16 : 10;
}

std::vector<uint32_t> Codes(const std::u16string &text) {
    return std::vector<uint32_t>(text.begin(), text.end());
}

TEST(DialogLayout, WrapsAtSpacesByWidthNeverBeforeAMark) {
    struct Case {
        std::u16string text;
        int limit;
        std::u16string lines; // the lines joined by '|'
        int widest;
    };
    const Case cases[] = {
        {u"aaa bbb ccc", 70, u"aaa bbb|ccc", 70},
        {u"iiii WW", 58, u"iiii WW", 58}, // 16 + 10 + 32: fits exactly
        {u"iiii WW", 57, u"iiii|WW", 32},
        {u"aaaaaaaaaa", 35, u"aaa|aaa|aaa|a", 30},
        {u"aaa   bbb", 50, u"aaa|bbb", 30}, // spaces at a wrap dropped
        {u"e\u0301e\u0301e\u0301e\u0301", 25, u"e\u0301e\u0301|e\u0301e\u0301",
         20}, // marks add nothing
        {u"a\n\nb", 100, u"a||b", 10},
        {u"", 100, u"", 0},
        {u"W", 1, u"W", 16}, // a character wider than the limit still gets a line
    };
    for (const Case &c : cases) {
        const std::vector<uint32_t> codes = Codes(c.text);
        std::vector<TextLine> lines(codes.size() + 1);
        int count = -1;
        const int widest =
            kvz::platform::WrapText(codes.data(), static_cast<int>(codes.size()),
                                    {TestWidth, nullptr}, c.limit, lines.data(), &count);
        std::u16string joined;
        for (int i = 0; i < count; ++i) {
            joined += (i > 0 ? u"|" : u"") + c.text.substr(lines[i].start, lines[i].count);
        }
        EXPECT_EQ(joined, c.lines) << "limit " << c.limit;
        EXPECT_EQ(widest, c.widest) << "limit " << c.limit;
    }
}

// The text's lines wrapped at `limit` as drawn, left to right, joined by '|': in the order
// the levels give (FriBidi's when `full`), mirrored at odd levels.
std::u32string Shown(const std::u32string &text, bool full, int limit = 1000) {
    using namespace kvz::platform;
    const std::vector<uint32_t> codes(text.begin(), text.end());
    const int count = static_cast<int>(codes.size());
    std::vector<TextLine> lines(codes.size() + 1);
    int lineCount = 0;
    WrapText(codes.data(), count, {TestWidth, nullptr}, limit, lines.data(), &lineCount);
    std::vector<uint8_t> levels(codes.size() + 1);
    const uint8_t base = ParagraphLevels(codes.data(), count, full, levels.data());
    std::vector<LevelRun> runs(codes.size() + 1);
    std::vector<uint16_t> order(codes.size() + 1);
    std::u32string shown;
    for (int i = 0; i < lineCount; ++i) {
        LineOrder(codes.data(), levels.data(), lines[i].start, lines[i].count, base, runs.data(),
                  order.data());
        shown += i > 0 ? U"|" : U"";
        for (int j = 0; j < lines[i].count; ++j) {
            const uint32_t code = codes[order[j]];
            shown +=
                static_cast<char32_t>((levels[order[j]] & 1) != 0 ? MirroredCharacter(code) : code);
        }
    }
    return shown;
}

TEST(DialogLayout, SimpleOrderTurnsRightToLeftRunsRound) {
    struct Case {
        std::u32string logical, shown;
    };
    const Case cases[] = {
        {U"ab \u05D0\u05D1\u05D2 cd", U"ab \u05D2\u05D1\u05D0 cd"},
        // A number inside a run keeps its order; the run is one.
        {U"\u05D0\u05D1 123 \u05D3\u05D4", U"\u05D4\u05D3 123 \u05D1\u05D0"},
        // A mark stays after its letter.
        {U"\u05D0\u05B8\u05D1", U"\u05D1\u05D0\u05B8"},
        // Punctuation at the run's end, before left-to-right text, stays in place.
        {U"x \u05D0\u05D1! y", U"x \u05D1\u05D0! y"},
        {U"\u0645\u0631\u062D\u0628\u0627 abc", U"\u0627\u0628\u062D\u0631\u0645 abc"},
        {U"plain text", U"plain text"},
        // What it gets wrong: a left-to-right word inside right-to-left text.
        {U"\u05D0 (abc) \u05D1", U"\u05D0 (abc) \u05D1"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Shown(c.logical, false), c.shown);
    }
}

TEST(DialogLayout, FullBidiOrdersNumbersBracketsAndPathsInsideRightToLeftText) {
    if (!kvz::platform::HaveFullBidi()) {
        GTEST_SKIP() << "libfribidi.so.0 cannot be loaded (Debian libfribidi0)";
    }
    struct Case {
        std::u32string logical, shown;
        int limit;
    };
    const Case cases[] = {
        {U"ab \u05D0\u05D1\u05D2 cd", U"ab \u05D2\u05D1\u05D0 cd", 1000},
        // The paragraph is right to left: its first letter is.
        {U"\u05D0\u05D1 123 \u05D3\u05D4", U"\u05D4\u05D3 123 \u05D1\u05D0", 1000},
        {U"\u0627\u0644\u0639\u062F\u062F 1,234.5", U"1,234.5 \u062F\u062F\u0639\u0644\u0627",
         1000},
        // A bracket pair takes the paragraph's direction, and is mirrored.
        {U"\u05D0 (abc) \u05D1", U"\u05D1 (abc) \u05D0", 1000},
        {U"\u05D0(\u05D1)", U"(\u05D1)\u05D0", 1000},
        // A left-to-right path inside right-to-left text keeps its order.
        {U"\u05E7\u05D5\u05D1\u05E5 C:/src/main.cpp \u05D7\u05E1\u05E8",
         U"\u05E8\u05E1\u05D7 C:/src/main.cpp \u05E5\u05D1\u05D5\u05E7", 1000},
        // Each wrapped line is ordered by itself: the first words on the first line.
        {U"\u05D0\u05D1 \u05D2\u05D3 \u05D4\u05D5", U"\u05D3\u05D2 \u05D1\u05D0|\u05D5\u05D4", 50},
        {U"abc \u05D0\u05D1 d", U"abc|\u05D1\u05D0 d", 50},
        // A mark stays after its letter.
        {U"\u05D0\u05B8\u05D1", U"\u05D1\u05D0\u05B8", 1000},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Shown(c.logical, true, c.limit), c.shown);
    }
}

TEST(DialogLayout, ReadsXftDpiFromTheResources) {
    struct Case {
        const char *resources;
        int dpi;
    };
    const Case cases[] = {
        {nullptr, 96},
        {"", 96},
        {"Xft.dpi:\t144\n", 144},
        {"Xft.antialias:\t1\nXft.dpi:  120.5\nXft.hinting:\t1\n", 120},
        {"Xft.dpix:\t200\n", 96},
        {"Xft.dpi:\t99999\n", 96},
        {"*dpi:\t144\n", 96},
        {"Xft.dpi", 96},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(kvz::platform::DpiFromResources(c.resources), c.dpi)
            << (c.resources != nullptr ? c.resources : "(none)");
    }
}

TEST(DialogLayout, CentresTheWindowAndKeepsTheButtonsOnScreen) {
    using namespace kvz::platform;
    LayoutInput in = {};
    in.space = SpacingFor(16);
    in.fontHeight = 16;
    in.lineHeight = 19;
    in.textWidth = 400;
    in.labelWidths[0] = 20;
    in.labelWidths[1] = 300; // a long label widens both buttons alike
    in.buttonCount = 2;
    in.screenWidth = 1024;
    in.screenHeight = 768;
    for (const int lineCount : {3, 1000}) {
        in.lineCount = lineCount;
        const DialogGeometry g = PlaceDialog(in);
        const Rect &w = g.window;
        EXPECT_LE(w.x + w.width / 2 - 512, 1);
        EXPECT_LE(w.y + w.height / 2 - 384, 1);
        EXPECT_LE(w.height, 768);
        EXPECT_EQ(g.buttons[0].width, g.buttons[1].width);
        EXPECT_EQ(g.buttons[1].width, 300 + 2 * in.space.labelPadding);
        EXPECT_EQ(g.buttons[1].x + g.buttons[1].width, w.width - in.space.bandPadding);
        EXPECT_GE(g.buttons[0].y, g.bandTop);
        EXPECT_LE(g.buttons[0].y + g.buttons[0].height, w.height);
        EXPECT_GE(g.bandTop, in.space.margin + in.lineHeight); // one line at least
    }
}

} // namespace
