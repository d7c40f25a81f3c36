#include "KVZDebugLib/platform/wayland/WaylandKeys.h"

namespace kvz::platform {

namespace {

// Logical pixels of wheel motion that make one step. A wheel's notch is 15 on most
// compositors, and 10 on some.
constexpr double kWheelStep = 10.0;

// xkbcommon numbers keys as X does: the kernel's code plus 8.
constexpr uint32_t kKeycodeOffset = 8;

} // namespace

KeyInput KeyFromXkb(const XkbFunctions &xkb, xkb_keymap *keymap, xkb_state *state,
                    uint32_t kernelCode, bool press) {
    const xkb_keycode_t code = kernelCode + kKeycodeOffset;
    const xkb_layout_index_t layout = xkb.xkb_state_key_get_layout(state, code);
    const xkb_keysym_t *syms = nullptr;
    const int count = layout == XKB_LAYOUT_INVALID
                          ? 0
                          : xkb.xkb_keymap_key_get_syms_by_level(keymap, code, layout, 0, &syms);
    unsigned modifiers = 0;
    if (xkb.xkb_state_mod_name_is_active(state, XKB_MOD_NAME_SHIFT, XKB_STATE_MODS_EFFECTIVE) > 0) {
        modifiers |= kShiftBit;
    }
    if (xkb.xkb_state_mod_name_is_active(state, XKB_MOD_NAME_CTRL, XKB_STATE_MODS_EFFECTIVE) > 0) {
        modifiers |= kControlBit;
    }
    return KeyInput{count > 0 ? syms[0] : 0, modifiers, code, press};
}

bool Repeats(const KeyInput &key) {
    // Whether the text scrolls changes only what Up and Down do, not whether they repeat.
    const KeyAction action = ActionForKey(key.keysym, key.modifiers, true);
    return action != KeyAction::None && action != KeyAction::Copy && !ActsOnRelease(action);
}

int CanvasPixels(double logical, int scale) {
    const double pixels = logical * scale / kScaleUnit;
    // Far outside any box: kept within int, still outside.
    if (pixels < -1e6 || pixels > 1e6) {
        return pixels < 0 ? -1000000 : 1000000;
    }
    return static_cast<int>(pixels < 0 ? pixels - 0.5 : pixels + 0.5);
}

int WheelSteps(double *pending, double value) {
    if (!(value > -1e6 && value < 1e6)) {
        return 0; // not a number, or no wheel's
    }
    *pending += value;
    const int steps = static_cast<int>(*pending / kWheelStep);
    *pending -= steps * kWheelStep;
    return steps;
}

} // namespace kvz::platform
