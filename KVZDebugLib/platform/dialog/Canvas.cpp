#include "KVZDebugLib/platform/dialog/Canvas.h"

namespace kvz::platform {

namespace {

// The part of a rectangle inside the canvas: columns [left, right), rows [top, bottom).
// Computed in 64 bits, so that no coordinates overflow.
struct Span {
    int left, top, right, bottom;
};

bool Usable(const Canvas &canvas) {
    return canvas.pixels != nullptr && canvas.width > 0 && canvas.height > 0 &&
           canvas.stride >= canvas.width;
}

int Clamp(int64_t value, int low, int high) {
    return value < low ? low : value > high ? high : static_cast<int>(value);
}

Span Clip(const Canvas &canvas, int64_t x, int64_t y, int64_t width, int64_t height) {
    if (!Usable(canvas) || width <= 0 || height <= 0) {
        return Span{0, 0, 0, 0};
    }
    return Span{Clamp(x, 0, canvas.width), Clamp(y, 0, canvas.height),
                Clamp(x + width, 0, canvas.width), Clamp(y + height, 0, canvas.height)};
}

void Fill(Canvas &canvas, int64_t x, int64_t y, int64_t width, int64_t height, uint32_t colour) {
    const Span span = Clip(canvas, x, y, width, height);
    for (int row = span.top; row < span.bottom; ++row) {
        uint32_t *line = canvas.pixels + static_cast<int64_t>(row) * canvas.stride;
        for (int column = span.left; column < span.right; ++column) {
            line[column] = colour;
        }
    }
}

// a * b / 255, rounded, for bytes.
uint32_t Multiply(uint32_t a, uint32_t b) {
    const uint32_t product = a * b + 128;
    return (product + (product >> 8)) >> 8;
}

// The premultiplied colour at `coverage`, over the pixel.
uint32_t Over(uint32_t pixel, uint32_t colour, uint32_t coverage) {
    const uint32_t alpha = Multiply(colour >> 24, coverage);
    uint32_t result = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const uint32_t source = Multiply((colour >> shift) & 0xFF, coverage);
        const uint32_t below = Multiply((pixel >> shift) & 0xFF, 255 - alpha);
        const uint32_t sum = source + below;
        result |= (sum > 255 ? 255 : sum) << shift;
    }
    return result;
}

} // namespace

int Scaled(const Canvas &canvas, int length) {
    const int64_t magnitude = length < 0 ? -int64_t{length} : length;
    int64_t scaled = (magnitude * canvas.scale + kScaleUnit / 2) / kScaleUnit;
    if (magnitude > 0 && scaled < 1) {
        scaled = 1;
    }
    return Clamp(length < 0 ? -scaled : scaled, -(1 << 24), 1 << 24);
}

void FillRect(Canvas &canvas, int x, int y, int width, int height, uint32_t colour) {
    Fill(canvas, x, y, width, height, colour);
}

void DrawFrame(Canvas &canvas, int x, int y, int width, int height, int thickness,
               uint32_t colour) {
    if (width <= 0 || height <= 0 || thickness <= 0) {
        return;
    }
    // A border as thick as half the rectangle fills it.
    const int64_t t = thickness;
    if (2 * t >= width || 2 * t >= height) {
        Fill(canvas, x, y, width, height, colour);
        return;
    }
    const int64_t side = int64_t{height} - 2 * t;
    Fill(canvas, x, y, width, t, colour);
    Fill(canvas, x, int64_t{y} + height - t, width, t, colour);
    Fill(canvas, x, int64_t{y} + t, t, side, colour);
    Fill(canvas, int64_t{x} + width - t, int64_t{y} + t, t, side, colour);
}

void DrawFocusRing(Canvas &canvas, int x, int y, int width, int height, uint32_t colour) {
    DrawFrame(canvas, x, y, width, height, Scaled(canvas, 2), colour);
}

void BlendMask(Canvas &canvas, int x, int y, const CoverageMask &mask, uint32_t colour) {
    if (mask.coverage == nullptr || mask.pitch < mask.width) {
        return;
    }
    const Span span = Clip(canvas, x, y, mask.width, mask.height);
    for (int row = span.top; row < span.bottom; ++row) {
        const uint8_t *source = mask.coverage + (static_cast<int64_t>(row) - y) * mask.pitch;
        uint32_t *line = canvas.pixels + static_cast<int64_t>(row) * canvas.stride;
        for (int column = span.left; column < span.right; ++column) {
            const uint32_t amount = source[static_cast<int64_t>(column) - x];
            if (amount != 0) {
                line[column] = Over(line[column], colour, amount);
            }
        }
    }
}

} // namespace kvz::platform
