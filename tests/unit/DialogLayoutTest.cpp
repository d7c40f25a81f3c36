// The X11 dialog's layout, without a display: wrapping with proportional widths, the
// order a line is drawn in, the resolution read from the X resources, and placement.
#include "KVZDebugLib/platform/DialogLayout.h"

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

TEST(DialogLayout, ShowsRightToLeftRunsInReadingOrder) {
    struct Case {
        std::u16string logical, shown;
    };
    const Case cases[] = {
        {u"ab \u05D0\u05D1\u05D2 cd", u"ab \u05D2\u05D1\u05D0 cd"},
        // A number inside a run keeps its order; the run is one.
        {u"\u05D0\u05D1 123 \u05D3\u05D4", u"\u05D4\u05D3 123 \u05D1\u05D0"},
        // A mark stays after its letter.
        {u"\u05D0\u05B8\u05D1", u"\u05D1\u05D0\u05B8"},
        // Punctuation at the run's end, before left-to-right text, stays in place.
        {u"x \u05D0\u05D1! y", u"x \u05D1\u05D0! y"},
        {u"\u0645\u0631\u062D\u0628\u0627 abc", u"\u0627\u0628\u062D\u0631\u0645 abc"},
        {u"plain text", u"plain text"},
    };
    for (const Case &c : cases) {
        const std::vector<uint32_t> codes = Codes(c.logical);
        std::vector<uint16_t> order(codes.size());
        kvz::platform::VisualOrder(codes.data(), static_cast<int>(codes.size()), order.data());
        std::u16string shown;
        for (uint16_t index : order) {
            shown += c.logical[index];
        }
        EXPECT_EQ(shown, c.shown);
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
