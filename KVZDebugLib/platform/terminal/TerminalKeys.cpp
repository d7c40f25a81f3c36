// Keys for the terminal prompt. Arrows, function keys and the terminal's own replies to
// status requests all begin with Escape; they are read to their end and dropped, so that
// neither they nor their tails answer the prompt or spill into whatever reads next.
#include "KVZDebugLib/platform/terminal/TerminalKeys.h"

#include <errno.h>
#include <poll.h>
#include <stdint.h>
#include <time.h>
#include <unistd.h>

namespace kvz::platform {

namespace {

constexpr unsigned char kEscape = 0x1b;
constexpr unsigned char kBell = 0x07;
constexpr unsigned char kCancel = 0x18;     // CAN: abandons a sequence
constexpr unsigned char kSubstitute = 0x1a; // SUB: likewise
// A terminal sends a sequence's bytes together; a gap this long ends it, and Escape
// followed by such a gap was pressed on its own.
constexpr int kSequenceGapMs = 80;

int64_t NowMs() {
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// 1 with a byte, 0 when there was none after all, -1 when the terminal is gone.
int ReadByte(int fd, unsigned char &byte) {
    for (;;) {
        const ssize_t got = read(fd, &byte, 1);
        if (got >= 0) {
            return static_cast<int>(got);
        }
        if (errno != EINTR) {
            return errno == EAGAIN ? 0 : -1;
        }
    }
}

// The next byte of a sequence, as ReadByte, or 0 when none comes within the gap. Signals
// do not stretch the gap: it is measured on the clock.
int NextByte(int fd, unsigned char &byte) {
    const int64_t deadline = NowMs() + kSequenceGapMs;
    for (;;) {
        const int64_t left = deadline - NowMs();
        const Input input = WaitForInput(fd, left > 0 ? static_cast<int>(left) : 0);
        if (input == Input::Gone) {
            return -1;
        }
        if (input == Input::Ready) {
            const int got = ReadByte(fd, byte);
            if (got != 0) {
                return got;
            }
        }
        if (left <= 0) {
            return 0;
        }
    }
}

// CSI: parameter and intermediate bytes up to a final byte (0x40..0x7E).
int SkipControlSequence(int fd) {
    unsigned char byte = 0;
    int got;
    while ((got = NextByte(fd, byte)) > 0 && byte >= 0x20 && byte < 0x40) {
    }
    return got;
}

// OSC, DCS, APC, PM, SOS: a string up to BEL or ST (ESC \).
int SkipString(int fd) {
    unsigned char byte = 0;
    int got;
    while ((got = NextByte(fd, byte)) > 0) {
        if (byte == kBell || byte == kCancel || byte == kSubstitute) {
            break;
        }
        if (byte == kEscape) {
            got = NextByte(fd, byte); // the backslash of ST
            break;
        }
    }
    return got;
}

// What follows an Escape already read.
Key AfterEscape(int fd) {
    unsigned char byte = kEscape;
    while (byte == kEscape) { // a second Escape starts the sequence anew
        const int got = NextByte(fd, byte);
        if (got <= 0) {
            return Key{got < 0 ? KeyKind::Gone : KeyKind::Escape, 0};
        }
    }
    int got = 1; // Alt with a key: the two bytes are the whole of it
    switch (byte) {
    case '[':
        got = SkipControlSequence(fd);
        break;
    case 'O':
        got = NextByte(fd, byte);
        break;
    case ']':
    case 'P':
    case '_':
    case '^':
    case 'X':
        got = SkipString(fd);
        break;
    default:
        break;
    }
    return Key{got < 0 ? KeyKind::Gone : KeyKind::Ignored, 0};
}

} // namespace

Input WaitForInput(int fd, int waitMs) {
    pollfd watched = {fd, POLLIN, 0};
    const int got = poll(&watched, 1, waitMs);
    if (got < 0) {
        return errno == EINTR || errno == EAGAIN ? Input::Quiet : Input::Gone;
    }
    if (got == 0) {
        return Input::Quiet;
    }
    // A hung-up terminal also reports input, which reads as nothing: it is gone.
    if ((watched.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        return Input::Gone;
    }
    return Input::Ready;
}

Key ReadKey(int fd) {
    unsigned char byte = 0;
    const int got = ReadByte(fd, byte);
    if (got <= 0) {
        return Key{got < 0 ? KeyKind::Gone : KeyKind::Ignored, 0};
    }
    if (byte != kEscape) {
        return Key{KeyKind::Byte, byte};
    }
    return AfterEscape(fd);
}

} // namespace kvz::platform
