// Text on the canvas with the installed fonts (Debian fonts-dejavu-core,
// fonts-wqy-microhei): where it lands, how it scales, that Arabic is shaped and that
// fallback fonts and missing characters are handled. Skipped where fontconfig and FreeType
// cannot be loaded (an emulated processor without its font libraries).
#include "KVZDebugLib/platform/dialog/CanvasText.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

namespace kvz::platform {
namespace {

constexpr uint32_t kWhite = 0xFFFFFFFF;
constexpr uint32_t kText = Opaque(0x1A, 0x1A, 0x1A);

const std::vector<uint32_t> kHello = {'H', 'e', 'l', 'l', 'o', ',', ' ', 'w', 'o', 'r', 'l', 'd'};
const std::vector<uint32_t> kSalam = {0x0633, 0x0644, 0x0627, 0x0645}; // salaam

struct Page {
    std::vector<uint32_t> pixels;
    Canvas canvas{};
    Page(int width, int height) : pixels(static_cast<size_t>(width) * height, kWhite) {
        canvas = Canvas{pixels.data(), width, height, width, kScaleUnit};
    }
    // The inked pixels, and the box that holds them.
    int Inked(int *left = nullptr, int *top = nullptr, int *right = nullptr,
              int *bottom = nullptr) const {
        int count = 0, l = INT_MAX, t = INT_MAX, r = INT_MIN, b = INT_MIN;
        for (int y = 0; y < canvas.height; ++y) {
            for (int x = 0; x < canvas.width; ++x) {
                if (pixels[static_cast<size_t>(y) * canvas.width + x] != kWhite) {
                    ++count;
                    l = std::min(l, x), t = std::min(t, y), r = std::max(r, x + 1);
                    b = std::max(b, y + 1);
                }
            }
        }
        if (left != nullptr) {
            *left = l, *top = t, *right = r, *bottom = b;
        }
        return count;
    }
};

class CanvasTextTest : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        if (LoadFontconfig() == nullptr || LoadFreetype() == nullptr) {
            GTEST_SKIP() << "libfontconfig.so.1 or libfreetype.so.6 cannot be loaded here";
        }
        ASSERT_TRUE(text.Open(TextPixelSize(96, kScaleUnit), GetParam()));
        if (GetParam() && !text.Shapes()) {
            GTEST_SKIP() << "libharfbuzz.so.0 cannot be loaded here";
        }
    }
    int Measure(const std::vector<uint32_t> &codes, bool rightToLeft = false) {
        return text.Run(nullptr, 0, 0, codes.data(), static_cast<int>(codes.size()), rightToLeft,
                        kText);
    }
    CanvasText text;
};

TEST_P(CanvasTextTest, AWordInksOnlyItsMeasuredBox) {
    EXPECT_GT(text.Ascent(), 8);
    EXPECT_GT(text.Descent(), 1);
    Page page(200, 40);
    const int x = 20, baseline = 25;
    const int width = text.Run(&page.canvas, x, baseline, kHello.data(),
                               static_cast<int>(kHello.size()), false, kText);
    EXPECT_EQ(width, Measure(kHello));
    EXPECT_GT(width, 50);
    EXPECT_LT(width, 120);
    int left = 0, top = 0, right = 0, bottom = 0;
    EXPECT_GT(page.Inked(&left, &top, &right, &bottom), 100);
    EXPECT_GE(left, x);
    EXPECT_LE(right, x + width);
    EXPECT_GE(top, baseline - text.Ascent());
    EXPECT_LE(bottom, baseline + text.Descent());
    // Ink from the first letter to the last: nothing was left out.
    EXPECT_LE(left, x + 3);
    EXPECT_GE(right, x + width - 4);
}

// Shaped or not, text is spaced by each glyph's whole-pixel advance (as the box measured
// its lines before it drew through the canvas), so a sentence is as wide as its letters
// but for kerning's pixel here and there (fractional advances made it 12 pixels wider).
TEST_P(CanvasTextTest, AWordIsAsWideAsItsLettersShapedOrNot) {
    const char *const sentence = "The renderer keeps drawing, but the mesh is cut short";
    const std::vector<uint32_t> word(sentence, sentence + strlen(sentence));
    int letters = 0;
    for (const uint32_t code : word) {
        letters += text.Width(code);
    }
    EXPECT_NEAR(Measure(word), letters, 2);
}

TEST_P(CanvasTextTest, TextAtScaleTwoIsTwiceAsWide) {
    CanvasText large;
    ASSERT_TRUE(large.Open(TextPixelSize(96, 2 * kScaleUnit), GetParam()));
    const int single = Measure(kHello);
    const int twice =
        large.Run(nullptr, 0, 0, kHello.data(), static_cast<int>(kHello.size()), false, kText);
    EXPECT_NEAR(twice, 2 * single, 2);
    EXPECT_NEAR(large.Ascent() + large.Descent(), 2 * (text.Ascent() + text.Descent()), 2);
}

TEST_P(CanvasTextTest, ACharacterTheFirstFontLacksComesFromAFallbackAndInks) {
    const std::vector<uint32_t> latin = {'A'};
    Measure(latin);
    EXPECT_EQ(text.OpenFaces(), 1);
    const uint32_t middle = 0x4E2D; // a CJK ideograph, not in DejaVu Sans
    Page page(60, 40);
    const int width = text.Run(&page.canvas, 10, 25, &middle, 1, false, kText);
    EXPECT_EQ(text.OpenFaces(), 2);
    EXPECT_GT(width, text.Width('A'));
    int left = 0, top = 0, right = 0, bottom = 0;
    EXPECT_GT(page.Inked(&left, &top, &right, &bottom), 20);
    EXPECT_GE(left, 10);
    EXPECT_LE(right, 10 + width);
}

TEST_P(CanvasTextTest, CharactersNoFontHasAreDrawnAsAStandIn) {
    // A private-use character of the last plane, a lone surrogate, and past Unicode.
    const std::vector<uint32_t> missing = {0x10FFFD, 0xD800, 0x110000, 0xFFFFFFFF};
    const uint32_t replacement = 0xFFFD;
    const int standIn = text.Width(replacement);
    EXPECT_GT(standIn, 0);
    for (const uint32_t code : missing) {
        EXPECT_EQ(text.Width(code), standIn) << std::hex << code;
        Page page(40, 40);
        EXPECT_EQ(text.Run(&page.canvas, 5, 25, &code, 1, false, kText), standIn);
        EXPECT_GT(page.Inked(), 10) << std::hex << code;
    }
    Page page(200, 40);
    EXPECT_EQ(text.Run(&page.canvas, 5, 25, missing.data(), static_cast<int>(missing.size()), false,
                       kText),
              4 * standIn);
}

TEST_P(CanvasTextTest, RunsOutOfReachDrawNothingAndMeasureTheSame) {
    const int width = Measure(kHello);
    const int count = static_cast<int>(kHello.size());
    const struct {
        int x, baseline;
    } places[] = {{-1000, 20},        {1000, 20},         {20, -1000},   {20, 1000},
                  {INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}, {INT_MAX, 20}, {-30, 20}};
    for (const auto &place : places) {
        Page page(20, 40);
        EXPECT_EQ(
            text.Run(&page.canvas, place.x, place.baseline, kHello.data(), count, false, kText),
            width);
        if (place.x != -30) {
            EXPECT_EQ(page.Inked(), 0) << place.x << "," << place.baseline;
        }
    }
    EXPECT_EQ(text.Run(nullptr, 0, 0, nullptr, 5, false, kText), 0);
    EXPECT_EQ(text.Run(nullptr, 0, 0, kHello.data(), 0, false, kText), 0);
    EXPECT_EQ(text.Run(nullptr, 0, 0, kHello.data(), -1, false, kText), 0);
    // A run longer than the text keeps is cut, not read past.
    const std::vector<uint32_t> longRun(3 * kMaxRunLength, 'i');
    const std::vector<uint32_t> kept(kMaxRunLength, 'i');
    EXPECT_EQ(Measure(longRun), Measure(kept));
}

INSTANTIATE_TEST_SUITE_P(ShapedAndNot, CanvasTextTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool> &shaped) {
                             return shaped.param ? "Shaped" : "Unshaped";
                         });

TEST(CanvasShaping, ArabicLettersJoin) {
    CanvasText text;
    if (LoadFontconfig() == nullptr || LoadFreetype() == nullptr || LoadHarfbuzz() == nullptr) {
        GTEST_SKIP() << "the font libraries or libharfbuzz.so.0 cannot be loaded here";
    }
    ASSERT_TRUE(text.Open(TextPixelSize(96, 2 * kScaleUnit)));
    const int joined = text.Run(nullptr, 0, 0, kSalam.data(), 4, true, kText);
    int alone = 0;
    for (const uint32_t letter : kSalam) {
        alone += text.Run(nullptr, 0, 0, &letter, 1, true, kText);
    }
    EXPECT_GT(joined, 0);
    EXPECT_NE(joined, alone);
    // Drawn joined, the word is one stroke: it inks no more columns than it measures.
    Page page(200, 60);
    EXPECT_EQ(text.Run(&page.canvas, 20, 40, kSalam.data(), 4, true, kText), joined);
    int left = 0, top = 0, right = 0, bottom = 0;
    EXPECT_GT(page.Inked(&left, &top, &right, &bottom), 50);
    EXPECT_GE(left, 20 - 2);
    EXPECT_LE(right, 20 + joined + 2);
}

} // namespace
} // namespace kvz::platform
