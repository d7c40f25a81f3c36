// Shaped text on the Xft path: HarfBuzz (loaded at run time, libharfbuzz.so.0) turns a run
// of characters into the glyphs and positions its font asks for, so Arabic letters join
// and Indic conjuncts form. A run is cut into pieces of one script, each drawn in one
// font: the first of the sorted fonts that has every character of the piece, so that
// letters that join are never split between fonts; only a piece no single font covers
// falls back a character at a time. Each face is locked (XftLockFace) the first time a
// piece needs it and stays locked until the box closes, and HarfBuzz reads the FreeType
// face Xft sized. The buffer's language is set, so HarfBuzz never reads the locale.
#include "KVZDebugLib/platform/x11/X11Text.h"

namespace kvz::platform {

namespace {

// Glyphs sent to Xft at once.
constexpr int kGlyphBatch = 64;

} // namespace

void Typeface::CloseShaping() {
    for (int i = 0; i < faceCount_; ++i) {
        if (hbFonts_[i] != nullptr) {
            hb_->hb_font_destroy(hbFonts_[i]);
            xft_->XftUnlockFace(faces_[i]);
            hbFonts_[i] = nullptr;
        }
    }
    if (buffer_ != nullptr) {
        hb_->hb_buffer_destroy(buffer_);
        buffer_ = nullptr;
    }
}

// FreeType's loading flags for the hinting the font was opened with, so that HarfBuzz's
// advances are the ones Xft draws its glyphs with (whole pixels, when hinted).
int Typeface::LoadFlags(const XftFont *font) const {
    FcBool hinting = FcTrue, antialias = FcTrue;
    int style = FC_HINT_SLIGHT;
    fc_->FcPatternGetBool(font->pattern, FC_HINTING, 0, &hinting);
    fc_->FcPatternGetBool(font->pattern, FC_ANTIALIAS, 0, &antialias);
    fc_->FcPatternGetInteger(font->pattern, FC_HINT_STYLE, 0, &style);
    if (hinting == FcFalse || style == FC_HINT_NONE) {
        return FT_LOAD_DEFAULT | FT_LOAD_NO_HINTING;
    }
    if (antialias == FcFalse) {
        return FT_LOAD_DEFAULT | FT_LOAD_TARGET_MONO;
    }
    return FT_LOAD_DEFAULT |
           (style == FC_HINT_SLIGHT ? FT_LOAD_TARGET_LIGHT : FT_LOAD_TARGET_NORMAL);
}

// HarfBuzz's font for a face, made the first time; null when the face cannot be locked.
hb_font_t *Typeface::HbFont(int face) {
    if (hbFonts_[face] == nullptr) {
        FT_Face locked = xft_->XftLockFace(faces_[face]);
        if (locked == nullptr) {
            return nullptr;
        }
        hbFonts_[face] = hb_->hb_ft_font_create(locked, nullptr);
        hb_->hb_ft_font_set_load_flags(hbFonts_[face], LoadFlags(faces_[face]));
    }
    return hbFonts_[face];
}

// The face of the first sorted font that has every character of codes[from, to), or -1.
int Typeface::FaceForAll(const uint32_t *codes, int from, int to) {
    const int index = FirstFontWithAll(*fc_, *sorted_, codes, from, to);
    return index >= 0 ? OpenFace(index) : -1;
}

// A glyph's advance as HarfBuzz placed it, with the glyph's own advance as Xft draws it
// (whole pixels, when hinted) in place of the font's unhinted one, so that shaped text is
// spaced as Xft spaces it; what shaping added (kerning, or a mark's advance taken away)
// is kept.
hb_position_t Typeface::XftAdvance(int face, FT_UInt glyph, hb_position_t shaped) {
    if (shaped == 0) {
        return 0;
    }
    XGlyphInfo extents = {};
    xft_->XftGlyphExtents(dpy_, faces_[face], &glyph, 1, &extents);
    const hb_position_t own = hb_->hb_font_get_glyph_h_advance(hbFonts_[face], glyph);
    return shaped + static_cast<hb_position_t>(extents.xOff) * 64 - own;
}

// Shapes one piece (with the whole run as its context) and draws it from x unless
// `measure`; returns its advance.
int Typeface::ShapePiece(const uint32_t *codes, int count, const TextPiece &piece, bool rightToLeft,
                         int x, int baseline, bool measure) {
    hb_font_t *font = HbFont(piece.face);
    if (font == nullptr) {
        return 0;
    }
    hb_->hb_buffer_clear_contents(buffer_);
    if (piece.drawn != 0) {
        hb_->hb_buffer_add_utf32(buffer_, &piece.drawn, 1, 0, 1);
    } else {
        hb_->hb_buffer_add_utf32(buffer_, codes, count, piece.start, piece.count);
    }
    hb_->hb_buffer_set_direction(buffer_, rightToLeft ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
    hb_->hb_buffer_set_script(buffer_, piece.script);
    hb_->hb_buffer_set_language(buffer_, language_);
    hb_->hb_shape(font, buffer_, nullptr, 0);
    unsigned glyphCount = 0;
    const hb_glyph_info_t *glyphs = hb_->hb_buffer_get_glyph_infos(buffer_, &glyphCount);
    const hb_glyph_position_t *at = hb_->hb_buffer_get_glyph_positions(buffer_, nullptr);
    XftDraw *draw = measure ? nullptr : draw_; // ShapeRun has put it on the target
    XftGlyphSpec batch[kGlyphBatch];
    int batched = 0;
    hb_position_t pen = 0;
    for (unsigned i = 0; i < glyphCount; ++i) {
        batch[batched].glyph = glyphs[i].codepoint;
        batch[batched].x = static_cast<short>(x + Pixels(pen + at[i].x_offset));
        batch[batched].y = static_cast<short>(baseline - Pixels(at[i].y_offset));
        pen += XftAdvance(piece.face, glyphs[i].codepoint, at[i].x_advance);
        if (++batched == kGlyphBatch || i + 1 == glyphCount) {
            if (draw != nullptr) {
                xft_->XftDrawGlyphSpec(draw, &colour_, faces_[piece.face], batch, batched);
            }
            batched = 0;
        }
    }
    return Pixels(pen);
}

int Typeface::ShapeRun(Drawable target, int x, int baseline, const uint32_t *codes, int count,
                       bool rightToLeft, bool measure) {
    LockFontconfig();
    if (buffer_ == nullptr) {
        buffer_ = hb_->hb_buffer_create();
        language_ = hb_->hb_language_from_string("und", -1);
    }
    int width = 0;
    if (hb_->hb_buffer_allocation_successful(buffer_) != 0) {
        if (!measure) {
            DrawFor(target);
        }
        const int pieceCount = CutIntoPieces(*this, *hb_, codes, count, pieces_);
        // Right to left, the last piece read is the first drawn.
        for (int k = 0; k < pieceCount; ++k) {
            const TextPiece &piece = pieces_[rightToLeft ? pieceCount - 1 - k : k];
            width += ShapePiece(codes, count, piece, rightToLeft, x + width, baseline, measure);
        }
    }
    UnlockFontconfig();
    return width;
}

} // namespace kvz::platform
