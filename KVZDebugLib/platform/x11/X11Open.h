// Opening a box's own connection to the display, through the probe (X11Probe.h).
#pragma once

#include "KVZDebugLib/platform/x11/X11Library.h"

namespace kvz::platform {

// Opens the display once its server has accepted a probe, or null: none could be
// reached, it did not answer in time, or it refused or sent what Xlib could not read.
Display *OpenDisplay(const XlibFunctions &xlib, const char *name);

} // namespace kvz::platform
