// The message box as a prompt on the controlling terminal. Standard input is never read:
// the prompt opens /dev/tty itself, so a host that pipes its input is not disturbed.
//
// The prompt's mode is the host's settings with canonical input and echo off, reads that
// never block, and the interrupt and quit characters disabled, so Ctrl-C and Ctrl-\ reach
// the prompt as keys instead of ending the host with its terminal left raw. ISIG and the
// suspend character are kept: Ctrl-Z stops the job through the kernel, which honours the
// host's own SIGTSTP disposition, and the way back from a stop is the same whether Ctrl-Z
// or a SIGSTOP from outside caused it. The library installs no signal handlers, so the
// prompt notices a stop only by looking: it wakes every tenth of a second and, when
// its mode has been changed (a shell takes the terminal back while the job is stopped),
// puts it back, drops what was typed meanwhile and asks again.
#include "KVZDebugLib/platform/dialog/ShownText.h"
#include "KVZDebugLib/platform/posix/PosixMessageBox.h"
#include "KVZDebugLib/platform/posix/PosixOutput.h"
#include "KVZDebugLib/platform/terminal/TerminalKeys.h"
#include "KVZDebugLib/platform/terminal/TerminalTurn.h"
#include "KVZDebugLib/text/TextConstants.h"
#include "KVZDebugLib/text/Utf.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

namespace kvz::platform {

namespace {

// How often a waiting prompt looks whether its mode is still in place.
constexpr int kLookEveryMs = 100;

// The question is gathered here and leaves in as few writes as it can: one, for any text
// a prompt is given by the library.
struct Screen {
    int fd;
    size_t used;
    char bytes[4096];
};

void Flush(Screen &screen) {
    WriteAll(screen.fd, screen.bytes, screen.used);
    screen.used = 0;
}

void PutLiteral(Screen &screen, const char *text) {
    for (; *text != 0; ++text) {
        if (screen.used == sizeof screen.bytes) {
            Flush(screen);
        }
        screen.bytes[screen.used++] = *text;
    }
}

// The host's text, each character as ShownCharacter has it: escape sequences, carriage
// returns, backspaces and the like arrive on the terminal as visible stand-ins, never as
// controls. A surrogate pair stays one character; a lone surrogate is a stand-in too.
void PutShown(Screen &screen, const KVZChar *text) {
    for (size_t i = 0; text[i] != 0; ++i) {
        KVZChar units[2] = {text[i], 0};
        size_t count = 1;
        if (IsHighSurrogate(units[0]) && IsLowSurrogate(text[i + 1])) {
            units[1] = text[++i];
            count = 2;
        } else {
            units[0] = static_cast<KVZChar>(ShownCharacter(static_cast<uint16_t>(units[0])));
        }
        if (sizeof screen.bytes - screen.used < 4) {
            Flush(screen);
        }
        screen.used += Utf16ToUtf8(units, count, screen.bytes + screen.used,
                                   sizeof screen.bytes - screen.used);
    }
}

const char *ChoicesFor(BoxButtons buttons) {
    return buttons == BoxOkCancel ? "[OK: Enter or o] [CANCEL: c or Escape] " : "[OK: Enter] ";
}

void AskQuestion(Screen &screen, const KVZChar *text, const KVZChar *caption, BoxButtons buttons) {
    PutLiteral(screen, "\n[");
    PutShown(screen, caption);
    PutLiteral(screen, "]\n");
    PutShown(screen, text);
    PutLiteral(screen, "\n");
    PutLiteral(screen, ChoicesFor(buttons));
    Flush(screen);
}

// The prompt's mode, made from the settings the host had (see the top of the file).
termios PromptMode(const termios &found) {
    termios mode = found;
    mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    mode.c_cc[VMIN] = 0;
    mode.c_cc[VTIME] = 0;
    mode.c_cc[VINTR] = _POSIX_VDISABLE;
    mode.c_cc[VQUIT] = _POSIX_VDISABLE;
    return mode;
}

bool SameMode(const termios &a, const termios &b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

bool SetMode(int fd, int when, const termios &mode) {
    int result;
    while ((result = tcsetattr(fd, when, &mode)) != 0 && errno == EINTR) {
    }
    return result == 0;
}

// Puts the terminal in the prompt's mode, dropping what was typed before the question is
// (again) asked, and reads back the mode as the terminal took it, to compare with later.
// Unlike TCSAFLUSH this does not wait for earlier output to drain, which a terminal held
// by flow control would never do.
bool TakeTerminal(int fd, const termios &mode, termios &taken) {
    return SetMode(fd, TCSANOW, mode) && tcflush(fd, TCIFLUSH) == 0 && tcgetattr(fd, &taken) == 0;
}

enum class Hold { Ours, Retaken, Away, Gone };

// Whether the terminal is still the prompt's. Retaken: its mode had been changed and has
// been put back. Away: another process group has the foreground (the job was continued
// in the background); the terminal is not touched until the job is in front again.
Hold CheckHold(int fd, const termios &mode, termios &taken) {
    const pid_t front = tcgetpgrp(fd);
    termios now;
    if (front < 0 || (front == getpgrp() && tcgetattr(fd, &now) != 0)) {
        return Hold::Gone;
    }
    if (front != getpgrp()) {
        return Hold::Away;
    }
    if (SameMode(now, taken)) {
        return Hold::Ours;
    }
    return TakeTerminal(fd, mode, taken) ? Hold::Retaken : Hold::Gone;
}

// The answer a key gives, or 0 for a key that answers nothing. Escape, Ctrl-C, Ctrl-Backslash
// (or the terminal's own interrupt and quit characters) and Ctrl-D answer as closing
// the box does: CANCEL, or OK for a box that has only OK.
int32_t AnswerFor(const Key &key, const termios &found, BoxButtons buttons) {
    const int32_t closed = buttons == BoxOkCancel ? kBoxCancel : kBoxOk;
    if (key.kind != KeyKind::Byte) {
        return key.kind == KeyKind::Ignored ? 0 : closed;
    }
    switch (key.byte) {
    case '\r':
    case '\n':
    case 'o':
    case 'O':
        return kBoxOk;
    case 'c':
    case 'C':
    case 0x03: // Ctrl-C
    case 0x04: // Ctrl-D: end of input
    case 0x1c: // Ctrl-Backslash
        return closed;
    default:
        break;
    }
    const bool interrupt = key.byte == found.c_cc[VINTR] || key.byte == found.c_cc[VQUIT];
    return interrupt && key.byte != _POSIX_VDISABLE ? closed : 0;
}

// Waits for the answer. Only keys answer: a signal, a stop and continue or a sequence the
// terminal types by itself does not. A terminal that hangs up answers as closing the box.
int32_t Converse(Screen &screen, const termios &found, const termios &mode, termios &taken,
                 BoxButtons buttons) {
    const int fd = screen.fd;
    for (;;) {
        const Input input = WaitForInput(fd, kLookEveryMs);
        const Hold hold = input == Input::Gone ? Hold::Gone : CheckHold(fd, mode, taken);
        if (hold == Hold::Gone) {
            return AnswerFor(Key{KeyKind::Gone, 0}, found, buttons);
        }
        if (hold == Hold::Retaken) {
            PutLiteral(screen, "\n");
            PutLiteral(screen, ChoicesFor(buttons));
            Flush(screen);
        } else if (hold == Hold::Away) {
            poll(nullptr, 0, kLookEveryMs); // a pause: the input is not ours to look at
        } else if (input == Input::Ready) {
            const int32_t answer = AnswerFor(ReadKey(fd), found, buttons);
            if (answer != 0) {
                return answer;
            }
        }
    }
}

// The whole prompt, once this thread has the terminal to itself.
int32_t Prompt(int fd, const KVZChar *text, const KVZChar *caption, BoxButtons buttons) {
    termios found;
    if (tcgetpgrp(fd) != getpgrp() || tcgetattr(fd, &found) != 0) {
        return kNoSuchBox;
    }
    const termios mode = PromptMode(found);
    termios taken;
    int32_t answer = kNoSuchBox;
    Screen screen;
    screen.fd = fd;
    screen.used = 0;
    if (TakeTerminal(fd, mode, taken)) {
        AskQuestion(screen, text, caption, buttons);
        answer = Converse(screen, found, mode, taken, buttons);
    }
    SetMode(fd, TCSANOW, found);
    if (answer != kNoSuchBox) {
        PutLiteral(screen, answer == kBoxOk ? "OK\n" : "CANCEL\n");
        Flush(screen);
    }
    return answer;
}

} // namespace

int32_t ShowTerminalPrompt(const KVZChar *text, const KVZChar *caption, BoxButtons buttons) {
    const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return kNoSuchBox;
    }
    // Only the foreground may read the terminal; a background process would be stopped
    // by SIGTTIN and wait for nobody. Looked at before waiting for a turn, and again after.
    int32_t answer = kNoSuchBox;
    if (tcgetpgrp(fd) == getpgrp() && TakeTerminalTurn()) {
        answer = Prompt(fd, text, caption, buttons);
        EndTerminalTurn();
    }
    close(fd);
    return answer;
}

} // namespace kvz::platform
