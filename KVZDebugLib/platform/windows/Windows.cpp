// The Windows side of the platform seam (the message box apart, in WindowsMessageBox.cpp),
// and the module's entry routine.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "KVZDebugLib/platform/Platform.h"

#if defined(_MSC_VER)
#include <intrin.h>
#endif

#include <errno.h>
#include <stdint.h>

namespace kvz::platform {

// The last-error value is read first: reaching the C runtime's errno may touch it.
HostErrors SaveHostErrors() {
    const DWORD lastError = GetLastError();
    const int errorNumber = errno;
    return HostErrors{errorNumber, lastError};
}

void RestoreHostErrors(const HostErrors &saved) {
    errno = saved.errorNumber;
    if (GetLastError() != saved.lastError) {
        SetLastError(saved.lastError);
    }
}

void WriteDebugOutput(const KVZChar *text) {
    OutputDebugStringW(text);
}

// The BeingDebugged byte of the process environment block (offset 2), found through the
// calling thread's environment block: fs:[0x30] on x86, gs:[0x60] on x64. This is the flag
// IsDebuggerPresent reports; it is read here at every call, so a debugger attached late
// is noticed by the next report.
bool IsDebuggerAttached() {
    uintptr_t peb;
#if defined(_MSC_VER) && defined(_M_X64)
    peb = __readgsqword(0x60);
#elif defined(_MSC_VER) && defined(_M_IX86)
    peb = __readfsdword(0x30);
#elif defined(__x86_64__)
    // MinGW's own __readgsqword trips GCC's array-bounds check; the load is the same.
    __asm__ volatile("movq %%gs:0x60, %0" : "=r"(peb));
#elif defined(__i386__)
    __asm__ volatile("movl %%fs:0x30, %0" : "=r"(peb));
#else
#error "no thread environment block layout known for this processor"
#endif
    const volatile unsigned char *block = reinterpret_cast<const volatile unsigned char *>(peb);
    return block != nullptr && block[2] != 0;
}

// A debugger on Windows takes the trap as an exception and nothing else needs guarding.
void BeginTrap(TrapState *) {}
void EndTrap(const TrapState *) {}

// Thread id 0 is never a real thread.
uintptr_t CurrentThreadId() {
    return GetCurrentThreadId();
}

} // namespace kvz::platform

// The state is constant-initialised, so there is nothing to do on any notification and
// loading never fails on the library's account.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
