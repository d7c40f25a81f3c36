// The Windows message box: the system's own, put where the person can see it, with the
// host's queue kept through its modal loop.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "KVZDebugLib/platform/Platform.h"
#include "KVZDebugLib/platform/windows/BoxHooks.h"

namespace kvz::platform {

namespace {

// A process whose window station is not visible (a service's) has no one to show a box
// to; one put up there would wait for ever.
bool WindowStationVisible() {
    HWINSTA station = GetProcessWindowStation();
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    return station != nullptr &&
           GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed) &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

} // namespace

// No owner window and no icon. Task-modal, so the host's windows on this thread are
// disabled while it waits, and in front of them all, a topmost full-screen one included.
// MessageBoxW's own answer is handed back as it is (IDOK, IDCANCEL, or 0 when the box
// could not be shown).
int32_t ShowMessageBox(const KVZChar *text, const KVZChar *caption, BoxButtons buttons) {
    if (!WindowStationVisible()) {
        return kBoxNotShown;
    }
    const UINT style = (buttons == BoxOkCancel ? MB_OKCANCEL : MB_OK) | MB_TASKMODAL |
                       MB_SETFOREGROUND | MB_TOPMOST;
    BoxHooks hooks;
    InstallBoxHooks(hooks);
    const int32_t answer = MessageBoxW(nullptr, text, caption, style);
    RemoveBoxHooks(hooks);
    return answer;
}

} // namespace kvz::platform
