// Reading the person's keys for the terminal prompt, from a terminal in the prompt's mode
// (no echo, bytes as they come, reads that never block: VMIN and VTIME 0).
#pragma once

namespace kvz::platform {

enum class Input {
    Ready, // a byte can be read
    Quiet, // nothing came in the time given, or a signal cut the wait short
    Gone,  // the terminal hung up
};

// Waits up to waitMs milliseconds for input. A signal ends the wait early, as Quiet, so
// the caller looks at the terminal again and waits on.
Input WaitForInput(int fd, int waitMs);

enum class KeyKind {
    Byte,    // an ordinary key
    Escape,  // Escape on its own
    Ignored, // a key's or the terminal's escape sequence, read whole; or nothing after all
    Gone,    // the terminal hung up
};

struct Key {
    KeyKind kind;
    unsigned char byte; // for KeyKind::Byte
};

// Reads one key. An escape sequence (CSI "ESC [ ... final", SS3 "ESC O x", a string
// "ESC ] ... BEL or ST" and its kin, Alt with a key) is read whole and answers Ignored;
// Escape followed by nothing for a short while is a key of its own.
Key ReadKey(int fd);

} // namespace kvz::platform
