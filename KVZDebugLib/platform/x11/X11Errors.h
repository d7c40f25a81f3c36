// What the dialog changes process-wide while a box is up, and puts back after.
//
// Xlib's error handlers are process-wide. While any box is up ours are installed: an
// error on a box's connection ends that box as closing it would, and an error on any
// other connection goes on to the handler the host had. The host's handlers are put back
// when the last box closes. Xlib exits the process when a connection is lost unless the
// connection has an exit handler (XSetIOErrorExitHandler, libX11 1.7 and later); a box
// sets one that simply returns, so a lost server ends the box, not the host.
#pragma once

#include "KVZDebugLib/platform/posix/SigpipeShield.h"
#include "KVZDebugLib/platform/x11/X11Library.h"

#include <atomic>
#include <pthread.h>
#include <signal.h>
#include <sys/types.h>

namespace kvz::platform {

// Boxes up at once on different threads; one more waits for one of them to close.
constexpr int kMaxBoxes = 8;

// One box that is up: its connection and what the error handlers saw on it.
struct BoxSlot {
    std::atomic<Display *> display;
    std::atomic<bool> failed; // a protocol error
    std::atomic<bool> lost;   // the connection is gone
    pid_t owner;              // the process whose box holds the slot, 0 if none
};

// Claims a slot for a box, waiting while every slot is taken: a box beyond the limit is
// shown once another closes, never answered unseen. The first box up installs the
// handlers.
BoxSlot *ClaimSlot(const XlibFunctions &xlib);

// Releases a box's slot; the last box out puts back the host's handlers, unless the host
// has set handlers of its own meanwhile, which are then left in place.
void LeaveBox(const XlibFunctions &xlib, BoxSlot *slot);

// The exit handler of a box's connection: Xlib would exit the process, this returns, and
// the box ends instead.
void OnXIOErrorExit(Display *display, void *);

// Taken while a box tries the grabs, so that the boxes of one process do not see each
// other's grab for a moment as a grab held by another client.
extern pthread_mutex_t g_GrabLock;

} // namespace kvz::platform
