#include "KVZDebugLib/platform/x11/X11Open.h"

#include "KVZDebugLib/platform/x11/X11Probe.h"

namespace kvz::platform {

// Opening waits on the server with no deadline, so it follows a probe the server has just
// answered; Xlib prints what the server says when it refuses (its own text, controls
// included) or sends what Xlib cannot read, so it is handed only a server that accepted.
// The probe's connection is closed only once Xlib's is set up (its closing could reset a
// server that has no other client). A server that accepted the probe and still hangs
// Xlib's connection up in setup was resetting as another client left: it is asked
// again, within the same deadline and retries.
Display *OpenDisplay(const XlibFunctions &xlib, const char *name) {
    SetupRetries retries = {MonotonicMs() + kX11DeadlineMs};
    for (;;) {
        ProbeConnection probe;
        if (ProbeDisplay(name, &retries, &probe) != ProbeResult::Answered) {
            return nullptr;
        }
        if (!XlibMayConnect(probe)) {
            CloseProbe(&probe);
            return nullptr;
        }
        Display *display = xlib.XOpenDisplay(name);
        CloseProbe(&probe);
        if (display != nullptr || probe.answer != SetupAnswer::Accepted ||
            !PauseBeforeRetry(&retries)) {
            return display;
        }
    }
}

} // namespace kvz::platform
