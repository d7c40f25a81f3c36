// The Wayland box's input as the scene gets it: keys read through a real keymap (as the
// compositor sends one) unshifted, with Shift and Control as the scene's bits, so that the
// keys act as on the X11 box; positions and wheel motion scaled and stepped.
#include "KVZDebugLib/platform/wayland/WaylandKeys.h"

#include <gtest/gtest.h>

#include <math.h>
#include <xkbcommon/xkbcommon-keysyms.h>

namespace {

using namespace kvz::platform;

// Kernel key codes, as wl_keyboard sends them.
constexpr uint32_t kTab = 15, kA = 30, kC = 46, kLeftShift = 42, kLeftControl = 29, kQ = 16;

class XkbKeys : public ::testing::Test {
  protected:
    void SetUp() override {
        xkb_ = LoadXkb();
        ASSERT_NE(xkb_, nullptr) << "libxkbcommon.so.0 could not be loaded";
        context_ = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
        ASSERT_NE(context_, nullptr);
    }
    void TearDown() override {
        if (state_ != nullptr) {
            xkb_state_unref(state_);
        }
        if (keymap_ != nullptr) {
            xkb_keymap_unref(keymap_);
        }
        if (context_ != nullptr) {
            xkb_context_unref(context_);
        }
    }
    // A keymap as a compositor would send it: compiled from names, written out as text,
    // read back the way the box reads the compositor's.
    void UseLayout(const char *layout) {
        const xkb_rule_names names = {"evdev", "pc105", layout, "", ""};
        xkb_keymap *compiled =
            xkb_keymap_new_from_names(context_, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
        ASSERT_NE(compiled, nullptr) << "no keymap for " << layout << " (package xkb-data)";
        char *text = xkb_keymap_get_as_string(compiled, XKB_KEYMAP_FORMAT_TEXT_V1);
        xkb_keymap_unref(compiled);
        keymap_ = xkb_->xkb_keymap_new_from_string(context_, text, XKB_KEYMAP_FORMAT_TEXT_V1,
                                                   XKB_KEYMAP_COMPILE_NO_FLAGS);
        free(text);
        ASSERT_NE(keymap_, nullptr);
        state_ = xkb_->xkb_state_new(keymap_);
    }
    void Hold(uint32_t kernelCode) { xkb_state_update_key(state_, kernelCode + 8, XKB_KEY_DOWN); }
    KeyInput Key(uint32_t kernelCode) {
        return KeyFromXkb(*xkb_, keymap_, state_, kernelCode, true);
    }

    const XkbFunctions *xkb_ = nullptr;
    xkb_context *context_ = nullptr;
    xkb_keymap *keymap_ = nullptr;
    xkb_state *state_ = nullptr;
};

TEST_F(XkbKeys, KeysAreReadUnshiftedWithTheirModifiers) {
    UseLayout("us");
    KeyInput tab = Key(kTab);
    EXPECT_EQ(tab.keysym, static_cast<uint32_t>(XKB_KEY_Tab));
    EXPECT_EQ(tab.modifiers, 0u);
    EXPECT_EQ(tab.keycode, kTab + 8);
    EXPECT_TRUE(tab.press);
    Hold(kLeftShift);
    tab = Key(kTab); // Shift+Tab: Tab with Shift, not ISO_Left_Tab
    EXPECT_EQ(tab.keysym, static_cast<uint32_t>(XKB_KEY_Tab));
    EXPECT_EQ(tab.modifiers, kShiftBit);
    EXPECT_EQ(Key(kA).keysym, static_cast<uint32_t>(XKB_KEY_a));
    Hold(kLeftControl);
    const KeyInput copy = Key(kC);
    EXPECT_EQ(copy.keysym, static_cast<uint32_t>(XKB_KEY_c));
    EXPECT_EQ(copy.modifiers, kShiftBit | kControlBit);
    EXPECT_EQ(ActionForKey(copy.keysym, copy.modifiers, false), KeyAction::Copy);
}

TEST_F(XkbKeys, TheLayoutInUseNamesTheKey) {
    UseLayout("fr"); // AZERTY: the key where Q is on a US keyboard types A
    EXPECT_EQ(Key(kQ).keysym, static_cast<uint32_t>(XKB_KEY_a));
}

// Moving and scrolling repeat as the key is held; what answers or copies never does.
TEST(WaylandKeys, OnlyMovingAndScrollingKeysRepeat) {
    struct Case {
        uint32_t keysym;
        unsigned modifiers;
        bool repeats;
    } const cases[] = {
        {XKB_KEY_Tab, 0, true},          {XKB_KEY_Tab, kShiftBit, true},
        {XKB_KEY_Down, 0, true},         {XKB_KEY_Page_Down, 0, true},
        {XKB_KEY_Left, 0, true},         {XKB_KEY_Return, 0, false},
        {XKB_KEY_space, 0, false},       {XKB_KEY_Escape, 0, false},
        {XKB_KEY_c, kControlBit, false}, {XKB_KEY_a, 0, false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Repeats(KeyInput{c.keysym, c.modifiers, 9, true}), c.repeats)
            << std::hex << c.keysym << " with " << c.modifiers;
    }
}

TEST(WaylandPointer, LogicalPositionsScaleToCanvasPixels) {
    struct Case {
        double logical;
        int scale, pixels;
    } const cases[] = {
        {10.0, kScaleUnit, 10},
        {10.0, 2 * kScaleUnit, 20},
        {10.0, 150, 13},
        {10.0, 180, 15},
        {-3.0, 180, -5},
        {0.25, 240, 1},
        {1e300, kScaleUnit, 1000000},
        {-1e300, 240, -1000000},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(CanvasPixels(c.logical, c.scale), c.pixels) << c.logical << " at " << c.scale;
    }
}

TEST(WaylandPointer, WheelMotionAddsUpToSteps) {
    double pending = 0;
    EXPECT_EQ(WheelSteps(&pending, 15.0), 1); // one notch
    EXPECT_EQ(WheelSteps(&pending, 4.0), 0);  // a touchpad's small moves add up...
    EXPECT_EQ(WheelSteps(&pending, 2.0), 1);  // ...to a step
    EXPECT_EQ(WheelSteps(&pending, -30.0), -2);
    EXPECT_EQ(WheelSteps(&pending, -1.0), -1);
    EXPECT_EQ(WheelSteps(&pending, NAN), 0);
    EXPECT_EQ(WheelSteps(&pending, 1e300), 0);
    EXPECT_EQ(WheelSteps(&pending, -12.0), -1); // what was pending is not lost to bad input
}

} // namespace
