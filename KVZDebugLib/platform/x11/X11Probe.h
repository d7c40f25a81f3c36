// Deadlines for the X11 dialog: Xlib waits on its server with no time limit, so the
// dialog proves the server answers before it lets Xlib wait, and waits itself only in
// poll() with a deadline.
#pragma once

#include "KVZDebugLib/platform/posix/BoxWait.h"
#include "KVZDebugLib/platform/x11/X11Setup.h"

#include <stdint.h>

namespace kvz::platform {

// How long the dialog waits for its server at any one time, in milliseconds.
constexpr int kX11DeadlineMs = kBoxDeadlineMs;
// A connection hung up in setup is made again a few times, after a pause that starts at
// kRetryPauseMs and doubles each time, while the deadline allows: a server resetting as
// its last other client left is back within that, and one that hangs up every setup is
// not asked hundreds of times.
constexpr int kRetryPauseMs = 20;
constexpr int kMaxRetries = 4;

// The retries one box has left, and its deadline (MonotonicMs) for setting up.
struct SetupRetries {
    int64_t deadline;
    int made = 0;
};

// Waits the next pause; false, at once, when no retry is left or the pause would pass
// the deadline.
bool PauseBeforeRetry(SetupRetries *retries);

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
    SetupAnswer answer = SetupAnswer::Failed; // Accepted, Refused or Broken
    bool likeXlib = true;                     // the probe sent the authorization Xlib sends
};

// Whether Xlib may be handed the server: it accepted the probe, or refused a probe that
// could not send what Xlib sends. Xlib prints a refusal or a reply it cannot read on the
// host's standard error, so it is never handed those.
bool XlibMayConnect(const ProbeConnection &probe);

// Connects to the X server that DISPLAY names, as Xlib would, and goes through a
// connection setup with it (X11Setup.h) until the deadline. Any answer shows the server
// is working; the connection is then left open in kept. One that the server hangs up
// before answering (a reset under way) is made again, within the retries.
ProbeResult ProbeDisplay(const char *display, SetupRetries *retries, ProbeConnection *kept);
void CloseProbe(ProbeConnection *kept);

} // namespace kvz::platform
