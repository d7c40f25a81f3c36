// The message box as a prompt on the controlling terminal. Standard input is never read:
// the prompt opens /dev/tty itself, so a host that pipes its input is not disturbed.
#include "KVZDebugLib/platform/PosixMessageBox.h"
#include "KVZDebugLib/platform/PosixOutput.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

namespace kvz::platform {

namespace {

void WriteLiteral(int fd, const char *text) {
    WriteAll(fd, text, strlen(text));
}

// The answer a key gives, or 0 for a key that answers nothing.
int32_t AnswerFor(unsigned char key, BoxButtons buttons) {
    const bool okCancel = buttons == BoxOkCancel;
    switch (key) {
    case '\r':
    case '\n':
    case 'o':
    case 'O':
        return kBoxOk;
    case 'c':
    case 'C':
    case 0x1b: // Escape
        return okCancel ? kBoxCancel : kBoxOk;
    default:
        return 0;
    }
}

// Reads keys until one answers. End of input (or Ctrl-D) answers as closing the box
// would; so does a read interrupted by a signal, since the person asked to stop.
int32_t ReadAnswer(int fd, BoxButtons buttons) {
    const int32_t closed = buttons == BoxOkCancel ? kBoxCancel : kBoxOk;
    for (;;) {
        unsigned char key = 0;
        ssize_t got = read(fd, &key, 1);
        if (got <= 0 || key == 0x04) {
            return closed;
        }
        int32_t answer = AnswerFor(key, buttons);
        if (answer != 0) {
            return answer;
        }
    }
}

} // namespace

int32_t ShowTerminalPrompt(const KVZChar *text, const KVZChar *caption, BoxButtons buttons) {
    int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return kNoSuchBox;
    }
    // Only the foreground may read the terminal; a background process would be stopped
    // by SIGTTIN and wait for nobody.
    struct termios saved;
    if (tcgetpgrp(fd) != getpgrp() || tcgetattr(fd, &saved) != 0) {
        close(fd);
        return kNoSuchBox;
    }

    // One key at a time, without echo, set before the question appears so that a key
    // pressed as soon as it does is taken. The settings are put back exactly as they were.
    struct termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &raw) != 0) {
        close(fd);
        return kNoSuchBox;
    }

    WriteLiteral(fd, "\n[");
    WriteUtf8(fd, caption);
    WriteLiteral(fd, "]\n");
    WriteUtf8(fd, text);
    WriteLiteral(fd, buttons == BoxOkCancel ? "\n[OK: Enter or o] [CANCEL: c or Escape] "
                                            : "\n[OK: Enter] ");
    int32_t answer = ReadAnswer(fd, buttons);
    while (tcsetattr(fd, TCSANOW, &saved) != 0 && errno == EINTR) {
    }
    WriteLiteral(fd, answer == kBoxOk ? "OK\n" : "CANCEL\n");
    close(fd);
    return answer;
}

} // namespace kvz::platform
