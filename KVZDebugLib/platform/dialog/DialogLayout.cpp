#include "KVZDebugLib/platform/dialog/DialogLayout.h"

namespace kvz::platform {

namespace {

struct Range {
    uint32_t first, last;
};

// Combining marks (Mn) of the blocks a report is likely to hold.
constexpr Range kCombiningMarks[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD},   {0x05BF, 0x05BF}, {0x05C1, 0x05C2},
    {0x05C4, 0x05C5}, {0x05C7, 0x05C7}, {0x0610, 0x061A},   {0x064B, 0x065F}, {0x0670, 0x0670},
    {0x06D6, 0x06DC}, {0x06DF, 0x06E4}, {0x06E7, 0x06E8},   {0x06EA, 0x06ED}, {0x0900, 0x0902},
    {0x093C, 0x093C}, {0x0941, 0x0948}, {0x094D, 0x094D},   {0x0E31, 0x0E31}, {0x0E34, 0x0E3A},
    {0x0E47, 0x0E4E}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF},   {0x20D0, 0x20F0}, {0x3099, 0x309A},
    {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0xE0100, 0xE01EF},
};

bool InRanges(uint32_t code, const Range *ranges, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (code >= ranges[i].first && code <= ranges[i].last) {
            return true;
        }
    }
    return false;
}

// The widest part of [from, end) that fits in limit, from `from`; sets lastSpace to the
// last space in it, or -1.
int FitLine(const uint32_t *codes, int from, int end, Measure measure, int limit, int *lastSpace) {
    int width = 0, at = from;
    *lastSpace = -1;
    while (at < end) {
        const bool mark = IsCombiningMark(codes[at]);
        const int w = mark ? 0 : measure.width(measure.context, codes[at]);
        if (width + w > limit && at > from && !mark) {
            // A space that does not fit is where the line ends.
            *lastSpace = codes[at] == ' ' ? at : *lastSpace;
            break;
        }
        if (codes[at] == ' ') {
            *lastSpace = at;
        }
        width += w;
        ++at;
    }
    return at;
}

int LineWidth(const uint32_t *codes, int from, int end, Measure measure) {
    int width = 0;
    for (int i = from; i < end; ++i) {
        width += IsCombiningMark(codes[i]) ? 0 : measure.width(measure.context, codes[i]);
    }
    return width;
}

} // namespace

bool IsCombiningMark(uint32_t code) {
    return code >= 0x0300 &&
           InRanges(code, kCombiningMarks, sizeof kCombiningMarks / sizeof kCombiningMarks[0]);
}

int WrapText(const uint32_t *codes, int count, Measure measure, int limit, TextLine *lines,
             int *lineCount) {
    int widest = 0;
    *lineCount = 0;
    auto emit = [&](int start, int end) {
        const int width = LineWidth(codes, start, end, measure);
        widest = width > widest ? width : widest;
        lines[(*lineCount)++] =
            TextLine{static_cast<uint16_t>(start), static_cast<uint16_t>(end - start)};
    };
    for (int start = 0;;) {
        int end = start;
        while (end < count && codes[end] != '\n') {
            ++end;
        }
        // The paragraph [start, end), wrapped.
        for (int from = start;;) {
            int lastSpace = -1;
            const int at = FitLine(codes, from, end, measure, limit, &lastSpace);
            if (at == end) {
                emit(from, end);
                break;
            }
            int cut = lastSpace > from ? lastSpace : at;
            while (lastSpace > from && cut > from + 1 && codes[cut - 1] == ' ') {
                --cut; // the spaces before the wrap go with it
            }
            emit(from, cut);
            for (from = cut; from < end && codes[from] == ' ';) {
                ++from;
            }
            if (from == end) {
                break;
            }
        }
        if (end == count) {
            return widest;
        }
        start = end + 1;
    }
}

int DpiFromResources(const char *resources) {
    constexpr int kDefault = 96;
    static const char kName[] = "Xft.dpi";
    for (const char *line = resources; line != nullptr && *line != 0;) {
        size_t i = 0;
        while (kName[i] != 0 && line[i] == kName[i]) {
            ++i;
        }
        const char *at = line + i;
        if (kName[i] == 0) {
            while (*at == ' ' || *at == '\t') {
                ++at;
            }
            if (*at == ':') {
                ++at;
                while (*at == ' ' || *at == '\t') {
                    ++at;
                }
                int dpi = 0;
                for (; *at >= '0' && *at <= '9' && dpi < 10000; ++at) {
                    dpi = dpi * 10 + (*at - '0');
                }
                return dpi >= 48 && dpi <= 480 ? dpi : kDefault;
            }
        }
        while (*at != 0 && *at != '\n') {
            ++at;
        }
        line = *at == '\n' ? at + 1 : at;
    }
    return kDefault;
}

Spacing SpacingFor(int fontHeight) {
    return Spacing{fontHeight + fontHeight / 4,
                   (fontHeight * 5 + 4) / 8,
                   (fontHeight * 3 + 3) / 4,
                   fontHeight,
                   fontHeight * 6,
                   fontHeight * 20};
}

int WrapLimit(const Spacing &space, int digitWidth, int screenWidth) {
    constexpr int kWrapColumns = 72;
    int limit = kWrapColumns * digitWidth;
    if (limit > screenWidth - 4 * space.margin) {
        limit = screenWidth - 4 * space.margin;
    }
    return limit > 0 ? limit : 1;
}

DialogGeometry PlaceDialog(const LayoutInput &in) {
    const Spacing &space = in.space;
    int buttonWidth = space.minButtonWidth;
    for (int i = 0; i < in.buttonCount; ++i) {
        const int w = in.labelWidths[i] + 2 * space.labelPadding;
        buttonWidth = w > buttonWidth ? w : buttonWidth;
    }
    const int buttonHeight = 2 * in.fontHeight;
    const int buttonsWidth = in.buttonCount * buttonWidth + (in.buttonCount - 1) * space.gap;
    const int bandHeight = buttonHeight + 2 * space.bandPadding;

    DialogGeometry out = {};
    int width = in.textWidth + 2 * space.margin;
    width =
        width < buttonsWidth + 2 * space.bandPadding ? buttonsWidth + 2 * space.bandPadding : width;
    width = width < space.minWindowWidth ? space.minWindowWidth : width;
    // The lines that fit on the screen with the band and the margins around the window.
    const int room = in.screenHeight - 2 * space.margin - bandHeight - 2 * space.margin;
    const int fit = in.lineHeight > 0 && room > in.lineHeight ? room / in.lineHeight : 1;
    out.shownLines = in.lineCount < fit ? in.lineCount : fit;
    out.bandTop = 2 * space.margin + out.shownLines * in.lineHeight;
    const int height = out.bandTop + bandHeight;
    const int left = (in.screenWidth - width) / 2, top = (in.screenHeight - height) / 2;
    out.window = Rect{in.screenLeft + (left < 0 ? 0 : left), in.screenTop + (top < 0 ? 0 : top),
                      width, height};
    int buttonLeft = width - space.bandPadding - buttonsWidth;
    for (int i = 0; i < in.buttonCount; ++i) {
        out.buttons[i] =
            Rect{buttonLeft, out.bandTop + space.bandPadding, buttonWidth, buttonHeight};
        buttonLeft += buttonWidth + space.gap;
    }
    return out;
}

Rect ScrollThumb(const DialogGeometry &geometry, const Spacing &space, int first, int total) {
    if (geometry.shownLines <= 0 || total <= geometry.shownLines) {
        return Rect{0, 0, 0, 0};
    }
    const int track = geometry.bandTop - 2 * space.margin;
    const int least = space.margin < track ? space.margin : track;
    int height = track * geometry.shownLines / total;
    height = height < least ? least : height;
    const int last = total - geometry.shownLines;
    const int top = space.margin + (track - height) * first / last;
    const int width = space.margin / 3 > 2 ? space.margin / 3 : 2;
    return Rect{geometry.window.width - space.margin / 2 - width / 2, top, width, height};
}

} // namespace kvz::platform
