// Shaped text on the canvas: HarfBuzz turns a run of characters into the glyphs and
// positions its font asks for. A run is cut into pieces of one script, each drawn in one
// font: the first of the sorted fonts that has every character of the piece, so that
// letters that join are never split between fonts; only a piece no single font covers
// falls back a character at a time. HarfBuzz reads the FreeType face the text opened, with
// the loading flags its glyphs are drawn with. The buffer's language is set, so HarfBuzz
// never reads the locale.
#include "KVZDebugLib/platform/dialog/CanvasText.h"

namespace kvz::platform {

void CanvasText::CloseShaping() {
    for (int i = 0; i < faceCount_; ++i) {
        if (hbFonts_[i] != nullptr) {
            hb_->hb_font_destroy(hbFonts_[i]);
            hbFonts_[i] = nullptr;
        }
    }
    if (buffer_ != nullptr) {
        hb_->hb_buffer_destroy(buffer_);
        buffer_ = nullptr;
    }
}

// HarfBuzz's font for a face, made the first time. The face, sized once when opened,
// outlives it.
hb_font_t *CanvasText::HbFont(int face) {
    if (hbFonts_[face] == nullptr) {
        hbFonts_[face] = hb_->hb_ft_font_create(faces_[face], nullptr);
        hb_->hb_ft_font_set_load_flags(hbFonts_[face], loadFlags_[face]);
    }
    return hbFonts_[face];
}

// The face of the first sorted font that has every character of codes[from, to), or -1.
int CanvasText::FaceForAll(const uint32_t *codes, int from, int to) {
    const int index = FirstFontWithAll(*fc_, *sorted_, codes, from, to);
    return index >= 0 ? OpenFace(index) : -1;
}

// A glyph's advance as HarfBuzz placed it, with the glyph's own advance in whole pixels (as
// a hinted glyph is loaded, and as unshaped text is spaced) in place of the font's
// fractional one, so that shaped and unshaped text are spaced alike and letters do not
// drift off the pixel grid; what shaping added (kerning, or a mark's advance taken away)
// is kept.
hb_position_t CanvasText::WholeAdvance(hb_font_t *font, int face, unsigned glyph,
                                       hb_position_t shaped) {
    int whole = 0;
    if (shaped == 0 || !GlyphAdvance(face, glyph, &whole)) {
        return shaped;
    }
    return shaped + whole * 64 - hb_->hb_font_get_glyph_h_advance(font, glyph);
}

// Shapes one piece (with the whole run as its context) and draws it from x when there is
// a canvas; returns its advance.
int CanvasText::ShapePiece(Canvas *canvas, const uint32_t *codes, int count, const TextPiece &piece,
                           bool rightToLeft, int x, int baseline, uint32_t colour) {
    hb_font_t *font = HbFont(piece.face);
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
    hb_position_t pen = 0;
    for (unsigned i = 0; i < glyphCount; ++i) {
        if (canvas != nullptr && LoadGlyph(piece.face, glyphs[i].codepoint)) {
            BlendLoaded(*canvas, piece.face, x + Pixels(pen + at[i].x_offset),
                        baseline - Pixels(at[i].y_offset), colour);
        }
        pen += WholeAdvance(font, piece.face, glyphs[i].codepoint, at[i].x_advance);
    }
    return Pixels(pen);
}

int CanvasText::ShapedRun(Canvas *canvas, int x, int baseline, const uint32_t *codes, int count,
                          bool rightToLeft, uint32_t colour) {
    if (buffer_ == nullptr) {
        buffer_ = hb_->hb_buffer_create();
        language_ = hb_->hb_language_from_string("und", -1);
    }
    if (hb_->hb_buffer_allocation_successful(buffer_) == 0) {
        return 0;
    }
    const int pieceCount = CutIntoPieces(*this, *hb_, codes, count, pieces_);
    int width = 0;
    // Right to left, the last piece read is the first drawn.
    for (int k = 0; k < pieceCount; ++k) {
        const TextPiece &piece = pieces_[rightToLeft ? pieceCount - 1 - k : k];
        width += ShapePiece(canvas, codes, count, piece, rightToLeft, x + width, baseline, colour);
    }
    return width;
}

} // namespace kvz::platform
