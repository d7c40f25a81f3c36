// The few operations that differ by platform. The library's logic calls only these;
// each platform (and the tests' recording stand-in) provides them at link time.
#pragma once

#include "KVZDebugLib/KVZDebugLib.h"
#include "KVZDebugLib/text/Narrow.h" // PutNarrow, declared where the formatter sees it

#include <stddef.h>
#include <stdint.h>

namespace kvz {
struct TextSink;
} // namespace kvz

namespace kvz::platform {

// Message box buttons, valued as the Windows styles MB_OK and MB_OKCANCEL.
enum BoxButtons : uint32_t { BoxOk = 0, BoxOkCancel = 1 };

// Message box answers, valued as the Windows results.
constexpr int32_t kBoxNotShown = 0;
constexpr int32_t kBoxOk = 1;     // IDOK
constexpr int32_t kBoxCancel = 2; // IDCANCEL

// The calling thread's error codes: errno, and on Windows the last-error value too (0
// elsewhere).
struct HostErrors {
    int errorNumber;
    uint32_t lastError;
};

// Reads the calling thread's error codes without changing either.
HostErrors SaveHostErrors();
// Puts them back, errno first and the last-error value last. On Windows that goes through
// SetLastError, as the host's own code sets it, and only when it differs, so a breakpoint
// on SetLastError stops in the library only where the library's work had changed it.
void RestoreHostErrors(const HostErrors &saved);

// Sends the whole text to the debugger output channel; failures are not reported.
void WriteDebugOutput(const KVZChar *text);

// The per-process being-debugged flag, read afresh at every call.
bool IsDebuggerAttached();

// Shows a modal box and blocks until answered: kBoxOk, kBoxCancel, or kBoxNotShown when
// no box can be shown. Never waits for a person who is not there.
int32_t ShowMessageBox(const KVZChar *text, const KVZChar *caption, BoxButtons buttons);

// What BeginTrap changed on the calling thread, kept on the caller's stack for EndTrap to
// put back: the thread's signal mask on POSIX systems (room for any sigset_t in use).
struct TrapState {
    uint64_t savedMask[16];
};

// Bracket the trap instruction, which the caller expands in its own body. They keep a
// tracer that is not a debugger (and so hands the trap signal back) from ending the
// process, also on a thread that blocks signals; a debugger swallows the trap and never
// lets the process see it. Safe in a signal handler and in a forked child.
void BeginTrap(TrapState *state);
void EndTrap(const TrapState *state);

// A number that names the calling thread among the process's live threads, never 0. Safe
// in a signal handler.
uintptr_t CurrentThreadId();

} // namespace kvz::platform
