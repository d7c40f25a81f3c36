// How the X11 dialog draws text, without the locale: through Xft and fontconfig when they
// can be loaded and find a font (the desktop's sans-serif font, anti-aliased, each
// character from the first installed font that has it), else with a core font and 16-bit
// text (XDrawString16 on an iso10646-1 font), which reaches the Basic Multilingual Plane
// only.
#pragma once

#include "KVZDebugLib/platform/dialog/TextPieces.h"
#include "KVZDebugLib/platform/x11/X11Library.h"

#include <stdint.h>

namespace kvz::platform {

class Typeface {
  public:
    Typeface() = default;
    ~Typeface() = default;
    Typeface(const Typeface &) = delete;
    Typeface &operator=(const Typeface &) = delete;

    // Does what needs no server: loads Xft and fontconfig if they can be, and reads the
    // desktop's font settings (which may take a while on a first run).
    void Begin(const XlibFunctions &xlib, Display *display);
    // Opens a font for the box: Xft's when it can, else a core font. False when neither can
    // be had. The server must have just answered: this makes a few round trips.
    bool Open(int screen, const XRenderColor &text);
    // Frees the fonts; the display is still open.
    void Close();

    bool Smooth() const { return xft_ != nullptr; }
    // Whether Xft has seen the display, so that closing it must take Xft's turn.
    bool TouchedXft() const { return touchedXft_; }
    int Ascent() const { return ascent_; }
    int Descent() const { return descent_; }
    // The advance of the character as drawn.
    int Width(uint32_t code);
    // Draws characters given in the order they are seen, left to right, from x on the
    // baseline, in the text colour (core fonts: the GC's foreground); a combining mark
    // goes on the character before it.
    void Draw(Drawable target, GC gc, int x, int baseline, const uint32_t *codes, int count);

    // X11Shaping.cpp. Whether text is shaped: HarfBuzz is loaded and Xft draws.
    bool Shapes() const { return hb_ != nullptr && xft_ != nullptr; }
    // Shapes a run of one direction given in reading order, and draws it (unless
    // `measure`) from x, its left edge, on the baseline: in pieces of one script and one
    // font, the font chosen for the whole piece so that letters that join share it.
    // Returns its width.
    int ShapeRun(Drawable target, int x, int baseline, const uint32_t *codes, int count,
                 bool rightToLeft, bool measure);

  private:
    void KeepNoClosedFonts();
    bool OpenXft(int screen, const XRenderColor &text);
    bool OpenCore(int screen);
    int FaceFor(uint32_t code, uint32_t *drawn);
    int OpenFace(int setIndex);
    bool CoreHas(uint32_t code) const;
    uint32_t CoreShown(uint32_t code) const;
    int CoreWidth(uint32_t code) const;
    int Advance(uint32_t code);
    void DrawOne(Drawable target, GC gc, int x, int baseline, uint32_t code);
    XftDraw *DrawFor(Drawable target);

    // X11Shaping.cpp.
    template <class Fonts>
    friend int SplitByFont(Fonts &, const uint32_t *, int, int, hb_script_t, TextPiece *, int);
    int FaceForAll(const uint32_t *codes, int from, int to);
    int LoadFlags(const XftFont *font) const;
    hb_font_t *HbFont(int face);
    hb_position_t XftAdvance(int face, FT_UInt glyph, hb_position_t shaped);
    int ShapePiece(const uint32_t *codes, int count, const TextPiece &piece, bool rightToLeft,
                   int x, int baseline, bool measure);
    void CloseShaping();

    const XlibFunctions *xlib_ = nullptr;
    Display *dpy_ = nullptr;
    int ascent_ = 0, descent_ = 0;

    // Xft: the fonts sorted for the box's pattern, and those opened from them.
    const XftFunctions *xft_ = nullptr;
    const FontconfigFunctions *fc_ = nullptr;
    bool touchedXft_ = false;
    FcPattern *pattern_ = nullptr;
    FcFontSet *sorted_ = nullptr;
    XftFont *faces_[kMaxFaces] = {};
    int faceSetIndex_[kMaxFaces] = {};
    int faceCount_ = 0;
    XftDraw *draw_ = nullptr;
    Drawable drawTarget_ = 0;
    XftColor colour_ = {};
    bool colourAllocated_ = false;
    Visual *visual_ = nullptr;
    Colormap colormap_ = 0;

    // HarfBuzz: a font for each face, made once its face is locked for the box's life.
    const HarfbuzzFunctions *hb_ = nullptr;
    hb_font_t *hbFonts_[kMaxFaces] = {};
    hb_buffer_t *buffer_ = nullptr;
    hb_language_t language_ = nullptr;
    TextPiece pieces_[1024] = {};

    // Core: one font.
    XFontStruct *core_ = nullptr;
};

} // namespace kvz::platform
