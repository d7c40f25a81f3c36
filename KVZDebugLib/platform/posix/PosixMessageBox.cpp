// The message box on POSIX systems: unless the process is privileged, a window on the
// Wayland compositor when one accepts, else a dialog on the X display when one can be
// opened; else a prompt on the controlling terminal, else none (answered at once as
// "cannot be shown").
#include "KVZDebugLib/platform/posix/PosixMessageBox.h"

namespace kvz::platform {

int32_t ShowMessageBox(const KVZChar *text, const KVZChar *caption, BoxButtons buttons) {
    const bool desktop = !RunsPrivileged();
    int32_t result = desktop ? ShowWaylandMessageBox(text, caption, buttons) : kNoSuchBox;
    if (result != kNoSuchBox) {
        return result;
    }
    result = desktop ? ShowX11MessageBox(text, caption, buttons) : kNoSuchBox;
    if (result != kNoSuchBox) {
        return result;
    }
    result = ShowTerminalPrompt(text, caption, buttons);
    if (result != kNoSuchBox) {
        return result;
    }
    return kBoxNotShown;
}

} // namespace kvz::platform
