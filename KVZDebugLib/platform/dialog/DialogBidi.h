// The order the dialog draws a line in, from the embedding levels of the Unicode
// bidirectional algorithm: FriBidi's (loaded at run time, libfribidi.so.0) where it can be
// had, with the paragraph's direction taken from its text and bracket pairs resolved;
// else a simple reading of the text, which only turns right-to-left runs round. Lines are
// reordered after wrapping. Apart from calling FriBidi these are plain functions, tested
// without a display.
#pragma once

#include <stdint.h>

namespace kvz::platform {

// Whether the character is written right to left (Hebrew, Arabic, Syriac, Thaana, N'Ko and
// their presentation forms).
bool IsRightToLeft(uint32_t code);

// The embedding levels of one paragraph (no line feed in it) into levels[count], and its
// base level: FriBidi's when `full` and FriBidi can be loaded, else SimpleLevels' (base 0).
uint8_t ParagraphLevels(const uint32_t *codes, int count, bool full, uint8_t *levels);

// The simple reading: each right-to-left run (right-to-left letters, with the digits,
// spaces and punctuation between them) at level 1, a number inside it at level 2, all else
// at level 0.
void SimpleLevels(const uint32_t *codes, int count, uint8_t *levels);

// Whether FriBidi is loaded, so that ParagraphLevels gives its levels.
bool HaveFullBidi();

// The character drawn for one at an odd (right-to-left) level: its mirror image, such as
// ')' for '(', where FriBidi knows one; else itself.
uint32_t MirroredCharacter(uint32_t code);

// A run of a line at one level: codes [start, start + count).
struct LevelRun {
    uint16_t start;
    uint16_t count;
    uint8_t level;
};

// The runs of the line [start, start + count) of a paragraph in the order they are drawn,
// left to right, into runs (room for count), and how many: spaces at the line's end take
// the paragraph's base level, and runs are turned round from the highest level down to the
// lowest odd one.
int LineRuns(const uint32_t *codes, const uint8_t *levels, int start, int count, uint8_t base,
             LevelRun *runs);

// The order in which the line's characters are drawn, left to right, as indexes into the
// text: LineRuns', a run at an odd level back to front with each combining mark kept after
// its letter. `order` has room for count; `runs` (scratch) too.
void LineOrder(const uint32_t *codes, const uint8_t *levels, int start, int count, uint8_t base,
               LevelRun *runs, uint16_t *order);

} // namespace kvz::platform
