// The message box on POSIX systems: a dialog when a display can be opened and the process
// is not privileged, else a prompt on the controlling terminal, else none (answered at
// once as "cannot be shown").
#include "KVZDebugLib/platform/posix/PosixMessageBox.h"

namespace kvz::platform {

int32_t ShowMessageBox(const KVZChar *text, const KVZChar *caption, BoxButtons buttons) {
    int32_t result = RunsPrivileged() ? kNoSuchBox : ShowX11MessageBox(text, caption, buttons);
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
