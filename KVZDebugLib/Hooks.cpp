// The hook setters and the entry points that forward to the hooks.
#include "KVZDebugLib/ReportState.h"

using kvz::g_ReportState;

// Each entry point reads its slot once: a hook that replaces or empties its own slot
// still runs to its end, and the next call sees the new contents.

extern "C" int32_t KVZ_CDECL _AssertFailed(intptr_t a, intptr_t b, intptr_t c) {
    AssertionFailedHandler hook = g_ReportState.AssertionFailed.load(std::memory_order_acquire);
    if (hook != nullptr) {
        return hook(a, b, c);
    }
    BreakIfDebuggerAttached();
    return 0;
}

extern "C" int32_t KVZ_CDECL _AssertFailedEx(intptr_t a, intptr_t b, intptr_t c, intptr_t d) {
    AssertionFailedExHandler hook = g_ReportState.AssertionFailedEx.load(std::memory_order_acquire);
    if (hook != nullptr) {
        return hook(a, b, c, d);
    }
    BreakIfDebuggerAttached();
    return 0;
}

extern "C" int32_t KVZ_CDECL _EnterSafeMode(void *context) {
    EnterSafeModeHandler hook = g_ReportState.EnterSafeMode.load(std::memory_order_acquire);
    if (hook != nullptr) {
        return hook(context);
    }
    BreakIfDebuggerAttached();
    return 0;
}

extern "C" AssertionFailedHandler KVZ_CDECL
_SetAssertionFailedHandler(AssertionFailedHandler hook) {
    g_ReportState.AssertionFailed.store(hook, std::memory_order_release);
    return hook;
}

extern "C" AssertionFailedExHandler KVZ_CDECL
_SetAssertionFailedExHandler(AssertionFailedExHandler hook) {
    g_ReportState.AssertionFailedEx.store(hook, std::memory_order_release);
    return hook;
}

extern "C" EnterSafeModeHandler KVZ_CDECL _SetEnterSafeModeHandler(EnterSafeModeHandler hook) {
    g_ReportState.EnterSafeMode.store(hook, std::memory_order_release);
    return hook;
}
