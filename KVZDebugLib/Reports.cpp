// Debugger output and the four prompts.
//
// Each report composes on its own stack, then, when it holds ReportState's buffers, puts
// what it composed there. Composing apart means that arguments pointing into those
// buffers (a hook logging the message it was handed) are read as they were at the call,
// and that a report which cannot hold them (another thread has them, or it runs in a
// signal handler that interrupted one) still goes on at once with text of its own.
#include "KVZDebugLib/Frames.h"
#include "KVZDebugLib/HostErrors.h"
#include "KVZDebugLib/ReportState.h"
#include "KVZDebugLib/text/Format.h"

#include <stdarg.h>
#include <string.h>

using kvz::g_ReportState;
using kvz::kDetailBufferSize;
using kvz::kMessageBufferSize;
namespace platform = kvz::platform;

namespace {

const KVZChar kAssertionCaption[] = KVZ_TEXT("Assertion Failure");
const KVZChar kBreakpointCaption[] = KVZ_TEXT("Debug Breakpoint");

// A prompt's text on its caller's stack. The lengths count up to the terminator the
// formatter wrote; a %c of 0 may end the text as a string earlier.
struct PromptText {
    KVZChar message[kMessageBufferSize];
    KVZChar detail[kDetailBufferSize];
    size_t messageLength;
    size_t detailLength;
};

void FormatDetail(PromptText &text, const KVZChar *format, va_list args, size_t *stringLength) {
    text.detailLength =
        kvz::FormatTextV(text.detail, kDetailBufferSize, format, args, stringLength);
}

// Puts the composed text into ReportState, which this report holds.
void Publish(const PromptText &text, bool withDetail) {
    if (withDetail) {
        memcpy(g_ReportState.DetailBuffer, text.detail, (text.detailLength + 1) * sizeof(KVZChar));
    }
    memcpy(g_ReportState.MessageBuffer, text.message, (text.messageLength + 1) * sizeof(KVZChar));
}

// Calls the safe-mode hook, if one is installed, with the message and the host's error
// codes; what it leaves of them is kept. The slot is read once. Returns whether there
// was a hook.
bool CallSafeModeHook(KVZChar *message, bool held, kvz::HostErrorsKept &kept) {
    EnterSafeModeHandler hook = g_ReportState.EnterSafeMode.load(std::memory_order_acquire);
    if (hook == nullptr) {
        return false;
    }
    if (held) {
        kvz::BeginHookCall();
    }
    kept.BeforeHook();
    hook(message);
    kept.AfterHook();
    if (held) {
        kvz::EndHookCall();
    }
    return true;
}

// Takes the box text back out of MessageBuffer, where a hook may have rewritten it, so the
// box can wait for its answer without holding the buffers. Terminated whatever the hook
// left there.
void TakeBoxText(PromptText &text, bool held) {
    if (!held) {
        text.message[kMessageBufferSize - 1] = 0;
        return;
    }
    size_t length = 0;
    while (length < kMessageBufferSize - 1 && g_ReportState.MessageBuffer[length] != 0) {
        text.message[length] = g_ReportState.MessageBuffer[length];
        ++length;
    }
    text.message[length] = 0;
}

int32_t ChoiceFor(int32_t boxResult, ReportChoice otherwise) {
    return boxResult == platform::kBoxOk ? Continue : otherwise;
}

// A box with only OK is acknowledged by any answer: Escape or closing it may come back as
// IDCANCEL from the system, though the person has seen it. 0 only when it was not shown.
int32_t AcknowledgedFor(int32_t boxResult) {
    return boxResult == platform::kBoxNotShown ? platform::kBoxNotShown : platform::kBoxOk;
}

} // namespace

// The safe-mode step, expanded in each prompt's own body so that the trap lies there.
#define SafeModeStep(text, withDetail, kept)                                                       \
    do {                                                                                           \
        kvz::SharedBuffers shared;                                                                 \
        if (shared.held) {                                                                         \
            Publish(text, withDetail);                                                             \
        }                                                                                          \
        /* The hook is handed MessageBuffer itself, or else the report's own message. */           \
        if (!CallSafeModeHook(shared.held ? g_ReportState.MessageBuffer : (text).message,          \
                              shared.held, kept)) {                                                \
            BreakIfDebuggerAttached();                                                             \
        }                                                                                          \
        TakeBoxText(text, shared.held);                                                            \
    } while (0)

extern "C" void KVZ_CDECL _DebugOutput(const KVZChar *format, ...) {
    kvz::HostErrorsKept kept;
    KVZChar text[kMessageBufferSize];
    va_list args;
    va_start(args, format);
    size_t length = kvz::FormatTextV(text, kMessageBufferSize, format, args);
    va_end(args);
    {
        kvz::SharedBuffers shared;
        if (shared.held) {
            memcpy(g_ReportState.MessageBuffer, text, (length + 1) * sizeof(KVZChar));
        }
    }
    platform::WriteDebugOutput(text);
}

extern "C" int32_t KVZ_CDECL _WarnDebug(const KVZChar *file, int32_t line, const KVZChar *format,
                                        ...) {
    kvz::HostErrorsKept kept;
    PromptText text;
    size_t detail = 0;
    va_list args;
    va_start(args, format);
    FormatDetail(text, format, args, &detail);
    va_end(args);
    text.messageLength = kvz::ComposeWarnDebugFrame(text.message, file, line, text.detail, detail);
    SafeModeStep(text, true, kept);
    return ChoiceFor(
        platform::ShowMessageBox(text.message, kAssertionCaption, platform::BoxOkCancel), Debug);
}

extern "C" int32_t KVZ_CDECL _WarnRelease(const KVZChar *file, int32_t line, const KVZChar *format,
                                          ...) {
    kvz::HostErrorsKept kept;
    PromptText text;
    size_t detail = 0;
    va_list args;
    va_start(args, format);
    FormatDetail(text, format, args, &detail);
    va_end(args);
    text.messageLength =
        kvz::ComposeWarnReleaseFrame(text.message, file, line, text.detail, detail);
    SafeModeStep(text, true, kept);
    return ChoiceFor(
        platform::ShowMessageBox(text.message, kAssertionCaption, platform::BoxOkCancel), Report);
}

extern "C" int32_t KVZ_CDECL _BreakRelease(const KVZChar *file, int32_t line) {
    kvz::HostErrorsKept kept;
    PromptText text;
    text.messageLength = kvz::ComposeBreakFrame(text.message, file, line);
    SafeModeStep(text, false, kept);
    return ChoiceFor(
        platform::ShowMessageBox(text.message, kBreakpointCaption, platform::BoxOkCancel), Report);
}

extern "C" int32_t KVZ_CDECL _WarnFinal(const KVZChar *format, ...) {
    kvz::HostErrorsKept kept;
    PromptText text;
    size_t detail = 0;
    va_list args;
    va_start(args, format);
    FormatDetail(text, format, args, &detail);
    va_end(args);
    text.messageLength = kvz::ComposeFinalFrame(text.message, text.detail, detail);
    SafeModeStep(text, true, kept);
    return AcknowledgedFor(
        platform::ShowMessageBox(text.message, kAssertionCaption, platform::BoxOk));
}
