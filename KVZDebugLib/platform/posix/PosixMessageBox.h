// The kinds of message box a POSIX system may offer, tried in order by ShowMessageBox.
#pragma once

#include "KVZDebugLib/platform/Platform.h"

namespace kvz::platform {

// Returned by a kind of box that is not available here, so the next kind is tried.
constexpr int32_t kNoSuchBox = -1;

// Whether the process runs privileged (PosixPrivilege.cpp). A privileged process shows no
// desktop box: the desktop libraries act on the user's environment (fonts, resources,
// locale files, the server named by DISPLAY) with the process's privileges, and none of
// them is written to run so. It reads no DISPLAY and loads none of them.
bool RunsPrivileged();

// A window on the Wayland compositor named by WAYLAND_DISPLAY; kNoSuchBox when none
// accepts, when nobody could answer it there, or when it cannot be drawn.
int32_t ShowWaylandMessageBox(const KVZChar *text, const KVZChar *caption, BoxButtons buttons);

// A dialog window on the X display named by DISPLAY; kNoSuchBox when none can be opened.
int32_t ShowX11MessageBox(const KVZChar *text, const KVZChar *caption, BoxButtons buttons);

// A prompt on the controlling terminal; kNoSuchBox when the process has none it may use
// (none, or it is in the background), and when this thread is already prompting on it (a
// signal handler that interrupted the prompt). Other threads' prompts wait their turn.
int32_t ShowTerminalPrompt(const KVZChar *text, const KVZChar *caption, BoxButtons buttons);

} // namespace kvz::platform
