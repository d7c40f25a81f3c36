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

// ReportState's two buffers are held by one report at a time. A report that cannot have
// them composes in buffers on its own stack instead, so no report ever waits for them:
// not for another thread, not for the report its signal handler interrupted, not for a
// thread that is gone after a fork. While the holder calls a hook, the hook may re-enter
// on its thread and hold them too. Safe in a signal handler.
struct SharedBuffers {
    SharedBuffers();
    ~SharedBuffers();
    SharedBuffers(const SharedBuffers &) = delete;
    SharedBuffers &operator=(const SharedBuffers &) = delete;
    bool held;
};

// Brackets the holder's call into a host hook: the one span in which its own thread may
// take the buffers again.
void BeginHookCall();
void EndHookCall();

} // namespace kvz

// Expanded in place, never called, so that the trap lies in the export's own body.
// The flag is read at every use.
#define BreakIfDebuggerAttached()                                                                  \
    do {                                                                                           \
        if (kvz::platform::IsDebuggerAttached()) {                                                 \
            kvz::platform::TrapState trapState;                                                    \
            kvz::platform::BeginTrap(&trapState);                                                  \
            KVZ_TRAP_INSTRUCTION();                                                                \
            kvz::platform::EndTrap(&trapState);                                                    \
        }                                                                                          \
    } while (0)
