// The X and text libraries the dialog uses, loaded with dlopen when the first box is wanted: the
// module has no link-time X or font dependency and loads where X is not installed. Only
// their headers are used at compile time.
#pragma once

#include <X11/Xft/Xft.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fontconfig/fontconfig.h>
#include <fribidi.h>
#include <hb-ft.h>
#include <hb.h>

namespace kvz::platform {

// The libX11 functions the dialog uses.
#define KVZ_XLIB_FUNCTIONS(X)                                                                      \
    X(XOpenDisplay)                                                                                \
    X(XCloseDisplay)                                                                               \
    X(XSetErrorHandler)                                                                            \
    X(XSetIOErrorHandler)                                                                          \
    X(XSetIOErrorExitHandler)                                                                      \
    X(XInternAtoms)                                                                                \
    X(XResourceManagerString)                                                                      \
    X(XLoadQueryFont)                                                                              \
    X(XFreeFont)                                                                                   \
    X(XTextExtents16)                                                                              \
    X(XAllocColor)                                                                                 \
    X(XCreateSimpleWindow)                                                                         \
    X(XDestroyWindow)                                                                              \
    X(XChangeProperty)                                                                             \
    X(XGetWindowProperty)                                                                          \
    X(XFree)                                                                                       \
    X(XSetWMNormalHints)                                                                           \
    X(XSetWMHints)                                                                                 \
    X(XSelectInput)                                                                                \
    X(XMapSubwindows)                                                                              \
    X(XMapRaised)                                                                                  \
    X(XUnmapWindow)                                                                                \
    X(XSetSelectionOwner)                                                                          \
    X(XGetSelectionOwner)                                                                          \
    X(XConvertSelection)                                                                           \
    X(XSendEvent)                                                                                  \
    X(XSetInputFocus)                                                                              \
    X(XCreateGC)                                                                                   \
    X(XFreeGC)                                                                                     \
    X(XSetForeground)                                                                              \
    X(XFillRectangle)                                                                              \
    X(XDrawRectangle)                                                                              \
    X(XDrawString16)                                                                               \
    X(XPending)                                                                                    \
    X(XFlush)                                                                                      \
    X(XSync)                                                                                       \
    X(XCheckTypedWindowEvent)                                                                      \
    X(XGrabKeyboard)                                                                               \
    X(XUngrabKeyboard)                                                                             \
    X(XGrabPointer)                                                                                \
    X(XUngrabPointer)                                                                              \
    X(XNextEvent)                                                                                  \
    X(XLookupKeysym)                                                                               \
    X(XRefreshKeyboardMapping)

// The libXft and libfontconfig functions the dialog draws its text with.
#define KVZ_XFT_FUNCTIONS(X)                                                                       \
    X(XftDefaultSet)                                                                               \
    X(XftDefaultSubstitute)                                                                        \
    X(XftFontOpenPattern)                                                                          \
    X(XftFontClose)                                                                                \
    X(XftTextExtents32)                                                                            \
    X(XftDrawCreate)                                                                               \
    X(XftDrawChange)                                                                               \
    X(XftDrawDestroy)                                                                              \
    X(XftDrawString32)                                                                             \
    X(XftColorAllocValue)                                                                          \
    X(XftColorFree)                                                                                \
    X(XftLockFace)                                                                                 \
    X(XftUnlockFace)                                                                               \
    X(XftDrawGlyphSpec)                                                                            \
    X(XftGlyphExtents)
#define KVZ_FC_FUNCTIONS(X)                                                                        \
    X(FcPatternCreate)                                                                             \
    X(FcPatternDestroy)                                                                            \
    X(FcPatternAddString)                                                                          \
    X(FcPatternAddDouble)                                                                          \
    X(FcPatternAddInteger)                                                                         \
    X(FcPatternGetCharSet)                                                                         \
    X(FcPatternGetBool)                                                                            \
    X(FcPatternGetInteger)                                                                         \
    X(FcConfigSubstitute)                                                                          \
    X(FcDefaultSubstitute)                                                                         \
    X(FcFontSort)                                                                                  \
    X(FcFontSetDestroy)                                                                            \
    X(FcFontRenderPrepare)                                                                         \
    X(FcCharSetHasChar)

// The FriBidi functions the dialog orders mixed-direction text with.
#define KVZ_FRIBIDI_FUNCTIONS(X)                                                                   \
    X(fribidi_get_bidi_types)                                                                      \
    X(fribidi_get_bracket_types)                                                                   \
    X(fribidi_get_par_embedding_levels_ex)                                                         \
    X(fribidi_get_mirror_char)

// The HarfBuzz functions the dialog shapes text with.
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

// The argument is a name declared, which parentheses would not allow.
// NOLINTNEXTLINE(bugprone-macro-parentheses)
#define KVZ_X_MEMBER(name) decltype(&::name) name;

struct XlibFunctions {
    KVZ_XLIB_FUNCTIONS(KVZ_X_MEMBER)
};

struct XftFunctions {
    KVZ_XFT_FUNCTIONS(KVZ_X_MEMBER)
    KVZ_FC_FUNCTIONS(KVZ_X_MEMBER)
};

struct HarfbuzzFunctions {
    KVZ_HARFBUZZ_FUNCTIONS(KVZ_X_MEMBER)
};

struct FribidiFunctions {
    KVZ_FRIBIDI_FUNCTIONS(KVZ_X_MEMBER)
};

#undef KVZ_X_MEMBER

// libX11's functions, or null when libX11 cannot be loaded whole.
const XlibFunctions *LoadXlib();

// Xft's and fontconfig's functions, or null when either cannot be loaded whole: the
// dialog then draws with core fonts.
const XftFunctions *LoadXft();

// FriBidi's functions, or null when it cannot be loaded whole: right-to-left text is then
// drawn in a simple order (DialogBidi.h).
const FribidiFunctions *LoadFribidi();

// HarfBuzz's functions, or null when it cannot be loaded whole: text is then drawn a
// character at a time, unshaped.
const HarfbuzzFunctions *LoadHarfbuzz();

// Xft keeps a process-wide list of the displays it knows, unguarded, and reorders it on
// every call. Boxes on different threads take turns at Xft (closing a display included,
// which drops it from the list). The host's own Xft calls on other threads cannot be
// ordered with these.
void LockXft();
void UnlockXft();
// Takes Xft's turn unless it cannot within the given milliseconds.
bool LockXftWithin(int milliseconds);

} // namespace kvz::platform
