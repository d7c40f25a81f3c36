// The canvas's shapes, pixel by pixel: each case draws on a small canvas inside a larger
// buffer whose other words must stay untouched, and is compared with a picture.
#include "KVZDebugLib/platform/dialog/Canvas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <string>
#include <vector>

namespace kvz::platform {
namespace {

constexpr uint32_t kGuard = 0xDEADBEEF;
constexpr uint32_t kInk = Opaque(0x26, 0x5E, 0xC0);
constexpr int kWidth = 10, kHeight = 8, kStride = 13, kGuardRows = 2;

// A 10 x 8 canvas with a stride of 13, two rows of guard words before and after it and
// three at the end of each row.
struct Board {
    std::vector<uint32_t> words =
        std::vector<uint32_t>(static_cast<size_t>(kStride) * (kHeight + 2 * kGuardRows), kGuard);
    Canvas canvas{};

    explicit Board(int scale = kScaleUnit) {
        canvas = Canvas{words.data() + kGuardRows * kStride, kWidth, kHeight, kStride, scale};
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                canvas.pixels[y * kStride + x] = 0;
            }
        }
    }

    // The canvas as rows of '.' (untouched) and '#' (ink).
    std::string Picture() const {
        std::string picture;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const uint32_t pixel = canvas.pixels[y * kStride + x];
                picture += pixel == 0 ? '.' : pixel == kInk ? '#' : '?';
            }
            picture += '\n';
        }
        return picture;
    }

    // Guard words that something wrote over.
    int GuardsTouched() const {
        int touched = 0;
        for (size_t i = 0; i < words.size(); ++i) {
            const int64_t row = static_cast<int64_t>(i) / kStride - kGuardRows;
            const int64_t column = static_cast<int64_t>(i) % kStride;
            const bool inside = row >= 0 && row < kHeight && column < kWidth;
            touched += !inside && words[i] != kGuard ? 1 : 0;
        }
        return touched;
    }
};

std::string Rows(std::initializer_list<const char *> rows) {
    std::string picture;
    for (const char *row : rows) {
        picture += row;
        picture += '\n';
    }
    return picture;
}

const std::string kBlank = Rows({"..........", "..........", "..........", "..........",
                                 "..........", "..........", "..........", ".........."});
const std::string kFull = Rows({"##########", "##########", "##########", "##########",
                                "##########", "##########", "##########", "##########"});

struct ShapeCase {
    const char *name;
    int scale;
    std::function<void(Canvas &)> draw;
    std::string expected;
};

TEST(Canvas, ShapesDrawExactlyTheirPixelsAndClipAtEveryEdge) {
    const ShapeCase cases[] = {
        {"fill inside", 120, [](Canvas &c) { FillRect(c, 1, 2, 3, 2, kInk); },
         Rows({"..........", "..........", ".###......", ".###......", "..........", "..........",
               "..........", ".........."})},
        {"fill past the left and top", 120, [](Canvas &c) { FillRect(c, -3, -2, 5, 3, kInk); },
         Rows({"##........", "..........", "..........", "..........", "..........", "..........",
               "..........", ".........."})},
        {"fill past the right and bottom", 120,
         [](Canvas &c) { FillRect(c, 8, 6, 100, 100, kInk); },
         Rows({"..........", "..........", "..........", "..........", "..........", "..........",
               "........##", "........##"})},
        {"fill over everything", 120,
         [](Canvas &c) { FillRect(c, -5, -5, INT_MAX, INT_MAX, kInk); }, kFull},
        {"fill ending before the canvas", 120,
         [](Canvas &c) { FillRect(c, INT_MIN, INT_MIN, INT_MAX, INT_MAX, kInk); }, kBlank},
        {"fill beyond the far edges", 120,
         [](Canvas &c) { FillRect(c, INT_MAX, INT_MAX, INT_MAX, INT_MAX, kInk); }, kBlank},
        {"fill of no size", 120,
         [](Canvas &c) {
             FillRect(c, 2, 2, 0, 3, kInk);
             FillRect(c, 2, 2, 3, -1, kInk);
         },
         kBlank},
        {"frame", 120, [](Canvas &c) { DrawFrame(c, 1, 1, 5, 4, 1, kInk); },
         Rows({"..........", ".#####....", ".#...#....", ".#...#....", ".#####....", "..........",
               "..........", ".........."})},
        {"frame cut by every edge", 120, [](Canvas &c) { DrawFrame(c, -1, -1, 10, 8, 1, kInk); },
         Rows({"........#.", "........#.", "........#.", "........#.", "........#.", "........#.",
               "#########.", ".........."})},
        {"frame one pixel wide", 120, [](Canvas &c) { DrawFrame(c, 3, 1, 1, 3, 1, kInk); },
         Rows({"..........", "...#......", "...#......", "...#......", "..........", "..........",
               "..........", ".........."})},
        {"frame thicker than its hole", 120, [](Canvas &c) { DrawFrame(c, 0, 0, 4, 3, 2, kInk); },
         Rows({"####......", "####......", "####......", "..........", "..........", "..........",
               "..........", ".........."})},
        {"frame near the largest coordinate", 120,
         [](Canvas &c) { DrawFrame(c, INT_MAX - 2, INT_MAX - 2, INT_MAX, INT_MAX, 3, kInk); },
         kBlank},
        {"frame of no thickness", 120, [](Canvas &c) { DrawFrame(c, 0, 0, 5, 5, 0, kInk); },
         kBlank},
        {"focus ring at scale 1: two pixels", 120,
         [](Canvas &c) { DrawFocusRing(c, 1, 0, 8, 7, kInk); },
         Rows({".########.", ".########.", ".##....##.", ".##....##.", ".##....##.", ".########.",
               ".########.", ".........."})},
        {"focus ring at scale 1.5: three pixels", 180,
         [](Canvas &c) { DrawFocusRing(c, 0, 0, 10, 8, kInk); },
         Rows({"##########", "##########", "##########", "###....###", "###....###", "##########",
               "##########", "##########"})},
        {"focus ring past the bottom right", 120,
         [](Canvas &c) { DrawFocusRing(c, 6, 4, 10, 10, kInk); },
         Rows({"..........", "..........", "..........", "..........", "......####", "......####",
               "......##..", "......##.."})},
    };
    for (const ShapeCase &test : cases) {
        SCOPED_TRACE(test.name);
        Board board(test.scale);
        test.draw(board.canvas);
        EXPECT_EQ(board.Picture(), test.expected);
        EXPECT_EQ(board.GuardsTouched(), 0);
    }
}

TEST(Canvas, ACanvasWithNoPixelsDrawsNothing) {
    uint32_t word = kGuard;
    const uint8_t coverage[4] = {255, 255, 255, 255};
    const CoverageMask mask = {coverage, 2, 2, 2};
    const Canvas canvases[] = {
        {&word, 0, 0, 0, kScaleUnit},   // no area
        {&word, 1, 0, 1, kScaleUnit},   // no rows
        {nullptr, 1, 1, 1, kScaleUnit}, // no pixels
        {&word, 2, 1, 1, kScaleUnit},   // a stride shorter than a row
        {&word, -1, -1, -1, kScaleUnit},
    };
    for (Canvas canvas : canvases) {
        FillRect(canvas, 0, 0, 10, 10, kInk);
        DrawFrame(canvas, 0, 0, 10, 10, 1, kInk);
        DrawFocusRing(canvas, 0, 0, 10, 10, kInk);
        BlendMask(canvas, 0, 0, mask, kInk);
    }
    EXPECT_EQ(word, kGuard);
}

TEST(Canvas, ScaledLengthsRoundAndNeverVanish) {
    const struct {
        int scale, length, expected;
    } cases[] = {{120, 2, 2}, {150, 2, 3}, {180, 2, 3}, {240, 2, 4},  {150, 1, 1},
                 {60, 1, 1},  {1, 5, 1},   {240, 0, 0}, {240, -3, -6}};
    for (const auto &test : cases) {
        const Canvas canvas = {nullptr, 0, 0, 0, test.scale};
        EXPECT_EQ(Scaled(canvas, test.length), test.expected)
            << test.length << " at " << test.scale;
    }
}

// Each channel of premultiplied `colour` at `coverage` over `below`, as exact arithmetic
// would have it.
uint32_t ExpectedOver(uint32_t below, uint32_t colour, int coverage) {
    const double alpha = (colour >> 24) * coverage / 255.0;
    uint32_t result = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const double value = ((colour >> shift) & 0xFF) * coverage / 255.0 +
                             ((below >> shift) & 0xFF) * (255.0 - alpha) / 255.0;
        result |= static_cast<uint32_t>(value + 0.5) << shift;
    }
    return result;
}

TEST(Canvas, MaskBlendsItsCoverageOverThePixels) {
    constexpr uint32_t kWhite = 0xFFFFFFFF, kHalfRed = 0x80800000;
    const uint8_t coverage[] = {255, 128, 0,   0xEE, // the fourth byte is the row's padding
                                1,   64,  200, 0xEE};
    const CoverageMask mask = {coverage, 3, 2, 4};
    for (const uint32_t colour : {kInk, kHalfRed}) {
        Board board;
        FillRect(board.canvas, 0, 0, kWidth, kHeight, kWhite);
        BlendMask(board.canvas, 4, 5, mask, colour);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const bool inMask = x >= 4 && x < 7 && y >= 5 && y < 7;
                const int amount = inMask ? coverage[(y - 5) * 4 + (x - 4)] : 0;
                const uint32_t pixel = board.canvas.pixels[y * kStride + x];
                const uint32_t expected = ExpectedOver(kWhite, colour, amount);
                for (int shift = 0; shift < 32; shift += 8) {
                    EXPECT_NEAR(static_cast<int>((pixel >> shift) & 0xFF),
                                static_cast<int>((expected >> shift) & 0xFF), 1)
                        << "at " << x << "," << y << " channel " << shift / 8;
                }
            }
        }
        EXPECT_EQ(board.GuardsTouched(), 0);
    }
    // Full coverage lays the colour itself; half-transparent red over white keeps its red.
    Board board;
    FillRect(board.canvas, 0, 0, kWidth, kHeight, kWhite);
    BlendMask(board.canvas, 0, 0, mask, kHalfRed);
    EXPECT_EQ(board.canvas.pixels[0], 0xFFFF7F7Fu);
    BlendMask(board.canvas, 0, 0, mask, kInk);
    EXPECT_EQ(board.canvas.pixels[0], kInk);
}

TEST(Canvas, MasksAreClippedAtEveryEdge) {
    // A 4 x 4 mask in a buffer of exactly its size, so that a read past it is seen too.
    const std::vector<uint8_t> coverage(16, 255);
    const CoverageMask mask = {coverage.data(), 4, 4, 4};
    const struct {
        int x, y, inked;
    } cases[] = {
        {-2, -2, 4},     {8, 6, 4},
        {-3, 3, 4},      {9, -1, 3},
        {3, -4, 0},      {-4, 3, 0},
        {10, 0, 0},      {0, 8, 0},
        {3, 2, 16},      {INT_MIN, 0, 0},
        {0, INT_MIN, 0}, {INT_MAX, 0, 0},
        {0, INT_MAX, 0}, {INT_MAX - 1, INT_MAX - 1, 0},
    };
    for (const auto &test : cases) {
        Board board;
        BlendMask(board.canvas, test.x, test.y, mask, kInk);
        const std::string picture = board.Picture();
        EXPECT_EQ(static_cast<int>(std::count(picture.begin(), picture.end(), '#')), test.inked)
            << "at " << test.x << "," << test.y;
        EXPECT_EQ(board.GuardsTouched(), 0);
    }
    // A pitch shorter than a row, or no coverage at all, draws nothing.
    Board board;
    BlendMask(board.canvas, 0, 0, CoverageMask{coverage.data(), 4, 4, 3}, kInk);
    BlendMask(board.canvas, 0, 0, CoverageMask{nullptr, 4, 4, 4}, kInk);
    EXPECT_EQ(board.Picture(), kBlank);
}

} // namespace
} // namespace kvz::platform
