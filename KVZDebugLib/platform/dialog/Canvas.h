// The dialog's drawing surface: 32-bit pixels in memory, no window system. Each pixel is
// premultiplied ARGB in a native-endian word (alpha in the top byte), which is what
// XPutImage takes on a 24- or 32-bit TrueColor visual and what wl_shm calls ARGB8888.
// The pixels are the caller's: nothing here allocates. Every operation clips to the
// canvas, so no coordinates, however large or negative, write outside it; a canvas with
// no pixels, no area or a stride shorter than a row draws nothing.
#pragma once

#include <stdint.h>

namespace kvz::platform {

// A scale of 1 in the units fractional scales are given in (120 = 1, 150 = 1.25, 180 = 1.5).
constexpr int kScaleUnit = 120;

struct Canvas {
    uint32_t *pixels;
    int width, height;
    int stride; // pixels from one row to the next, at least width
    int scale;  // in kScaleUnit units: 120 = 1, 240 = 2
};

// An opaque colour from 8-bit red, green and blue.
constexpr uint32_t Opaque(uint32_t red, uint32_t green, uint32_t blue) {
    return 0xFF000000u | (red & 0xFF) << 16 | (green & 0xFF) << 8 | (blue & 0xFF);
}

// Canvas pixels for a length given at scale 1, rounded; a length not 0 stays at least 1.
int Scaled(const Canvas &canvas, int length);

// Sets every pixel of the rectangle to the colour.
void FillRect(Canvas &canvas, int x, int y, int width, int height, uint32_t colour);

// A border `thickness` pixels wide inside the rectangle's edges, as X's rectangle outline
// of (width - 1) x (height - 1) draws it at thickness 1.
void DrawFrame(Canvas &canvas, int x, int y, int width, int height, int thickness, uint32_t colour);

// The ring round the button Enter answers: a border two pixels wide at scale 1, scaled,
// inside the button's edges.
void DrawFocusRing(Canvas &canvas, int x, int y, int width, int height, uint32_t colour);

// An 8-bit coverage mask (a glyph's bitmap): rows of `pitch` bytes, laid with its top left
// at (x, y), blends the colour over the canvas in proportion to each byte's coverage.
struct CoverageMask {
    const uint8_t *coverage;
    int width, height;
    int pitch; // bytes from one row to the next, at least width (else nothing is drawn)
};
void BlendMask(Canvas &canvas, int x, int y, const CoverageMask &mask, uint32_t colour);

} // namespace kvz::platform
