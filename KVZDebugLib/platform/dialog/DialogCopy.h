// The box as text, as Ctrl+C copies it: the Windows message box's layout, with line feeds.
//
//   ---------------------------
//   <caption>
//   ---------------------------
//   <text>
//   ---------------------------
//   OK   Cancel
//   ---------------------------
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace kvz::platform {

struct BoxContent {
    const uint32_t *caption;
    int captionCount;
    const uint32_t *text;
    int textCount;
    const char *const *labels;
    int labelCount;
};

// Room for the text of any box: its caption and text at their longest, at three bytes of
// UTF-8 for each of their UTF-16 units, and the rest.
constexpr size_t kCopyCapacity = 4096;

// Writes the box as UTF-8 into out[capacity] and returns the bytes written; what does
// not fit is left off, a character whole or not at all.
size_t BoxAsText(const BoxContent &box, char *out, size_t capacity);

// Converts UTF-8 as BoxAsText writes it to Latin-1 (ICCCM's STRING), from *from on, as
// far as it fits in out[capacity]; a character beyond U+00FF becomes '?'. *from is left
// at the first byte not converted; returns the bytes written.
size_t Utf8ToLatin1(const char *text, size_t length, size_t *from, char *out, size_t capacity);

} // namespace kvz::platform
