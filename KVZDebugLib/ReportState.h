// The one process-wide record every export shares, and the rule for breaking into an
// attached debugger.
#pragma once

#include "KVZDebugLib/KVZDebugLib.h"
#include "KVZDebugLib/platform/Platform.h"
#include "KVZDebugLib/platform/Trap.h"

#include <atomic>
#include <stddef.h>

namespace kvz {

constexpr size_t kMessageBufferSize = 1024;
constexpr size_t kDetailBufferSize = 764;

struct ReportState {
    KVZChar MessageBuffer[kMessageBufferSize];
    KVZChar DetailBuffer[kDetailBufferSize];
    // Each slot is one pointer-sized word, stored and read whole.
    std::atomic<AssertionFailedHandler> AssertionFailed;
    std::atomic<AssertionFailedExHandler> AssertionFailedEx;
    std::atomic<EnterSafeModeHandler> EnterSafeMode;
};

static_assert(std::atomic<AssertionFailedHandler>::is_always_lock_free);
static_assert(std::atomic<AssertionFailedExHandler>::is_always_lock_free);
static_assert(std::atomic<EnterSafeModeHandler>::is_always_lock_free);

// Zeroed at load by static initialisation: no hooks, empty texts.
extern ReportState g_ReportState;

// Holds the report lock for one scope; a hook may re-enter on the same thread.
struct ReportLock {
    ReportLock() { platform::LockReports(); }
    ~ReportLock() { platform::UnlockReports(); }
    ReportLock(const ReportLock &) = delete;
    ReportLock &operator=(const ReportLock &) = delete;
};

} // namespace kvz

// Expanded in place, never called, so that the trap lies in the export's own body.
// The flag is read at every use.
#define BreakIfDebuggerAttached()                                                                  \
    do {                                                                                           \
        if (kvz::platform::IsDebuggerAttached()) {                                                 \
            kvz::platform::BeginTrap();                                                            \
            KVZ_TRAP_INSTRUCTION();                                                                \
            kvz::platform::EndTrap();                                                              \
        }                                                                                          \
    } while (0)
