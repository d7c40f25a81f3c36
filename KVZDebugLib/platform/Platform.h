// The few operations that differ by platform. The library's logic calls only these;
// each platform (and the tests' recording stand-in) provides them at link time.
#pragma once

#include "KVZDebugLib/KVZDebugLib.h"

#include <stddef.h>
#include <stdint.h>

namespace kvz::platform {

// Message box buttons, valued as the Windows styles MB_OK and MB_OKCANCEL.
enum BoxButtons : uint32_t { BoxOk = 0, BoxOkCancel = 1 };

// Message box answers, valued as the Windows results.
constexpr int32_t kBoxNotShown = 0;
constexpr int32_t kBoxOk = 1;     // IDOK
constexpr int32_t kBoxCancel = 2; // IDCANCEL

// Sends the whole text to the debugger output channel; failures are not reported.
void WriteDebugOutput(const KVZChar *text);

// The per-process being-debugged flag, read afresh at every call.
bool IsDebuggerAttached();

// Shows a modal box and blocks until answered: kBoxOk, kBoxCancel, or kBoxNotShown when
// no box can be shown. Never waits for a person who is not there.
int32_t ShowMessageBox(const KVZChar *text, const KVZChar *caption, BoxButtons buttons);

// Bracket the trap instruction, which the caller expands in its own body. They keep a
// tracer that is not a debugger (and so hands the trap signal back) from ending the
// process; a debugger swallows the trap and never lets the process see it.
void BeginTrap();
void EndTrap();

// The process-wide report lock: re-entrant on one thread, needs no set-up at load and
// allocates nothing.
void LockReports();
void UnlockReports();

} // namespace kvz::platform
