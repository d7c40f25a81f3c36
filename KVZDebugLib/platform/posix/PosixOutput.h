// Writing text to a file descriptor on POSIX systems, for the debugger output and the
// terminal prompt. Nothing is reported about the descriptor's own trouble.
#pragma once

#include "KVZDebugLib/KVZDebugLib.h"

#include <stddef.h>

namespace kvz::platform {

// Writes all of data, resuming after a partial write or a signal.
void WriteAll(int fd, const char *data, size_t size);

// Writes a zero-terminated text as UTF-8 (an unpaired surrogate as U+FFFD). Text whose
// UTF-8 takes up to 1536 bytes (any whole message in ASCII, any of up to 512 units) leaves
// in one write, so it does not interleave with other writers; longer text goes in pieces
// of whole characters. The buffer is kept that small so that a report fits a signal
// stack of 8 KiB beside the kernel's own frame.
void WriteUtf8(int fd, const KVZChar *text);

} // namespace kvz::platform
