// The Wayland box's input as the scene takes it, as plain functions so that they are
// tested without a compositor: a key through the compositor's keymap, a pointer position
// in canvas pixels, wheel motion in steps.
#pragma once

#include "KVZDebugLib/platform/dialog/DialogScene.h"
#include "KVZDebugLib/platform/wayland/WaylandLibrary.h"

namespace kvz::platform {

// A key (as the kernel numbers it, which is what wl_keyboard sends) as the scene takes it:
// the keysym its layout gives it unshifted, as the X11 box reads keys, and Shift and
// Control as they are held in `state`.
KeyInput KeyFromXkb(const XkbFunctions &xkb, xkb_keymap *keymap, xkb_state *state,
                    uint32_t kernelCode, bool press);

// Whether a key held down acts again as it repeats: the keys that move the focus or
// scroll. Wayland leaves repeating to the client; the keys that answer never repeat.
bool Repeats(const KeyInput &key);

// A position in logical pixels as canvas pixels at the scale (kScaleUnit units).
int CanvasPixels(double logical, int scale);

// Wheel motion (logical pixels, positive down) added to what is pending; returns the whole
// steps it makes (negative up) and keeps the rest pending, so a touchpad's small moves
// add up and a wheel's notch is one step.
int WheelSteps(double *pending, double value);

} // namespace kvz::platform
