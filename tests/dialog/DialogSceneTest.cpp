// The box as a scene, drawn into memory and driven by keys and the pointer, without any
// server: what the pixels show after each input, and what it answers. Skipped where
// fontconfig and FreeType cannot be loaded.
#include "KVZDebugLib/platform/dialog/DialogScene.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kvz::platform {
namespace {

constexpr uint32_t kUnset = 0x12345678;
const Rect kScreen = {0, 0, 1280, 1024};

struct Box {
    DialogScene scene;
    std::vector<uint32_t> pixels;
    Canvas canvas{};

    bool Prepare(const std::u16string &text, BoxButtons buttons, int scale = kScaleUnit,
                 Rect area = kScreen, bool ownsCaption = false) {
        const SceneSetup setup = {96, scale, area, ownsCaption};
        if (!scene.Prepare(reinterpret_cast<const KVZChar *>(text.c_str()),
                           reinterpret_cast<const KVZChar *>(u"Caption"), buttons, setup)) {
            return false;
        }
        const Rect window = scene.Geometry().window;
        pixels.assign(static_cast<size_t>(window.width) * window.height, kUnset);
        canvas = Canvas{pixels.data(), window.width, window.height, window.width, scale};
        scene.Draw(canvas);
        return true;
    }
    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * canvas.width + x]; }
    // Applies a response as a presenter does: draws what it says changed.
    SceneResponse Apply(const SceneResponse &response) {
        if (response.redraw) {
            scene.Draw(canvas, response.changed);
        }
        return response;
    }
    SceneResponse Key(uint32_t keysym, bool press, unsigned modifiers = 0) {
        return Apply(scene.Key(KeyInput{keysym, modifiers, keysym & 0xFF, press}));
    }
    int32_t Stroke(uint32_t keysym, unsigned modifiers = 0) {
        Key(keysym, true, modifiers);
        return Key(keysym, false, modifiers).answer;
    }
    SceneResponse Point(PointerKind kind, int x, int y) {
        return Apply(scene.Pointer(PointerInput{kind, x, y}));
    }
    // A point in the middle of the button's face left of its label, clear of its border.
    uint32_t Face(int button) const {
        const Rect box = scene.ButtonBox(button);
        return At(box.x + box.width / 8, box.y + box.height / 2);
    }
    uint32_t Edge(int button) const {
        const Rect box = scene.ButtonBox(button);
        return At(box.x, box.y + box.height / 2);
    }
    // The top and bottom rows of the scroll thumb in the right margin, or -1.
    void Thumb(int *top, int *bottom) const {
        *top = *bottom = -1;
        for (int y = 0; y < scene.Geometry().bandTop; ++y) {
            if (At(canvas.width - 9, y) == kBorderColour) {
                *top = *top < 0 ? y : *top;
                *bottom = y;
            }
        }
    }
};

class DialogSceneTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (LoadFontconfig() == nullptr || LoadFreetype() == nullptr) {
            GTEST_SKIP() << "libfontconfig.so.1 or libfreetype.so.6 cannot be loaded here";
        }
    }
};

TEST_F(DialogSceneTest, TheFocusRingMovesWithTabAndEnterAnswersTheFocusedButton) {
    Box box;
    ASSERT_TRUE(box.Prepare(u"Continue?", BoxOkCancel));
    EXPECT_EQ(box.At(2, 2), kBodyColour);
    EXPECT_EQ(box.At(2, box.scene.Geometry().bandTop + 1), kBandColour);
    EXPECT_EQ(box.Edge(0), kFocusColour);
    EXPECT_EQ(box.Edge(1), kBorderColour);
    EXPECT_EQ(box.Face(0), kFaceColour);

    const SceneResponse tab = box.Key(XK_Tab, true);
    EXPECT_TRUE(tab.redraw);
    EXPECT_EQ(tab.answer, 0);
    EXPECT_EQ(box.Edge(0), kBorderColour);
    EXPECT_EQ(box.Edge(1), kFocusColour);
    EXPECT_EQ(box.Key(XK_Tab, false).answer, 0);
    box.Key(XK_Tab, true, kShiftBit);
    box.Key(XK_Tab, false, kShiftBit);
    EXPECT_EQ(box.Edge(0), kFocusColour);
    box.Key(XK_Right, true);
    EXPECT_EQ(box.Stroke(XK_Return), kBoxCancel);
    EXPECT_EQ(box.Stroke(XK_Escape), kBoxCancel);

    // A key let go that went down before the box came up answers nothing.
    EXPECT_EQ(box.Key(XK_Return, false).answer, 0);
    EXPECT_EQ(box.Stroke(XK_c, kControlBit), 0);
    EXPECT_TRUE(box.scene.Key(KeyInput{XK_c, kControlBit, 1, true}).copy);
}

TEST_F(DialogSceneTest, AHeldButtonShowsPressedAndAnswersOnlyWhenLetGoOverIt) {
    Box box;
    ASSERT_TRUE(box.Prepare(u"Continue?", BoxOkCancel));
    const Rect cancel = box.scene.ButtonBox(1);
    const int x = cancel.x + cancel.width / 2, y = cancel.y + cancel.height / 2;
    EXPECT_TRUE(box.Point(PointerKind::Press, x, y).redraw);
    EXPECT_EQ(box.Face(1), kPressedFaceColour);
    EXPECT_EQ(box.Face(0), kFaceColour);
    // Dragged off, the button comes up; back on, it goes down again.
    EXPECT_TRUE(box.Point(PointerKind::Motion, x, cancel.y - 5).redraw);
    EXPECT_EQ(box.Face(1), kFaceColour);
    EXPECT_FALSE(box.Point(PointerKind::Motion, 3, 3).redraw);
    box.Point(PointerKind::Motion, x, y);
    EXPECT_EQ(box.Face(1), kPressedFaceColour);
    box.Point(PointerKind::Leave, 0, 0);
    EXPECT_EQ(box.Face(1), kFaceColour);
    // Let go outside: no answer, and the face is up.
    const SceneResponse outside = box.Point(PointerKind::Release, 2, 2);
    EXPECT_EQ(outside.answer, 0);
    EXPECT_EQ(box.Face(1), kFaceColour);
    // A press beside the buttons holds nothing; a release then answers nothing.
    EXPECT_FALSE(box.Point(PointerKind::Press, 2, 2).redraw);
    EXPECT_EQ(box.Point(PointerKind::Release, x, y).answer, 0);

    box.Point(PointerKind::Press, x, y);
    EXPECT_EQ(box.Point(PointerKind::Release, x + 1, y).answer, kBoxCancel);
    const Rect ok = box.scene.ButtonBox(0);
    box.Point(PointerKind::Press, ok.x, ok.y);
    EXPECT_EQ(box.Point(PointerKind::Release, ok.x + ok.width - 1, ok.y + ok.height - 1).answer,
              kBoxOk);
}

TEST_F(DialogSceneTest, ATallTextScrollsAndItsThumbFollows) {
    std::u16string text;
    for (int i = 0; i < 120; ++i) {
        text += u"Line of a long report\n";
    }
    Box box;
    ASSERT_TRUE(box.Prepare(text, BoxOk, kScaleUnit, Rect{0, 0, 800, 400}));
    ASSERT_LT(box.scene.Geometry().shownLines, box.scene.LineCount());
    EXPECT_LE(box.scene.Geometry().window.height, 400);
    int top = 0, bottom = 0, nextTop = 0, nextBottom = 0;
    box.Thumb(&top, &bottom);
    ASSERT_GT(top, 0);
    EXPECT_TRUE(box.Point(PointerKind::WheelDown, 5, 5).redraw);
    EXPECT_EQ(box.scene.FirstLine(), 3);
    box.Thumb(&nextTop, &nextBottom);
    EXPECT_GT(nextTop, top);
    EXPECT_EQ(nextBottom - nextTop, bottom - top);
    box.Key(XK_End, true);
    EXPECT_EQ(box.scene.FirstLine(), box.scene.LineCount() - box.scene.Geometry().shownLines);
    box.Thumb(&nextTop, &nextBottom);
    EXPECT_GT(nextBottom, box.scene.Geometry().bandTop - 2 * 16 - 2);
    // At the end, a step further changes nothing.
    EXPECT_FALSE(box.Point(PointerKind::WheelDown, 5, 5).redraw);
    box.Key(XK_Home, true);
    box.Thumb(&nextTop, &nextBottom);
    EXPECT_EQ(nextTop, top);

    Box once;
    ASSERT_TRUE(once.Prepare(u"Short", BoxOk));
    EXPECT_FALSE(once.Point(PointerKind::WheelDown, 5, 5).redraw);
    once.Thumb(&top, &bottom);
    EXPECT_EQ(top, -1);
}

TEST_F(DialogSceneTest, ScaleTwoDoublesEveryLength) {
    Box one, two;
    ASSERT_TRUE(one.Prepare(u"Continue with the next step?", BoxOkCancel));
    ASSERT_TRUE(two.Prepare(u"Continue with the next step?", BoxOkCancel, 2 * kScaleUnit,
                            Rect{0, 0, 2560, 2048}));
    // The font's ascent and descent are rounded up to whole pixels at each size, so a
    // length at scale 2 may be a few per cent short of twice its length at scale 1.
    const auto close = [](int doubled, int single) {
        EXPECT_NEAR(doubled, 2 * single, 2 * single * 8 / 100 + 2) << single;
    };
    close(two.scene.Geometry().window.width, one.scene.Geometry().window.width);
    close(two.scene.Geometry().window.height, one.scene.Geometry().window.height);
    close(two.scene.ButtonBox(1).x, one.scene.ButtonBox(1).x);
    close(two.scene.ButtonBox(1).height, one.scene.ButtonBox(1).height);
    // The focus ring is two pixels wide at scale 1, four at scale 2.
    const Rect a = one.scene.ButtonBox(0), b = two.scene.ButtonBox(0);
    EXPECT_EQ(one.At(a.x + 1, a.y + a.height / 2), kFocusColour);
    EXPECT_NE(one.At(a.x + 2, a.y + a.height / 2), kFocusColour);
    EXPECT_EQ(two.At(b.x + 3, b.y + b.height / 2), kFocusColour);
    EXPECT_NE(two.At(b.x + 4, b.y + b.height / 2), kFocusColour);

    // Laid out again at scale 2, the box keeps its focus and matches one made at 2.
    one.Key(XK_Tab, true);
    ASSERT_TRUE(one.scene.Rescale(2 * kScaleUnit));
    EXPECT_EQ(one.scene.Focused(), 1);
    EXPECT_EQ(one.scene.ButtonBox(1).width, two.scene.ButtonBox(1).width);
    EXPECT_EQ(one.scene.Geometry().window.height, two.scene.Geometry().window.height);
}

TEST_F(DialogSceneTest, TheOwnCaptionBandMovesTheBoxAndItsCloseControlCloses) {
    for (const BoxButtons buttons : {BoxOk, BoxOkCancel}) {
        Box box, plain;
        ASSERT_TRUE(box.Prepare(u"Continue?", buttons, kScaleUnit, kScreen, true));
        ASSERT_TRUE(plain.Prepare(u"Continue?", buttons));
        const int band = box.scene.CaptionHeight();
        ASSERT_GT(band, 10);
        EXPECT_EQ(plain.scene.CaptionHeight(), 0);
        EXPECT_EQ(box.scene.Geometry().window.height, plain.scene.Geometry().window.height + band);
        EXPECT_EQ(box.scene.ButtonBox(0).y, plain.scene.ButtonBox(0).y + band);
        EXPECT_EQ(box.At(1, 1), kBandColour);
        EXPECT_EQ(box.At(1, band + 1), kBodyColour);
        const Rect close = box.scene.CloseBox();
        EXPECT_EQ(close.x + close.width, box.scene.Geometry().window.width);
        EXPECT_EQ(box.At(close.x + close.width / 2, close.y + close.height / 2), kTextColour);

        EXPECT_TRUE(box.Point(PointerKind::Press, 5, band / 2).move);
        EXPECT_EQ(box.Point(PointerKind::Release, 5, band / 2).answer, 0);
        EXPECT_FALSE(box.Point(PointerKind::Press, 5, band + 5).move);
        box.Point(PointerKind::Release, 5, band + 5);
        EXPECT_FALSE(plain.Point(PointerKind::Press, 5, 2).move);

        // Pressed, the control shows it; let go off it, nothing; on it, the closed answer.
        const int x = close.x + 2, y = close.y + 2;
        EXPECT_FALSE(box.Point(PointerKind::Press, x, y).move);
        EXPECT_EQ(box.At(x, y), kPressedFaceColour);
        EXPECT_EQ(box.Point(PointerKind::Release, close.x - 3, y).answer, 0);
        EXPECT_EQ(box.At(x, y), kBandColour);
        box.Point(PointerKind::Press, x, y);
        EXPECT_EQ(box.Point(PointerKind::Release, x, y).answer, box.scene.ClosedAnswer());
        EXPECT_EQ(box.scene.ClosedAnswer(), buttons == BoxOk ? kBoxOk : kBoxCancel);
    }
}

TEST_F(DialogSceneTest, AChangeRedrawsOnlyThePartItTouches) {
    Box box;
    ASSERT_TRUE(box.Prepare(u"Continue?", BoxOkCancel));
    std::fill(box.pixels.begin(), box.pixels.end(), kUnset);
    box.Key(XK_Tab, true);
    EXPECT_EQ(box.At(2, 2), kUnset);      // the body is left alone
    EXPECT_EQ(box.Edge(1), kFocusColour); // the band and buttons are drawn
    EXPECT_EQ(box.At(box.canvas.width - 1, box.canvas.height - 1), kBandColour);

    char copied[kCopyCapacity];
    const std::string text(copied, box.scene.CopyText(copied, sizeof copied));
    EXPECT_NE(text.find("Caption"), std::string::npos) << text;
    EXPECT_NE(text.find("Continue?"), std::string::npos) << text;
    EXPECT_NE(text.find("OK   Cancel"), std::string::npos) << text;
}

} // namespace
} // namespace kvz::platform
