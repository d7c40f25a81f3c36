// A module that prompts from its own entry routine, as a host's plug-in may when its
// checks fail while it is loaded or unloaded. What each prompt returned is left in the
// environment (KVZ_ATTACH_RESULT, KVZ_DETACH_RESULT), where the host reads it even after
// the module is gone.
#include "KVZDebugLib/KVZDebugLib.h"

#include "WineTest.h"

namespace {

void Leave(const wchar_t *name, int32_t result) {
    wchar_t text[16];
    _snwprintf(text, 16, L"%d", static_cast<int>(result));
    text[15] = 0;
    SetEnvironmentVariableW(name, text);
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        Leave(L"KVZ_ATTACH_RESULT", _WarnRelease(L"plugin.cpp", 1, L"%s", L"attach"));
    } else if (reason == DLL_PROCESS_DETACH) {
        Leave(L"KVZ_DETACH_RESULT", _WarnRelease(L"plugin.cpp", 2, L"%s", L"detach"));
    }
    return TRUE;
}
