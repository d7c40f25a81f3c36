// The dialog's layout as plain functions of the text and the font's measures: line
// wrapping with proportional widths, and where the window
// and its buttons go. Nothing here needs a display, so it is tested without one.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace kvz::platform {

// A line of the text: code points [start, start + count).
struct TextLine {
    uint16_t start;
    uint16_t count;
};

// The advance of one character in pixels, as the font draws it.
struct Measure {
    int (*width)(void *context, uint32_t code);
    void *context;
};

// Whether the character is a combining mark (general category Mn in the common blocks):
// drawn on the character before it, never begun a line with.
bool IsCombiningMark(uint32_t code);

// Splits the text into lines: at each line feed, and wherever a line would pass `limit`
// pixels, after its last space or, in a word longer than the limit, before the character
// that does not fit (never before a combining mark). The spaces at a wrap are dropped.
// `lines` has room for count + 1 lines, which is never passed. Returns the widest line's
// width; a combining mark adds no width.
int WrapText(const uint32_t *codes, int count, Measure measure, int limit, TextLine *lines,
             int *lineCount);

// The screen's resolution from the X resources (the RESOURCE_MANAGER text): the value of
// Xft.dpi, or 96 where it is missing or out of reason.
int DpiFromResources(const char *resources);

// Spacing in pixels, in proportion to the font's height (13 pixels: 16, 8, 10, 13, 78, 260).
struct Spacing {
    int margin;       // around the text
    int gap;          // between buttons
    int bandPadding;  // around the buttons, inside the band along the bottom
    int labelPadding; // either side of a label
    int minButtonWidth;
    int minWindowWidth;
};
Spacing SpacingFor(int fontHeight);

// The width text wraps at: about 72 average characters, less on a narrow screen.
int WrapLimit(const Spacing &space, int digitWidth, int screenWidth);

struct Rect {
    int x, y, width, height;
};

// What the layout is made from.
struct LayoutInput {
    Spacing space;
    int fontHeight;
    int lineHeight;
    int textWidth;
    int lineCount;
    int labelWidths[2];
    int buttonCount;
    // The part of the screen a window may take: the work area the window manager gives
    // (less its panels), else the whole screen.
    int screenLeft, screenTop, screenWidth, screenHeight;
};

// The window, centred in the work area, and its buttons inside it (OK, then Cancel, alike in
// size, at the right of a band along the bottom). A text too tall for the screen shows
// as many whole lines as fit (one at least) and scrolls; the buttons stay in view.
struct DialogGeometry {
    Rect window;
    int bandTop;
    Rect buttons[2];
    int shownLines; // lines in view at once: lineCount, or fewer for a text that scrolls
};
DialogGeometry PlaceDialog(const LayoutInput &in);

// Where the thumb of a scrolling text's bar goes, in the right margin beside the lines,
// for `total` lines of which `shown` are in view from `first`. Empty (width 0) for a text
// that does not scroll.
Rect ScrollThumb(const DialogGeometry &geometry, const Spacing &space, int first, int total);

} // namespace kvz::platform
