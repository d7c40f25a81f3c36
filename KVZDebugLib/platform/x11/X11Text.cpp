#include "KVZDebugLib/platform/x11/X11Text.h"

#include "KVZDebugLib/platform/dialog/DialogLayout.h"
#include "KVZDebugLib/platform/dialog/ShownText.h"
#include "KVZDebugLib/platform/x11/X11Probe.h"

namespace kvz::platform {

namespace {

// Core fonts tried in order, from the size that suits the screen down: the misc-fixed
// Unicode fonts of a plain X installation (10x20, 9x15 and 7x13 in Debian xfonts-base),
// then any Unicode fixed font, then "fixed", which every X server has (built in, if need
// be), though it may cover only Latin-1.
const char *const kCoreFonts[] = {
    "-misc-fixed-medium-r-normal--20-200-75-75-c-100-iso10646-1",
    "-misc-fixed-medium-r-normal--15-140-75-75-c-90-iso10646-1",
    "-misc-fixed-medium-r-normal--13-120-75-75-c-70-iso10646-1",
    "-misc-fixed-medium-r-normal--13-*-*-*-*-*-iso10646-1",
    "-misc-fixed-medium-r-semicondensed--13-*-*-*-*-*-iso10646-1",
    "-*-fixed-medium-r-*--*-*-*-*-*-*-iso10646-1",
    "fixed",
};
constexpr int kCoreFontCount = sizeof kCoreFonts / sizeof kCoreFonts[0];

// The first core font to try on a screen of the given height in pixels.
int FirstCoreFont(int screenHeight) {
    if (screenHeight >= 1400) {
        return 0;
    }
    return screenHeight >= 900 ? 1 : 2;
}

// The size of the text, in points at the desktop's resolution; dialogs of the common
// desktops use 9 to 11.
constexpr double kPointSize = 10.0;

XChar2b Char2b(uint32_t code) {
    XChar2b glyph;
    glyph.byte1 = static_cast<unsigned char>(code >> 8);
    glyph.byte2 = static_cast<unsigned char>(code & 0xFF);
    return glyph;
}

} // namespace

void Typeface::Begin(const XlibFunctions &xlib, Display *display) {
    xlib_ = &xlib;
    dpy_ = display;
    xft_ = LoadXft();
    fc_ = LoadFontconfig(); // loaded whenever Xft is
    // fontconfig is safe on several threads, but the first box to call it loads its
    // configuration, which the boxes then share: they take their turns for it as for Xft.
    // A box that cannot have its turn in time (in a child forked while its parent was at
    // Xft, say) draws with a core font and leaves Xft alone.
    if (xft_ == nullptr || !LockFontconfigWithin(kX11DeadlineMs)) {
        xft_ = nullptr;
        return;
    }
    touchedXft_ = true;
    hb_ = LoadHarfbuzz();
    KeepNoClosedFonts();
    pattern_ = fc_->FcPatternCreate();
    if (pattern_ == nullptr) {
        UnlockFontconfig();
        xft_ = nullptr;
        return;
    }
    // The desktop's sans-serif font at the size and resolution it asks for.
    const int dpi = DpiFromResources(xlib_->XResourceManagerString(dpy_));
    fc_->FcPatternAddString(pattern_, FC_FAMILY, reinterpret_cast<const FcChar8 *>("sans-serif"));
    fc_->FcPatternAddDouble(pattern_, FC_SIZE, kPointSize);
    fc_->FcPatternAddDouble(pattern_, FC_DPI, dpi);
    fc_->FcConfigSubstitute(nullptr, pattern_, FcMatchPattern);
    UnlockFontconfig();
}

// Xft keeps closed fonts for reuse and frees them only when the display closes, after the
// X Rendering Extension may have let go of the display: freeing their glyphs then brings
// the extension back for a display about to go, and a later display at the same address
// was seen sending requests with that stale entry's opcodes. Fonts are freed when closed.
void Typeface::KeepNoClosedFonts() {
    FcPattern *settings = fc_->FcPatternCreate();
    if (settings != nullptr) {
        fc_->FcPatternAddInteger(settings, XFT_MAX_UNREF_FONTS, 0);
        xft_->XftDefaultSet(dpy_, settings); // takes the pattern
    }
}

bool Typeface::Open(int screen, const XRenderColor &text) {
    if (xft_ != nullptr) {
        LockFontconfig();
        const bool opened = OpenXft(screen, text);
        UnlockFontconfig();
        if (opened) {
            return true;
        }
        Close();
    }
    return OpenCore(screen);
}

// Xft adds the desktop's rendering settings; fontconfig sorts every installed font by the
// pattern once, and the first is opened.
bool Typeface::OpenXft(int screen, const XRenderColor &text) {
    xft_->XftDefaultSubstitute(dpy_, screen, pattern_);
    FcResult result = FcResultNoMatch;
    sorted_ = fc_->FcFontSort(nullptr, pattern_, FcTrue, nullptr, &result);
    if (sorted_ == nullptr || sorted_->nfont == 0 || OpenFace(0) != 0) {
        return false;
    }
    ascent_ = faces_[0]->ascent;
    descent_ = faces_[0]->descent;
    visual_ = DefaultVisual(dpy_, screen);
    colormap_ = DefaultColormap(dpy_, screen);
    colourAllocated_ = xft_->XftColorAllocValue(dpy_, visual_, colormap_, &text, &colour_) != 0;
    return colourAllocated_;
}

bool Typeface::OpenCore(int screen) {
    xft_ = nullptr;
    for (int i = FirstCoreFont(DisplayHeight(dpy_, screen)); i < kCoreFontCount; ++i) {
        core_ = xlib_->XLoadQueryFont(dpy_, kCoreFonts[i]);
        if (core_ != nullptr) {
            ascent_ = core_->ascent;
            descent_ = core_->descent;
            return true;
        }
    }
    return false;
}

void Typeface::Close() {
    if (xft_ != nullptr) {
        LockFontconfig();
        CloseShaping();
        if (draw_ != nullptr) {
            xft_->XftDrawDestroy(draw_);
        }
        if (colourAllocated_) {
            xft_->XftColorFree(dpy_, visual_, colormap_, &colour_);
        }
        for (int i = 0; i < faceCount_; ++i) {
            xft_->XftFontClose(dpy_, faces_[i]);
        }
        if (sorted_ != nullptr) {
            fc_->FcFontSetDestroy(sorted_);
        }
        if (pattern_ != nullptr) {
            fc_->FcPatternDestroy(pattern_);
        }
        UnlockFontconfig();
    }
    draw_ = nullptr;
    colourAllocated_ = false;
    faceCount_ = 0;
    sorted_ = nullptr;
    pattern_ = nullptr;
    xft_ = nullptr;
    hb_ = nullptr;
    if (core_ != nullptr) {
        xlib_->XFreeFont(dpy_, core_);
        core_ = nullptr;
    }
}

// The face of the sorted fonts at setIndex, opened if it is not yet: its index in faces_,
// or -1 when it cannot be opened or the box has as many open as it keeps.
int Typeface::OpenFace(int setIndex) {
    for (int i = 0; i < faceCount_; ++i) {
        if (faceSetIndex_[i] == setIndex) {
            return i;
        }
    }
    if (faceCount_ == kMaxFaces) {
        return -1;
    }
    FcPattern *prepared = fc_->FcFontRenderPrepare(nullptr, pattern_, sorted_->fonts[setIndex]);
    if (prepared == nullptr) {
        return -1;
    }
    XftFont *font = xft_->XftFontOpenPattern(dpy_, prepared); // owns the pattern once open
    if (font == nullptr) {
        fc_->FcPatternDestroy(prepared);
        return -1;
    }
    faces_[faceCount_] = font;
    faceSetIndex_[faceCount_] = setIndex;
    return faceCount_++;
}

// The face that draws the character: the first of the sorted fonts that has it. One that
// none has (or none the box can open) is drawn as U+FFFD, or '?' where the first font
// lacks that too; *drawn is the character drawn.
int Typeface::FaceFor(uint32_t code, uint32_t *drawn) {
    *drawn = code;
    const int index = FirstFontWith(*fc_, *sorted_, code);
    const int face = index >= 0 ? OpenFace(index) : -1;
    if (face >= 0) {
        return face;
    }
    *drawn = StandIn(*fc_, sorted_->fonts[faceSetIndex_[0]], code);
    return 0;
}

// Whether the core font has a glyph of its own for the character: one outside the font's
// range, or whose metrics are all zero, does not exist and would be drawn as the font's
// default.
bool Typeface::CoreHas(uint32_t code) const {
    if (code > 0xFFFF) {
        return false;
    }
    const unsigned byte1 = code >> 8, byte2 = code & 0xFF;
    const unsigned columns = core_->max_char_or_byte2 - core_->min_char_or_byte2 + 1;
    unsigned index = 0;
    if (core_->min_byte1 == 0 && core_->max_byte1 == 0) {
        if (code < core_->min_char_or_byte2 || code > core_->max_char_or_byte2) {
            return false;
        }
        index = code - core_->min_char_or_byte2;
    } else {
        if (byte1 < core_->min_byte1 || byte1 > core_->max_byte1 ||
            byte2 < core_->min_char_or_byte2 || byte2 > core_->max_char_or_byte2) {
            return false;
        }
        index = (byte1 - core_->min_byte1) * columns + (byte2 - core_->min_char_or_byte2);
    }
    if (core_->per_char == nullptr) {
        return true;
    }
    const XCharStruct &metrics = core_->per_char[index];
    return metrics.width != 0 || metrics.lbearing != 0 || metrics.rbearing != 0 ||
           metrics.ascent != 0 || metrics.descent != 0;
}

// What the core font draws for the character: itself, else U+FFFD, else '?'.
uint32_t Typeface::CoreShown(uint32_t code) const {
    if (CoreHas(code)) {
        return code;
    }
    return CoreHas(kShownReplacement) ? kShownReplacement : '?';
}

int Typeface::CoreWidth(uint32_t code) const {
    const XChar2b glyph = Char2b(CoreShown(code));
    int direction = 0, ascent = 0, descent = 0;
    XCharStruct overall = {};
    xlib_->XTextExtents16(core_, &glyph, 1, &direction, &ascent, &descent, &overall);
    return overall.width;
}

// The advance, with Xft's turn already taken.
int Typeface::Advance(uint32_t code) {
    if (xft_ == nullptr) {
        return CoreWidth(code);
    }
    uint32_t drawn = code;
    XftFont *face = faces_[FaceFor(code, &drawn)];
    XGlyphInfo extents = {};
    xft_->XftTextExtents32(dpy_, face, &drawn, 1, &extents);
    return extents.xOff;
}

int Typeface::Width(uint32_t code) {
    if (xft_ == nullptr) {
        return CoreWidth(code);
    }
    LockFontconfig();
    const int width = Advance(code);
    UnlockFontconfig();
    return width;
}

void Typeface::DrawOne(Drawable target, GC gc, int x, int baseline, uint32_t code) {
    if (xft_ == nullptr) {
        const XChar2b glyph = Char2b(CoreShown(code));
        xlib_->XDrawString16(dpy_, target, gc, x, baseline, &glyph, 1);
        return;
    }
    uint32_t drawn = code;
    XftFont *face = faces_[FaceFor(code, &drawn)];
    if (XftDraw *draw = DrawFor(target)) {
        xft_->XftDrawString32(draw, &colour_, face, x, baseline, &drawn, 1);
    }
}

// Xft's drawing on the target, made or moved there as needed; null when it cannot be made.
XftDraw *Typeface::DrawFor(Drawable target) {
    if (draw_ == nullptr) {
        draw_ = xft_->XftDrawCreate(dpy_, target, visual_, colormap_);
        drawTarget_ = target;
    } else if (drawTarget_ != target) {
        xft_->XftDrawChange(draw_, target);
        drawTarget_ = target;
    }
    return draw_;
}

// A mark whose font gives it no advance is drawn where the pen stands after its letter, as
// such fonts expect; one with an advance of its own is centred on its letter.
void Typeface::Draw(Drawable target, GC gc, int x, int baseline, const uint32_t *codes, int count) {
    if (xft_ != nullptr) {
        LockFontconfig();
    }
    int baseX = x, baseWidth = 0;
    for (int i = 0; i < count; ++i) {
        if (IsCombiningMark(codes[i]) && i > 0) {
            const int markWidth = Advance(codes[i]);
            DrawOne(target, gc, markWidth == 0 ? x : baseX + (baseWidth - markWidth) / 2, baseline,
                    codes[i]);
            continue;
        }
        baseX = x;
        baseWidth = Advance(codes[i]);
        DrawOne(target, gc, x, baseline, codes[i]);
        x += baseWidth;
    }
    if (xft_ != nullptr) {
        UnlockFontconfig();
    }
}

} // namespace kvz::platform
