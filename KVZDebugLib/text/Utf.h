// Conversions between the library's 16-bit text and UTF-8, bounded and allocation-free.
#pragma once

#include "KVZDebugLib/KVZDebugLib.h"
#include "KVZDebugLib/text/TextSink.h"

#include <stddef.h>

namespace kvz {

// Writes text[0..count) as UTF-8 into out[capacity] (no terminator added) and returns the
// bytes written. An unpaired surrogate becomes U+FFFD. A character that does not fit
// whole is not written, nor anything after it.
size_t Utf16ToUtf8(const KVZChar *text, size_t count, char *out, size_t capacity);

// Converts the zero-terminated text from `text` on into out[capacity] as UTF-8, as far as
// whole characters fit (an unpaired surrogate becomes U+FFFD, a pair stays together),
// and returns the bytes written; `text` is left at the first unit not converted, so the
// text is done when it points at the terminator. Runs of ASCII go 16 units at a time, and
// bytes of out past the count returned (inside out[capacity]) may have been written.
size_t TerminatedUtf16ToUtf8(const KVZChar *&text, char *out, size_t capacity);

// Decodes zero-terminated UTF-8 into the sink, reading at most maxBytes bytes (stopping
// earlier at the terminator or when the sink is full); malformed bytes become U+FFFD.
// Returns the units produced. When the sink fills before the text ends it sets
// sink.truncated; a character is written whole or not at all. A sequence that maxBytes
// cuts short is left out. It is the POSIX systems' narrow text (platform::PutNarrow).
size_t PutUtf8(TextSink &sink, const char *text, size_t maxBytes);

} // namespace kvz
