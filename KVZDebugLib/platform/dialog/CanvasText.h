// Text on the canvas, without the locale or a window system: the desktop's sans-serif font
// as fontconfig sorts the installed fonts for it, each character from the first of them
// that has it, opened with FreeType and rasterised anti-aliased into the canvas. Runs are
// shaped by HarfBuzz where it can be loaded (CanvasShaping.cpp), so Arabic letters join
// and Indic conjuncts form; else characters are placed one at a time by their advances.
// A character no font has is drawn as U+FFFD, or '?' where the first font lacks that too.
//
// One text keeps its own FreeType library and faces and is used by one thread at a time;
// nothing is allocated here beyond what the libraries allocate themselves.
#pragma once

#include "KVZDebugLib/platform/dialog/Canvas.h"
#include "KVZDebugLib/platform/dialog/DialogLibrary.h"
#include "KVZDebugLib/platform/dialog/TextPieces.h"

#include <stdint.h>

namespace kvz::platform {

// Characters of one run that are drawn or measured; more are left out.
constexpr int kMaxRunLength = 1024;

// The text's height in pixels for a screen's resolution and a scale (kScaleUnit units):
// 10 points, the size dialogs of the common desktops use.
double TextPixelSize(int dpi, int scale);

class CanvasText {
  public:
    CanvasText() = default;
    ~CanvasText() { Close(); }
    CanvasText(const CanvasText &) = delete;
    CanvasText &operator=(const CanvasText &) = delete;

    // Finds and opens the fonts for text `pixelSize` pixels high, shaping it when `shape`
    // and HarfBuzz can be loaded. False when fontconfig or FreeType cannot be loaded or
    // the first font cannot be opened.
    bool Open(double pixelSize, bool shape = true);
    void Close();

    bool Shapes() const { return hb_ != nullptr; }
    int Ascent() const { return ascent_; }
    int Descent() const { return descent_; }
    // Fonts opened so far: the first, and each fallback some text has needed.
    int OpenFaces() const { return faceCount_; }
    // The advance of one character drawn alone.
    int Width(uint32_t code);
    // Draws a run of one direction, given in reading order, from x (its left edge) on the
    // baseline in the colour; with no canvas only measures. Returns its width.
    int Run(Canvas *canvas, int x, int baseline, const uint32_t *codes, int count, bool rightToLeft,
            uint32_t colour);

  private:
    int OpenFace(int setIndex);
    int FaceFor(uint32_t code, uint32_t *drawn);
    bool LoadGlyph(int face, unsigned glyph);
    bool GlyphAdvance(int face, unsigned glyph, int *advance);
    void BlendLoaded(Canvas &canvas, int face, int x, int baseline, uint32_t colour);
    int UnshapedRun(Canvas *canvas, int x, int baseline, const uint32_t *codes, int count,
                    bool rightToLeft, uint32_t colour);

    // CanvasShaping.cpp.
    template <class Fonts>
    friend int SplitByFont(Fonts &, const uint32_t *, int, int, hb_script_t, TextPiece *, int);
    int FaceForAll(const uint32_t *codes, int from, int to);
    hb_font_t *HbFont(int face);
    hb_position_t WholeAdvance(hb_font_t *font, int face, unsigned glyph, hb_position_t shaped);
    int ShapePiece(Canvas *canvas, const uint32_t *codes, int count, const TextPiece &piece,
                   bool rightToLeft, int x, int baseline, uint32_t colour);
    int ShapedRun(Canvas *canvas, int x, int baseline, const uint32_t *codes, int count,
                  bool rightToLeft, uint32_t colour);
    void CloseShaping();

    const FontconfigFunctions *fc_ = nullptr;
    const FreetypeFunctions *ft_ = nullptr;
    FT_Library library_ = nullptr;
    double pixelSize_ = 0;
    int ascent_ = 0, descent_ = 0;

    // The fonts sorted for the pattern, and those opened from them.
    FcPattern *pattern_ = nullptr;
    FcFontSet *sorted_ = nullptr;
    FT_Face faces_[kMaxFaces] = {};
    int faceSetIndex_[kMaxFaces] = {};
    int loadFlags_[kMaxFaces] = {};
    int faceCount_ = 0;

    // Glyph advances in whole pixels, as loaded (hinted), by face and glyph: a box measures
    // its text several times before and while drawing it, and a hinted load is dear.
    struct CachedAdvance {
        uint32_t key; // face << 24 | glyph, plus one; 0 for none
        int advance;
    };
    static constexpr unsigned kAdvanceSlots = 512;
    CachedAdvance advances_[kAdvanceSlots] = {};

    // HarfBuzz: a font for each face, made the first time a piece needs it.
    const HarfbuzzFunctions *hb_ = nullptr;
    hb_font_t *hbFonts_[kMaxFaces] = {};
    hb_buffer_t *buffer_ = nullptr;
    hb_language_t language_ = nullptr;
    TextPiece pieces_[kMaxRunLength] = {};
};

} // namespace kvz::platform
