// A run of text cut into pieces of one script and one font for HarfBuzz: the one rule for
// every text path of the dialog, whichever draws the glyphs. A piece is shaped whole in
// one font, so that letters that join share it; spaces, punctuation and marks go with the
// script before them (or, at the start, after).
#pragma once

#include "KVZDebugLib/platform/dialog/DialogLibrary.h"
#include "KVZDebugLib/platform/dialog/ShownText.h"

#include <stdint.h>

namespace kvz::platform {

struct TextPiece {
    uint16_t start, count;
    int8_t face;
    uint32_t drawn; // a character no font has, drawn instead, or 0
    hb_script_t script;
};

// Fonts looked through for one that has a whole piece.
constexpr int kFontsSearched = 32;

// 26.6 fixed point to whole pixels, rounded.
inline int Pixels(hb_position_t value) {
    return value >= 0 ? (value + 32) / 64 : -((32 - value) / 64);
}

// Scripts that take the script of the text around them.
inline bool TakesNeighbours(hb_script_t script) {
    return script == HB_SCRIPT_COMMON || script == HB_SCRIPT_INHERITED ||
           script == HB_SCRIPT_UNKNOWN;
}

// The index in `sorted` of the first font that has every character of codes[from, to),
// or -1.
inline int FirstFontWithAll(const FontconfigFunctions &fc, const FcFontSet &sorted,
                            const uint32_t *codes, int from, int to) {
    const int fonts = sorted.nfont < kFontsSearched ? sorted.nfont : kFontsSearched;
    for (int i = 0; i < fonts; ++i) {
        FcCharSet *chars = nullptr;
        if (fc.FcPatternGetCharSet(sorted.fonts[i], FC_CHARSET, 0, &chars) != FcResultMatch) {
            continue;
        }
        int at = from;
        while (at < to && fc.FcCharSetHasChar(chars, codes[at])) {
            ++at;
        }
        if (at == to) {
            return i;
        }
    }
    return -1;
}

// The index in `sorted` of the first font that has the character, or -1.
inline int FirstFontWith(const FontconfigFunctions &fc, const FcFontSet &sorted, uint32_t code) {
    for (int i = 0; i < sorted.nfont; ++i) {
        FcCharSet *chars = nullptr;
        if (fc.FcPatternGetCharSet(sorted.fonts[i], FC_CHARSET, 0, &chars) == FcResultMatch &&
            fc.FcCharSetHasChar(chars, code)) {
            return i;
        }
    }
    return -1;
}

// What stands for a character no font has (or none that can be opened), drawn in the
// first font: U+FFFD, or '?' where that font lacks it too.
inline uint32_t StandIn(const FontconfigFunctions &fc, FcPattern *first, uint32_t code) {
    FcCharSet *chars = nullptr;
    const bool hasReplacement =
        fc.FcPatternGetCharSet(first, FC_CHARSET, 0, &chars) == FcResultMatch &&
        fc.FcCharSetHasChar(chars, kShownReplacement);
    return code == kShownReplacement || !hasReplacement ? '?' : kShownReplacement;
}

// Adds the pieces of codes[from, to), all of one script, after pieceCount of them: one in
// the face that has them all, else one for each stretch of characters that FaceFor puts
// in one face. Returns the count. `fonts` gives FaceForAll(codes, from, to), a face with
// every character or -1, and FaceFor(code, &drawn).
template <class Fonts>
int SplitByFont(Fonts &fonts, const uint32_t *codes, int from, int to, hb_script_t script,
                TextPiece *pieces, int pieceCount) {
    const int whole = fonts.FaceForAll(codes, from, to);
    if (whole >= 0) {
        pieces[pieceCount++] =
            TextPiece{static_cast<uint16_t>(from), static_cast<uint16_t>(to - from),
                      static_cast<int8_t>(whole), 0, script};
        return pieceCount;
    }
    for (int at = from; at < to;) {
        uint32_t drawn = 0;
        const int face = fonts.FaceFor(codes[at], &drawn);
        int end = at + 1;
        if (drawn == codes[at]) {
            uint32_t next = 0;
            while (end < to && fonts.FaceFor(codes[end], &next) == face && next == codes[end]) {
                ++end;
            }
        }
        pieces[pieceCount++] =
            TextPiece{static_cast<uint16_t>(at), static_cast<uint16_t>(end - at),
                      static_cast<int8_t>(face), drawn == codes[at] ? 0 : drawn, script};
        at = end;
    }
    return pieceCount;
}

// Cuts codes[0, count) into pieces in reading order; there are never more pieces than
// characters.
template <class Fonts>
int CutIntoPieces(Fonts &fonts, const HarfbuzzFunctions &hb, const uint32_t *codes, int count,
                  TextPiece *pieces) {
    hb_unicode_funcs_t *unicode = hb.hb_unicode_funcs_get_default();
    int pieceCount = 0;
    for (int from = 0; from < count;) {
        hb_script_t script = HB_SCRIPT_COMMON;
        int to = from;
        for (; to < count; ++to) {
            const hb_script_t own = hb.hb_unicode_script(unicode, codes[to]);
            if (TakesNeighbours(own)) {
                continue;
            }
            if (script == HB_SCRIPT_COMMON) {
                script = own;
            } else if (own != script) {
                break;
            }
        }
        pieceCount = SplitByFont(fonts, codes, from, to, script, pieces, pieceCount);
        from = to;
    }
    return pieceCount;
}

} // namespace kvz::platform
