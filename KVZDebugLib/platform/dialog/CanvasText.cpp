#include "KVZDebugLib/platform/dialog/CanvasText.h"

#include "KVZDebugLib/platform/dialog/ShownText.h"

namespace kvz::platform {

namespace {

constexpr double kPointSize = 10.0;

// 26.6 fixed point to whole pixels: rounded, and rounded up.
int Pixels(long value) {
    return static_cast<int>(value >= 0 ? (value + 32) / 64 : -((32 - value) / 64));
}
int PixelsUp(long value) {
    return static_cast<int>(value >= 0 ? (value + 63) / 64 : -(-value / 64));
}

// FreeType's loading flags for the hinting fontconfig chose for the font. Glyphs are
// always drawn from outlines and anti-aliased: a face's embedded bitmaps may be one bit
// deep, and a box at any scale wants outlines.
int LoadFlagsFor(const FontconfigFunctions &fc, FcPattern *font) {
    FcBool hinting = FcTrue;
    int style = FC_HINT_SLIGHT;
    fc.FcPatternGetBool(font, FC_HINTING, 0, &hinting);
    fc.FcPatternGetInteger(font, FC_HINT_STYLE, 0, &style);
    int flags = FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP;
    if (hinting == FcFalse || style == FC_HINT_NONE) {
        return static_cast<int>(flags | FT_LOAD_NO_HINTING);
    }
    return flags | (style == FC_HINT_SLIGHT ? FT_LOAD_TARGET_LIGHT : FT_LOAD_TARGET_NORMAL);
}

} // namespace

double TextPixelSize(int dpi, int scale) {
    return kPointSize * dpi / 72.0 * scale / kScaleUnit;
}

// fontconfig sorts every installed font by the desktop's settings for a sans-serif font of
// the size once, and the first is opened.
bool CanvasText::Open(double pixelSize, bool shape) {
    Close();
    fc_ = LoadFontconfig();
    ft_ = LoadFreetype();
    if (fc_ == nullptr || ft_ == nullptr || !(pixelSize >= 1.0 && pixelSize <= 1000.0) ||
        ft_->FT_Init_FreeType(&library_) != 0) {
        library_ = nullptr;
        return false;
    }
    pixelSize_ = pixelSize;
    pattern_ = fc_->FcPatternCreate();
    if (pattern_ == nullptr) {
        Close();
        return false;
    }
    fc_->FcPatternAddString(pattern_, FC_FAMILY, reinterpret_cast<const FcChar8 *>("sans-serif"));
    fc_->FcPatternAddDouble(pattern_, FC_PIXEL_SIZE, pixelSize);
    fc_->FcConfigSubstitute(nullptr, pattern_, FcMatchPattern);
    fc_->FcDefaultSubstitute(pattern_);
    FcResult result = FcResultNoMatch;
    sorted_ = fc_->FcFontSort(nullptr, pattern_, FcTrue, nullptr, &result);
    if (sorted_ == nullptr || sorted_->nfont == 0 || OpenFace(0) != 0) {
        Close();
        return false;
    }
    const FT_Size_Metrics &metrics = faces_[0]->size->metrics;
    ascent_ = PixelsUp(metrics.ascender);
    descent_ = PixelsUp(-metrics.descender);
    hb_ = shape ? LoadHarfbuzz() : nullptr;
    // HarfBuzz adds a language to its process-wide list the first time it is named; named
    // here, that happens while the fonts are opened (under LockFontconfig, for a box), not
    // while other boxes shape.
    language_ = hb_ != nullptr ? hb_->hb_language_from_string("und", -1) : nullptr;
    return true;
}

void CanvasText::Close() {
    if (hb_ != nullptr) {
        CloseShaping();
    }
    for (int i = 0; i < faceCount_; ++i) {
        ft_->FT_Done_Face(faces_[i]);
    }
    if (library_ != nullptr) {
        ft_->FT_Done_FreeType(library_);
    }
    if (sorted_ != nullptr) {
        fc_->FcFontSetDestroy(sorted_);
    }
    if (pattern_ != nullptr) {
        fc_->FcPatternDestroy(pattern_);
    }
    faceCount_ = 0;
    for (CachedAdvance &slot : advances_) {
        slot.key = 0;
    }
    library_ = nullptr;
    sorted_ = nullptr;
    pattern_ = nullptr;
    hb_ = nullptr;
    ascent_ = descent_ = 0;
}

// The face of the sorted fonts at setIndex, opened at the text's size if it is not yet:
// its index in faces_, or -1 when it cannot be opened (a font of bitmaps alone among
// them) or the box has as many open as it keeps.
int CanvasText::OpenFace(int setIndex) {
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
    FcChar8 *file = nullptr;
    int index = 0;
    FT_Face face = nullptr;
    if (fc_->FcPatternGetString(prepared, FC_FILE, 0, &file) == FcResultMatch &&
        fc_->FcPatternGetInteger(prepared, FC_INDEX, 0, &index) == FcResultMatch &&
        ft_->FT_New_Face(library_, reinterpret_cast<const char *>(file), index, &face) == 0 &&
        // NOLINTNEXTLINE(bugprone-incorrect-roundings): the size is positive; lround is libm's
        ft_->FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(pixelSize_ * 64.0 + 0.5), 72, 72) !=
            0) {
        ft_->FT_Done_Face(face);
        face = nullptr;
    }
    if (face != nullptr) {
        faces_[faceCount_] = face;
        faceSetIndex_[faceCount_] = setIndex;
        loadFlags_[faceCount_] = LoadFlagsFor(*fc_, prepared);
    }
    fc_->FcPatternDestroy(prepared);
    return face != nullptr ? faceCount_++ : -1;
}

// The face that draws the character: the first of the sorted fonts that has it. One that
// none has (or none the text can open) is drawn as U+FFFD, or '?' where the first font
// lacks that too; *drawn is the character drawn.
int CanvasText::FaceFor(uint32_t code, uint32_t *drawn) {
    *drawn = code;
    const int index = FirstFontWith(*fc_, *sorted_, code);
    const int face = index >= 0 ? OpenFace(index) : -1;
    if (face >= 0) {
        return face;
    }
    *drawn = StandIn(*fc_, sorted_->fonts[faceSetIndex_[0]], code);
    return 0;
}

bool CanvasText::LoadGlyph(int face, unsigned glyph) {
    return ft_->FT_Load_Glyph(faces_[face], glyph, loadFlags_[face]) == 0;
}

// Rasterises the glyph last loaded in the face anti-aliased and blends it with its origin
// at (x, baseline).
void CanvasText::BlendLoaded(Canvas &canvas, int face, int x, int baseline, uint32_t colour) {
    FT_GlyphSlot slot = faces_[face]->glyph;
    if (slot->format != FT_GLYPH_FORMAT_BITMAP &&
        ft_->FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) {
        return;
    }
    const FT_Bitmap &bitmap = slot->bitmap;
    if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY || bitmap.num_grays != 256) {
        return;
    }
    const CoverageMask mask = {bitmap.buffer, static_cast<int>(bitmap.width),
                               static_cast<int>(bitmap.rows), bitmap.pitch};
    BlendMask(canvas, x + slot->bitmap_left, baseline - slot->bitmap_top, mask, colour);
}

// The glyph's advance in whole pixels, from the cache or loaded (and then the face's glyph
// slot holds it). False when it cannot be loaded.
bool CanvasText::GlyphAdvance(int face, unsigned glyph, int *advance) {
    const uint32_t key = (static_cast<uint32_t>(face) << 24 | (glyph & 0xFFFFFF)) + 1;
    CachedAdvance &slot = advances_[(glyph * 8u + static_cast<unsigned>(face)) % kAdvanceSlots];
    if (slot.key == key) {
        *advance = slot.advance;
        return true;
    }
    if (glyph > 0xFFFFFF || !LoadGlyph(face, glyph)) {
        return false;
    }
    *advance = Pixels(faces_[face]->glyph->advance.x);
    slot = CachedAdvance{key, *advance};
    return true;
}

int CanvasText::Width(uint32_t code) {
    if (faceCount_ == 0) {
        return 0;
    }
    uint32_t drawn = code;
    const int face = FaceFor(code, &drawn);
    int advance = 0;
    return GlyphAdvance(face, ft_->FT_Get_Char_Index(faces_[face], drawn), &advance) ? advance : 0;
}

// Each character by itself at the pen, which moves by its advance in whole pixels; right
// to left, the last character read is drawn first.
int CanvasText::UnshapedRun(Canvas *canvas, int x, int baseline, const uint32_t *codes, int count,
                            bool rightToLeft, uint32_t colour) {
    int pen = 0;
    for (int k = 0; k < count; ++k) {
        uint32_t drawn = 0;
        const int face = FaceFor(codes[rightToLeft ? count - 1 - k : k], &drawn);
        const unsigned glyph = ft_->FT_Get_Char_Index(faces_[face], drawn);
        if (canvas != nullptr && LoadGlyph(face, glyph)) {
            BlendLoaded(*canvas, face, x + pen, baseline, colour);
        }
        int advance = 0;
        pen += GlyphAdvance(face, glyph, &advance) ? advance : 0;
    }
    return pen;
}

int CanvasText::Run(Canvas *canvas, int x, int baseline, const uint32_t *codes, int count,
                    bool rightToLeft, uint32_t colour) {
    if (faceCount_ == 0 || codes == nullptr || count <= 0) {
        return 0;
    }
    count = count < kMaxRunLength ? count : kMaxRunLength;
    // Text that far out lands on no canvas, and its pixel arithmetic could overflow.
    constexpr int kFar = 1 << 24;
    if (x < -kFar || x > kFar || baseline < -kFar || baseline > kFar) {
        canvas = nullptr;
    }
    if (hb_ != nullptr) {
        return ShapedRun(canvas, x, baseline, codes, count, rightToLeft, colour);
    }
    return UnshapedRun(canvas, x, baseline, codes, count, rightToLeft, colour);
}

} // namespace kvz::platform
