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
    // in one write and does not interleave with other writers. Longer text goes in pieces.
    char utf8[4096];
    size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    constexpr size_t kUnitsPerPiece = sizeof utf8 / 3;
    static_assert(kUnitsPerPiece > 1, "a piece must hold a whole surrogate pair");
    size_t done = 0;
    while (done < length) {
        size_t count = length - done < kUnitsPerPiece ? length - done : kUnitsPerPiece;
        // Keep a surrogate pair within one piece (a piece that does not end the text is
        // a whole kUnitsPerPiece, so one unit less still makes progress).
        if (done + count < length && text[done + count - 1] >= 0xD800 &&
            text[done + count - 1] <= 0xDBFF) {
            --count;
        }
        size_t bytes = Utf16ToUtf8(text + done, count, utf8, sizeof utf8);
        WriteAll(STDERR_FILENO, utf8, bytes);
        done += count;
    }
}

} // namespace kvz::platform
