// Debugger output and the four prompts.
#include "KVZDebugLib/Frames.h"
#include "KVZDebugLib/ReportState.h"
#include "KVZDebugLib/platform/Format.h"

#include <stdarg.h>

using kvz::g_ReportState;
using kvz::kDetailBufferSize;
using kvz::kMessageBufferSize;
namespace platform = kvz::platform;

namespace {

const KVZChar kAssertionCaption[] = KVZ_TEXT("Assertion Failure");
const KVZChar kBreakpointCaption[] = KVZ_TEXT("Debug Breakpoint");

// Calls the safe-mode hook, if one is installed, with MessageBuffer itself. The slot is
// read once. Returns whether there was a hook.
bool CallSafeModeHook() {
    EnterSafeModeHandler hook = g_ReportState.EnterSafeMode.load(std::memory_order_acquire);
    if (hook == nullptr) {
        return false;
    }
    hook(g_ReportState.MessageBuffer);
    return true;
}

// Takes the box text out of MessageBuffer, so the box can wait for its answer without
// holding the report lock. A hook may have rewritten the buffer; the copy is terminated
// whatever it left there.
void CopyBoxText(KVZChar (&boxText)[kMessageBufferSize]) {
    size_t length = 0;
    while (length < kMessageBufferSize - 1 && g_ReportState.MessageBuffer[length] != 0) {
        boxText[length] = g_ReportState.MessageBuffer[length];
        ++length;
    }
    boxText[length] = 0;
}

int32_t ChoiceFor(int32_t boxResult, ReportChoice otherwise) {
    return boxResult == platform::kBoxOk ? Continue : otherwise;
}

} // namespace

extern "C" void KVZ_CDECL _DebugOutput(const KVZChar *format, ...) {
    kvz::ReportLock lock;
    va_list args;
    va_start(args, format);
    kvz::FormatText(g_ReportState.MessageBuffer, kMessageBufferSize, format, args);
    va_end(args);
    platform::WriteDebugOutput(g_ReportState.MessageBuffer);
}

// Each prompt composes, takes the safe-mode step and copies the box text under the
// report lock; the trap, when there is one, is expanded in the prompt's own body.

extern "C" int32_t KVZ_CDECL _WarnDebug(const KVZChar *file, int32_t line, const KVZChar *format,
                                        ...) {
    KVZChar boxText[kMessageBufferSize];
    {
        kvz::ReportLock lock;
        va_list args;
        va_start(args, format);
        size_t detail = 0;
        kvz::FormatText(g_ReportState.DetailBuffer, kDetailBufferSize, format, args, &detail);
        va_end(args);
        kvz::ComposeWarnDebugFrame(file, line, detail);
        if (!CallSafeModeHook()) {
            BreakIfDebuggerAttached();
        }
        CopyBoxText(boxText);
    }
    return ChoiceFor(platform::ShowMessageBox(boxText, kAssertionCaption, platform::BoxOkCancel),
                     Debug);
}

extern "C" int32_t KVZ_CDECL _WarnRelease(const KVZChar *file, int32_t line, const KVZChar *format,
                                          ...) {
    KVZChar boxText[kMessageBufferSize];
    {
        kvz::ReportLock lock;
        va_list args;
        va_start(args, format);
        size_t detail = 0;
        kvz::FormatText(g_ReportState.DetailBuffer, kDetailBufferSize, format, args, &detail);
        va_end(args);
        kvz::ComposeWarnReleaseFrame(file, line, detail);
        if (!CallSafeModeHook()) {
            BreakIfDebuggerAttached();
        }
        CopyBoxText(boxText);
    }
    return ChoiceFor(platform::ShowMessageBox(boxText, kAssertionCaption, platform::BoxOkCancel),
                     Report);
}

extern "C" int32_t KVZ_CDECL _BreakRelease(const KVZChar *file, int32_t line) {
    KVZChar boxText[kMessageBufferSize];
    {
        kvz::ReportLock lock;
        kvz::ComposeBreakFrame(file, line);
        if (!CallSafeModeHook()) {
            BreakIfDebuggerAttached();
        }
        CopyBoxText(boxText);
    }
    return ChoiceFor(platform::ShowMessageBox(boxText, kBreakpointCaption, platform::BoxOkCancel),
                     Report);
}

extern "C" int32_t KVZ_CDECL _WarnFinal(const KVZChar *format, ...) {
    KVZChar boxText[kMessageBufferSize];
    {
        kvz::ReportLock lock;
        va_list args;
        va_start(args, format);
        size_t detail = 0;
        kvz::FormatText(g_ReportState.DetailBuffer, kDetailBufferSize, format, args, &detail);
        va_end(args);
        kvz::ComposeFinalFrame(detail);
        if (!CallSafeModeHook()) {
            BreakIfDebuggerAttached();
        }
        CopyBoxText(boxText);
    }
    return platform::ShowMessageBox(boxText, kAssertionCaption, platform::BoxOk);
}
