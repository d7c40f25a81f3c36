// The hook setters and the entry points that forward to the hooks.
#include "KVZDebugLib/HostErrors.h"
#include "KVZDebugLib/ReportState.h"

using kvz::g_ReportState;

// Each entry point reads its slot once: a hook that replaces or empties its own slot
// still runs to its end, and the next call sees the new contents.
//
// The setters and a forward to an installed hook touch nothing but the slot, which
// changes neither errno nor the last-error value: the hook starts with the host's values
// and what it leaves is returned as it is, at no cost. Only the path with no hook, which
// reads the debugger flag, keeps them.

extern "C" int32_t KVZ_CDECL _AssertFailed(intptr_t a, intptr_t b, intptr_t c) {
    AssertionFailedHandler hook = g_ReportState.AssertionFailed.load(std::memory_order_acquire);
    if (hook != nullptr) {
        return hook(a, b, c);
    }
    kvz::HostErrorsKept kept;
    BreakIfDebuggerAttached();
    return 0;
}

extern "C" int32_t KVZ_CDECL _AssertFailedEx(intptr_t a, intptr_t b, intptr_t c, intptr_t d) {
    AssertionFailedExHandler hook = g_ReportState.AssertionFailedEx.load(std::memory_order_acquire);
    if (hook != nullptr) {
        return hook(a, b, c, d);
    }
    kvz::HostErrorsKept kept;
    BreakIfDebuggerAttached();
    return 0;
}

extern "C" int32_t KVZ_CDECL _EnterSafeMode(void *context) {
    EnterSafeModeHandler hook = g_ReportState.EnterSafeMode.load(std::memory_order_acquire);
    if (hook != nullptr) {
        return hook(context);
    }
    kvz::HostErrorsKept kept;
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
