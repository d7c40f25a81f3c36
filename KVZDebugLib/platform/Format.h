// The bounded, allocation-free wide formatter used on every platform. It follows the
// Windows runtime's wide conventions: %s, %ls, %ws take a 16-bit string; %S, %hs a narrow
// one (UTF-8 on POSIX, the active code page on Windows).
#pragma once

#include "KVZDebugLib/KVZDebugLib.h"

#include <stdarg.h>
#include <stddef.h>

namespace kvz {

// Formats into buffer[capacity] (terminator included), cutting what does not fit, and
// returns the length of the text written. A null format yields empty text; %n writes
// nothing; an unknown conversion is copied as it stands. Time is bounded by the buffer,
// whatever the widths or precisions asked.
size_t FormatText(KVZChar *buffer, size_t capacity, const KVZChar *format, va_list args);
size_t FormatTextV(KVZChar *buffer, size_t capacity, const KVZChar *format, ...);

} // namespace kvz
