// Debugger output on POSIX systems: the text as UTF-8 on standard error.
#include "KVZDebugLib/platform/posix/PosixOutput.h"

#include "KVZDebugLib/platform/Platform.h"
#include "KVZDebugLib/text/Utf.h"

#include <errno.h>
#include <unistd.h>

namespace kvz::platform {

void WriteAll(int fd, const char *data, size_t size) {
    while (size > 0) {
        ssize_t wrote = write(fd, data, size);
        if (wrote < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        data += wrote;
        size -= static_cast<size_t>(wrote);
    }
}

void WriteUtf8(int fd, const KVZChar *text) {
    char utf8[1536];
    while (*text != 0) {
        size_t bytes = TerminatedUtf16ToUtf8(text, utf8, sizeof utf8);
        WriteAll(fd, utf8, bytes);
    }
}

void WriteDebugOutput(const KVZChar *text) {
    WriteUtf8(STDERR_FILENO, text);
}

} // namespace kvz::platform
