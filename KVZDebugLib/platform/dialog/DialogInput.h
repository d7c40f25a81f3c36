// What the dialog's keys and mouse wheel do, as plain functions of the key and the
// box's state, so that they are tested without a display. The keys follow the Windows
// message box's: Tab, Shift+Tab and Left/Right move between the buttons, Space and Enter
// press the focused one, Escape answers as closing would, Ctrl+C and Ctrl+Insert copy.
// Up/Down scroll a text taller than the box, and move between the buttons otherwise.
#pragma once

#include <stdint.h>

namespace kvz::platform {

enum class KeyAction {
    None,
    Press,    // the focused button answers
    Close,    // the box answers as closing it would
    Next,     // the focus moves to the next button, round to the first
    Previous, // and back
    Copy,
    LineUp,
    LineDown,
    PageUp,
    PageDown,
    Top,
    End,
};

// Modifier bits of a key event, as X gives them (and a Wayland box maps xkbcommon's to).
constexpr unsigned kShiftBit = 1u << 0;
constexpr unsigned kControlBit = 1u << 2;

// What the key (its keysym as X and xkbcommon number them, unshifted) does with the modifiers held.
// `scrolls` says whether the text is taller than the box.
KeyAction ActionForKey(uint32_t keysym, unsigned modifiers, bool scrolls);

// Whether the action is taken when its key is let go (and only if it was pressed in the
// box, so that a key still held when the box came up answers nothing), rather than when
// it goes down (and again as it repeats).
bool ActsOnRelease(KeyAction action);

// The focused button after the action, of `count` buttons.
int FocusAfter(KeyAction action, int focused, int count);

// The first line shown after a scrolling action (or a wheel step: LineUp/LineDown three
// lines at a time when `wheel`), for `total` lines of which `shown` fit; always within
// [0, total - shown].
int FirstLineAfter(KeyAction action, bool wheel, int first, int shown, int total);

} // namespace kvz::platform
