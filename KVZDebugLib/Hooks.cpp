// The hook setters and the entry points that forward to the hooks.
#include "KVZDebugLib/HostErrors.h"
#include "KVZDebugLib/ReportState.h"

using kvz::g_ReportState;

// Each entry point reads its slot once: a hook that replaces or empties its own slot
// still runs to its end, and the next call sees the new contents. The host's error codes
// reach the hook as they were at the call, and what the hook leaves is kept.

extern "C" int32_t KVZ_CDECL _AssertFailed(intptr_t a, intptr_t b, intptr_t c) {
    kvz::HostErrorsKept kept;
    AssertionFailedHandler hook = g_ReportState.AssertionFailed.load(std::memory_order_acquire);
    if (hook != nullptr) {
        kept.BeforeHook();
        const int32_t result = hook(a, b, c);
        kept.AfterHook();
        return result;
    }
    BreakIfDebuggerAttached();
    return 0;
}

extern "C" int32_t KVZ_CDECL _AssertFailedEx(intptr_t a, intptr_t b, intptr_t c, intptr_t d) {
    kvz::HostErrorsKept kept;
    AssertionFailedExHandler hook = g_ReportState.AssertionFailedEx.load(std::memory_order_acquire);
    if (hook != nullptr) {
        kept.BeforeHook();
        const int32_t result = hook(a, b, c, d);
        kept.AfterHook();
        return result;
    }
    BreakIfDebuggerAttached();
    return 0;
}

extern "C" int32_t KVZ_CDECL _EnterSafeMode(void *context) {
    kvz::HostErrorsKept kept;
    EnterSafeModeHandler hook = g_ReportState.EnterSafeMode.load(std::memory_order_acquire);
    if (hook != nullptr) {
        kept.BeforeHook();
        const int32_t result = hook(context);
        kept.AfterHook();
        return result;
    }
    BreakIfDebuggerAttached();
    return 0;
}

extern "C" AssertionFailedHandler KVZ_CDECL
_SetAssertionFailedHandler(AssertionFailedHandler hook) {
    kvz::HostErrorsKept kept;
    g_ReportState.AssertionFailed.store(hook, std::memory_order_release);
    return hook;
}

extern "C" AssertionFailedExHandler KVZ_CDECL
_SetAssertionFailedExHandler(AssertionFailedExHandler hook) {
    kvz::HostErrorsKept kept;
    g_ReportState.AssertionFailedEx.store(hook, std::memory_order_release);
    return hook;
}

extern "C" EnterSafeModeHandler KVZ_CDECL _SetEnterSafeModeHandler(EnterSafeModeHandler hook) {
    kvz::HostErrorsKept kept;
    g_ReportState.EnterSafeMode.store(hook, std::memory_order_release);
    return hook;
}
