// The Wayland box's own connection to the compositor: a socket of its own, never the
// host's WAYLAND_SOCKET (libwayland's own connect would take that descriptor over and
// unset the variable, and the host's connection is not the box's to share).
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace kvz::platform {

// The compositor's socket path as libwayland finds it: WAYLAND_DISPLAY itself when it is
// an absolute path, else that name in XDG_RUNTIME_DIR. False when there is none: no
// WAYLAND_DISPLAY (the session is not Wayland's, whatever libwayland would guess), no
// runtime folder for a relative name, or a path longer than `capacity` (a socket
// address's room) allows.
bool WaylandSocketPath(const char *display, const char *runtimeDir, char *out, size_t capacity);

// A non-blocking, close-on-exec socket connected to the compositor at `path` before the
// deadline (MonotonicMs), or -1.
int ConnectWayland(const char *path, int64_t deadline);

} // namespace kvz::platform
