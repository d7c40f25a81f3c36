// The font and text libraries every desktop box uses (fontconfig, FreeType, HarfBuzz,
// FriBidi), loaded with dlopen when the first box is wanted: the module has no link-time
// font dependency and loads where none is installed. Only their headers are used at
// compile time.
#pragma once

#include <fontconfig/fontconfig.h>
#include <fribidi.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <hb-ft.h>
#include <hb.h>

namespace kvz::platform {

// The fontconfig functions the boxes find their fonts with.
#define KVZ_FC_FUNCTIONS(X)                                                                        \
    X(FcPatternCreate)                                                                             \
    X(FcPatternDestroy)                                                                            \
    X(FcPatternAddString)                                                                          \
    X(FcPatternAddDouble)                                                                          \
    X(FcPatternAddInteger)                                                                         \
    X(FcPatternGetCharSet)                                                                         \
    X(FcPatternGetBool)                                                                            \
    X(FcPatternGetInteger)                                                                         \
    X(FcPatternGetString)                                                                          \
    X(FcConfigSubstitute)                                                                          \
    X(FcDefaultSubstitute)                                                                         \
    X(FcFontSort)                                                                                  \
    X(FcFontSetDestroy)                                                                            \
    X(FcFontRenderPrepare)                                                                         \
    X(FcCharSetHasChar)

// Fonts one box keeps open: the first for most text, the rest for what it lacks.
constexpr int kMaxFaces = 8;

// The FreeType functions that open faces and rasterise their glyphs.
#define KVZ_FREETYPE_FUNCTIONS(X)                                                                  \
    X(FT_Init_FreeType)                                                                            \
    X(FT_Done_FreeType)                                                                            \
    X(FT_New_Face)                                                                                 \
    X(FT_Done_Face)                                                                                \
    X(FT_Set_Char_Size)                                                                            \
    X(FT_Get_Char_Index)                                                                           \
    X(FT_Load_Glyph)                                                                               \
    X(FT_Render_Glyph)

// The FriBidi functions that order mixed-direction text.
#define KVZ_FRIBIDI_FUNCTIONS(X)                                                                   \
    X(fribidi_get_bidi_types)                                                                      \
    X(fribidi_get_bracket_types)                                                                   \
    X(fribidi_get_par_embedding_levels_ex)                                                         \
    X(fribidi_get_mirror_char)

// The HarfBuzz functions that shape text.
#define KVZ_HARFBUZZ_FUNCTIONS(X)                                                                  \
    X(hb_buffer_create)                                                                            \
    X(hb_buffer_destroy)                                                                           \
    X(hb_buffer_clear_contents)                                                                    \
    X(hb_buffer_add_utf32)                                                                         \
    X(hb_buffer_set_direction)                                                                     \
    X(hb_buffer_set_script)                                                                        \
    X(hb_buffer_set_language)                                                                      \
    X(hb_buffer_allocation_successful)                                                             \
    X(hb_buffer_get_glyph_infos)                                                                   \
    X(hb_buffer_get_glyph_positions)                                                               \
    X(hb_language_from_string)                                                                     \
    X(hb_shape)                                                                                    \
    X(hb_ft_font_create)                                                                           \
    X(hb_ft_font_set_load_flags)                                                                   \
    X(hb_font_destroy)                                                                             \
    X(hb_font_get_glyph_h_advance)                                                                 \
    X(hb_unicode_funcs_get_default)                                                                \
    X(hb_unicode_script)

// A table member for each function, typed as its header declares it. The argument is a
// name declared, which parentheses would not allow.
// NOLINTNEXTLINE(bugprone-macro-parentheses)
#define KVZ_LIBRARY_MEMBER(name) decltype(&::name) name;

// Resolves a table's member in `lib`; `all` turns false when it is missing.
#define KVZ_LIBRARY_RESOLVE(name)                                                                  \
    table.name = reinterpret_cast<decltype(&::name)>(dlsym(lib, #name));                           \
    all = all && table.name != nullptr;

struct FontconfigFunctions {
    KVZ_FC_FUNCTIONS(KVZ_LIBRARY_MEMBER)
};

struct FreetypeFunctions {
    KVZ_FREETYPE_FUNCTIONS(KVZ_LIBRARY_MEMBER)
};

struct FribidiFunctions {
    KVZ_FRIBIDI_FUNCTIONS(KVZ_LIBRARY_MEMBER)
};

struct HarfbuzzFunctions {
    KVZ_HARFBUZZ_FUNCTIONS(KVZ_LIBRARY_MEMBER)
};

// A library loaded at run time: its file, the table its functions go in, and what
// resolves them (false when one is missing).
struct RunTimeLibrary {
    const char *file;
    void *table;
    bool (*resolve)(void *lib, void *table);
    int state; // 0 until tried
};

// The library's table, loaded on the first call; null when it cannot be loaded whole
// (the library is then let go). Libraries stay loaded once loaded: the host may use them
// too, and unloading libraries that keep process-wide state is not worth the risk.
const void *LoadOnce(RunTimeLibrary &library);

// fontconfig's functions, or null when it cannot be loaded whole.
const FontconfigFunctions *LoadFontconfig();

// FreeType's functions, or null when it cannot be loaded whole.
const FreetypeFunctions *LoadFreetype();

// FriBidi's functions, or null when it cannot be loaded whole: right-to-left text is then
// drawn in a simple order (DialogBidi.h).
const FribidiFunctions *LoadFribidi();

// HarfBuzz's functions, or null when it cannot be loaded whole: text is then drawn a
// character at a time, unshaped.
const HarfbuzzFunctions *LoadHarfbuzz();

// fontconfig builds its configuration on first use, unguarded: boxes on different threads
// take turns at opening their fonts. The host's own calls on other threads cannot be
// ordered with these.
void LockFontconfig();
void UnlockFontconfig();
// Takes the turn unless it cannot within the given milliseconds.
bool LockFontconfigWithin(int milliseconds);

} // namespace kvz::platform
