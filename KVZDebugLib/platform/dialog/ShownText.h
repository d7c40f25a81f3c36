// How a box shows the host's text: which characters are drawn as they are and which as a
// visible stand-in. One rule for the desktop boxes and the terminal prompt, so a report reads
// the same in both and nothing in it can act on the display instead of being read.
#pragma once

#include <stdint.h>

namespace kvz::platform {

// What stands in for a character that is not shown as itself.
constexpr uint32_t kShownReplacement = 0xFFFD;

// The character a box shows for `code` (a Unicode scalar value, or a lone surrogate).
// Line feed and tab are kept: they lay the text out. Every other C0 control (carriage
// return, backspace and escape among them), DEL, the C1 controls U+0080..U+009F, the
// bidirectional controls (U+061C, U+200E, U+200F, U+202A..U+202E, U+2066..U+2069) and a
// surrogate that is not half of a pair become kShownReplacement; all else is kept.
uint32_t ShownCharacter(uint32_t code);

} // namespace kvz::platform
