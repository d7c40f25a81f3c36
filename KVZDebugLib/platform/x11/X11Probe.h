// Deadlines for the X11 dialog: Xlib waits on its server with no time limit, so the
// dialog proves the server answers before it lets Xlib wait, and waits itself only in
// poll() with a deadline.
#pragma once

#include <stdint.h>

namespace kvz::platform {

// How long the dialog waits for its server at any one time, in milliseconds.
constexpr int kX11DeadlineMs = 3000;
// A connection hung up in setup is made again after this pause, while the deadline allows.
constexpr int kRetryPauseMs = 10;

// Milliseconds on the monotonic clock.
int64_t MonotonicMs();

// Waits until fd is readable or the deadline (MonotonicMs) passes. True when readable,
// or when the connection has hung up, which the next read reports.
bool WaitReadable(int fd, int64_t deadline);

enum class ProbeResult {
    Answered, // a server answered a connection setup
    Silent,   // a server took the connection but did not answer in time
    Absent,   // no server could be reached
    Unknown,  // DISPLAY has a form the probe does not read
};

// An answered probe's connection. The caller keeps it open until its own connection to
// the server is set up: a server with no other client resets when its last client
// leaves, and hangs up any connection still in setup, so the probe's closing first would
// hang up the dialog's own.
struct ProbeConnection {
    int fd = -1;
    bool accepted = false; // the server accepted the probe's setup, asking for nothing
};

// Connects to the X server that DISPLAY names, as Xlib would, asks for a connection
// setup and waits until the deadline for the first byte of an answer. Any answer
// (accepted, refused, authentication wanted) shows the server is working; the connection
// is then left open in kept. One that the server hangs up before answering (a reset under
// way) is made again, until the deadline.
ProbeResult ProbeDisplay(const char *display, int64_t deadline, ProbeConnection *kept);
void CloseProbe(ProbeConnection *kept);

} // namespace kvz::platform
