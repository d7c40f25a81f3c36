// The X11 dialog's keys, scrolling and copied text, without a display.
#include "KVZDebugLib/platform/dialog/DialogInput.h"
#include "KVZDebugLib/platform/dialog/DialogCopy.h"
#include "KVZDebugLib/platform/dialog/DialogLayout.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace kvz::platform;

TEST(DialogInput, KeysActAsInTheWindowsBox) {
    struct Case {
        uint32_t keysym;
        unsigned modifiers;
        bool scrolls;
        KeyAction action;
    };
    const Case cases[] = {
        {XK_Return, 0, false, KeyAction::Press},
        {XK_KP_Enter, 0, true, KeyAction::Press},
        {XK_space, 0, false, KeyAction::Press},
        {XK_space, kShiftBit, false, KeyAction::Press},
        {XK_Escape, 0, true, KeyAction::Close},
        {XK_Tab, 0, true, KeyAction::Next},
        {XK_Tab, kShiftBit, false, KeyAction::Previous},
        {XK_ISO_Left_Tab, kShiftBit, false, KeyAction::Previous},
        {XK_Left, 0, true, KeyAction::Previous},
        {XK_Right, 0, true, KeyAction::Next},
        {XK_KP_Right, 0, false, KeyAction::Next},
        // Up/Down move between the buttons, unless the text scrolls.
        {XK_Up, 0, false, KeyAction::Previous},
        {XK_Down, 0, false, KeyAction::Next},
        {XK_Up, 0, true, KeyAction::LineUp},
        {XK_Down, 0, true, KeyAction::LineDown},
        {XK_Page_Down, 0, true, KeyAction::PageDown},
        {XK_Page_Up, 0, true, KeyAction::PageUp},
        {XK_Page_Down, 0, false, KeyAction::None},
        {XK_Home, 0, true, KeyAction::Top},
        {XK_End, 0, true, KeyAction::End},
        {XK_End, 0, false, KeyAction::None},
        {XK_c, kControlBit, false, KeyAction::Copy},
        {XK_c, kControlBit | kShiftBit, false, KeyAction::Copy},
        {XK_Insert, kControlBit, true, KeyAction::Copy},
        {XK_c, 0, false, KeyAction::None},
        {XK_Return, kControlBit, false, KeyAction::None},
        {XK_Insert, 0, false, KeyAction::None},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ActionForKey(c.keysym, c.modifiers, c.scrolls), c.action)
            << std::hex << c.keysym << " modifiers " << c.modifiers;
    }
    // Only answers wait for their key to be let go.
    EXPECT_TRUE(ActsOnRelease(KeyAction::Press));
    EXPECT_TRUE(ActsOnRelease(KeyAction::Close));
    EXPECT_FALSE(ActsOnRelease(KeyAction::Next));
    EXPECT_FALSE(ActsOnRelease(KeyAction::Copy));
}

TEST(DialogInput, FocusGoesRoundTheButtons) {
    struct Case {
        KeyAction action;
        int focused, count, after;
    };
    const Case cases[] = {
        {KeyAction::Next, 0, 2, 1},     {KeyAction::Next, 1, 2, 0}, {KeyAction::Previous, 0, 2, 1},
        {KeyAction::Previous, 1, 2, 0}, {KeyAction::Next, 0, 1, 0}, {KeyAction::Previous, 0, 1, 0},
        {KeyAction::LineDown, 1, 2, 1}, {KeyAction::Next, 0, 0, 0},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(FocusAfter(c.action, c.focused, c.count), c.after);
    }
}

TEST(DialogInput, ScrollingStaysWithinTheText) {
    struct Case {
        KeyAction action;
        bool wheel;
        int first, after;
    };
    // 100 lines, 20 in view: the last first line is 80, a page 19 lines.
    const Case cases[] = {
        {KeyAction::LineDown, false, 0, 1},  {KeyAction::LineDown, true, 0, 3},
        {KeyAction::LineUp, false, 0, 0},    {KeyAction::LineUp, true, 2, 0},
        {KeyAction::PageDown, false, 0, 19}, {KeyAction::PageDown, false, 70, 80},
        {KeyAction::PageUp, false, 80, 61},  {KeyAction::End, false, 5, 80},
        {KeyAction::Top, false, 50, 0},      {KeyAction::LineDown, false, 80, 80},
        {KeyAction::Next, false, 7, 7},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(FirstLineAfter(c.action, c.wheel, c.first, 20, 100), c.after)
            << static_cast<int>(c.action) << " from " << c.first;
    }
    EXPECT_EQ(FirstLineAfter(KeyAction::End, false, 0, 20, 5), 0); // nothing to scroll
}

TEST(DialogInput, TheThumbRunsDownTheMarginAsTheTextScrolls) {
    LayoutInput in = {};
    in.space = SpacingFor(16);
    in.fontHeight = 16;
    in.lineHeight = 19;
    in.textWidth = 400;
    in.buttonCount = 2;
    in.screenWidth = 1024;
    in.screenHeight = 768;
    in.lineCount = 380;
    const DialogGeometry g = PlaceDialog(in);
    ASSERT_LT(g.shownLines, 380);
    // Whole lines only, the band below them.
    EXPECT_EQ(g.bandTop, 2 * in.space.margin + g.shownLines * in.lineHeight);
    const Rect top = ScrollThumb(g, in.space, 0, 380);
    const Rect end = ScrollThumb(g, in.space, 380 - g.shownLines, 380);
    EXPECT_EQ(top.y, in.space.margin);
    EXPECT_EQ(end.y + end.height, g.bandTop - in.space.margin);
    EXPECT_GT(top.x, in.space.margin + in.textWidth);
    EXPECT_LE(top.x + top.width, g.window.width);
    EXPECT_EQ(ScrollThumb(g, in.space, 0, g.shownLines).width, 0);
}

TEST(DialogCopy, CopiesTheBoxAsTheWindowsBoxDoes) {
    const std::u32string caption = U"Assertion Failure", text = U"a\nb \u00e9\u05d0\U0001F600";
    const char *const labels[] = {"OK", "Cancel"};
    const BoxContent box = {reinterpret_cast<const uint32_t *>(caption.data()),
                            static_cast<int>(caption.size()),
                            reinterpret_cast<const uint32_t *>(text.data()),
                            static_cast<int>(text.size()),
                            labels,
                            2};
    const std::string rule = "---------------------------\n";
    const std::string expected = rule + "Assertion Failure\n" + rule +
                                 "a\nb \xC3\xA9\xD7\x90\xF0\x9F\x98\x80\n" + rule +
                                 "OK   Cancel   \n" + rule;
    char out[kCopyCapacity];
    EXPECT_EQ(std::string(out, BoxAsText(box, out, sizeof out)), expected);
    // Cut short: whole characters, and nothing after the first that does not fit.
    EXPECT_EQ(std::string(out, BoxAsText(box, out, 30)), rule + "As");
    const size_t beforeSmiley = expected.find("\xF0");
    EXPECT_EQ(std::string(out, BoxAsText(box, out, beforeSmiley + 3)),
              expected.substr(0, beforeSmiley));

    // As STRING: Latin-1, '?' for the rest, in parts as small as wanted.
    std::string latin1;
    for (size_t from = 0; from < expected.size();) {
        char part[3];
        latin1.append(part, Utf8ToLatin1(expected.data(), expected.size(), &from, part, 3));
    }
    EXPECT_EQ(latin1, rule + "Assertion Failure\n" + rule + "a\nb \xE9??\n" + rule +
                          "OK   Cancel   \n" + rule);
}

} // namespace
