// Debugger output on POSIX systems: the text as UTF-8 on standard error.
#include "KVZDebugLib/platform/Platform.h"
#include "KVZDebugLib/platform/Utf.h"

#include <errno.h>
#include <unistd.h>

namespace kvz::platform {

namespace {

// Writes all of data, resuming after a partial write or a signal.
void WriteAll(int fd, const char *data, size_t size) {
    while (size > 0) {
        ssize_t wrote = write(fd, data, size);
        if (wrote < 0) {
            if (errno == EINTR) {
                continue;
            }
            return; // nothing is reported about the channel's own trouble
        }
        data += wrote;
        size -= static_cast<size_t>(wrote);
    }
}

} // namespace

void WriteDebugOutput(const KVZChar *text) {
    // A whole message (1023 units, at most 3 bytes each) fits in one piece, so it leaves
    // in one write and does not interleave with other writers. Longer text goes in pieces
    // of whole characters.
    char utf8[4096];
    while (*text != 0) {
        size_t bytes = TerminatedUtf16ToUtf8(text, utf8, sizeof utf8);
        WriteAll(STDERR_FILENO, utf8, bytes);
    }
}

} // namespace kvz::platform
