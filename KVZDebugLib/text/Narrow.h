// The narrow-string decoder the formatter calls for %hs and %hS. Each platform provides
// it (the tests' recording stand-in too), as it does the other operations of Platform.h.
#pragma once

#include <stddef.h>

namespace kvz {
struct TextSink;
} // namespace kvz

namespace kvz::platform {

// Decodes a zero-terminated narrow string into the sink: UTF-8 on POSIX systems
// (malformed bytes become U+FFFD), the active code page on Windows. Reads at most maxBytes
// bytes, stopping earlier at the terminator or when the sink is full, and returns the
// units produced. A character is written whole or not at all, and one that maxBytes cuts
// short is left out; when the sink fills before the text ends, sink.truncated is set.
size_t PutNarrow(TextSink &sink, const char *text, size_t maxBytes);

} // namespace kvz::platform
