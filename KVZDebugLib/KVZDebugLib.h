/* KVZDebugLib: debug reporting for host applications.
 *
 * A host calls these exports when its own checks fail. Every export runs on the
 * caller's thread and returns to it; the library has no threads, files or settings of its
 * own and allocates nothing. The prompts block that thread until the person answers (or
 * return at once when no box can be shown). Text is 16-bit UTF-16 on every platform:
 * wchar_t on Windows, char16_t elsewhere. This header compiles as C and as C++.
 */
#ifndef KVZDEBUGLIB_KVZDEBUGLIB_H
#define KVZDEBUGLIB_KVZDEBUGLIB_H

#include <stdint.h>

#if defined(_WIN32)
#include <wchar.h>
typedef wchar_t KVZChar;
#define KVZ_TEXT_(s) L##s
#define KVZ_CDECL __cdecl
#if defined(KVZDEBUGLIB_BUILDING)
#define KVZ_API
#else
#define KVZ_API __declspec(dllimport)
#endif
#else
#if !defined(__cplusplus)
#include <uchar.h>
#endif
typedef char16_t KVZChar;
#define KVZ_TEXT_(s) u##s
#define KVZ_CDECL
#define KVZ_API __attribute__((visibility("default")))
#endif

/* A text literal of the library's text type, written once for every platform:
 * KVZ_TEXT("disk full"), KVZ_TEXT(__FILE__). */
#define KVZ_TEXT(s) KVZ_TEXT_(s)

#ifdef __cplusplus
extern "C" {
#endif

/* Hooks are the host's own functions. The library stores them, calls them on the thread
 * of the export that calls them, with the values the host passed, and hands their result
 * back unchanged. A hook may call back into the library on the same thread. */
typedef int32_t(KVZ_CDECL *AssertionFailedHandler)(intptr_t, intptr_t, intptr_t);
typedef int32_t(KVZ_CDECL *AssertionFailedExHandler)(intptr_t, intptr_t, intptr_t, intptr_t);
/* From a prompt the argument is the composed message in a buffer of 1024 KVZChar units,
 * which the hook may read or rewrite (the box then shows what it holds); its result is
 * ignored. The buffer is the library's own MessageBuffer, or, when another report holds
 * that (see "Threads, signals and forks" below), the prompt's own copy on its stack. From
 * _EnterSafeMode the argument is whatever the host passed. */
typedef int32_t(KVZ_CDECL *EnterSafeModeHandler)(void *);

/* The host's error codes. Every export returns with errno and, on Windows, the calling
 * thread's last-error value (GetLastError) as they were at the call, on every path: text
 * sent or not, a box answered, not shown or cut short, the terminal prompt, the stop in
 * an attached debugger. A hook the library calls starts with the host's values, and what
 * it leaves is kept: the forwarding entry points return with what their hook left, a
 * prompt with what its safe-mode hook left. On Windows the value is put back through
 * SetLastError, and only where the library's own calls had changed it. */

/* What the OK/CANCEL prompts return. */
typedef enum ReportChoice {
    Continue = 0, /* the person pressed OK */
    Debug = 1,    /* any other answer to _WarnDebug */
    Report = 2    /* any other answer to _WarnRelease or _BreakRelease */
} ReportChoice;

/* Threads, signals and forks. No export waits for another report: not for one on another
 * thread, not for one its own thread was running when a signal handler called it, not for
 * a thread that a fork left behind. The first report composes in the library's shared
 * buffers, and a hook the library calls may re-enter on its thread and use them too (so a
 * hook's _DebugOutput leaves its text in the box that follows). Any other report composes
 * in buffers of its own on its stack: its text is whole, but it is not left in the shared
 * buffers. Arguments that point into the library's buffers (a hook logging the message it
 * was handed) are read as they were at the call.
 *
 * In a signal handler, and in the child of a threaded host's fork before it execs, these
 * may be called: the setters, _AssertFailed, _AssertFailedEx, _EnterSafeMode, and
 * _DebugOutput with any conversion but the floating-point ones (some of whose text comes
 * from the C runtime's snprintf). They take no lock, allocate nothing and use under 5 KiB
 * of stack, so they fit a signal stack of 8 KiB. The prompts are not for signal handlers:
 * the dialog goes through Xlib, which allocates. */

/* Forwarding. Each reads its hook slot once and calls the hook with its own arguments,
 * returning the hook's result. With the slot empty it stops in an attached debugger (the
 * trap lies in the export itself; continuing carries on), does nothing when none is
 * attached, and returns 0. Never blocks unless the hook does. */
KVZ_API int32_t KVZ_CDECL _AssertFailed(intptr_t, intptr_t, intptr_t);
KVZ_API int32_t KVZ_CDECL _AssertFailedEx(intptr_t, intptr_t, intptr_t, intptr_t);
KVZ_API int32_t KVZ_CDECL _EnterSafeMode(void *);

/* Setters. Each installs a hook in its slot (null empties it), replacing the one before,
 * and returns the pointer it was given. Safe to call from any thread at any time: a call
 * already running the earlier hook finishes with it. */
KVZ_API AssertionFailedHandler KVZ_CDECL _SetAssertionFailedHandler(AssertionFailedHandler);
KVZ_API AssertionFailedExHandler KVZ_CDECL _SetAssertionFailedExHandler(AssertionFailedExHandler);
KVZ_API EnterSafeModeHandler KVZ_CDECL _SetEnterSafeModeHandler(EnterSafeModeHandler);

/* Formats the text and sends it to the debugger output exactly as formatted: no prefix,
 * no time stamp, no added line feed (end the text with one to make lines). Text past 1023
 * units is cut. Windows: OutputDebugStringW. Linux: standard error, in UTF-8, in one
 * write. Formats follow the Windows runtime's wide conventions (%s takes a KVZChar
 * string, %S a narrow one); the rules, odd input included, are written out in the
 * formatter's header, KVZDebugLib/text/Format.h in the source tree. */
KVZ_API void KVZ_CDECL _DebugOutput(const KVZChar *format, ...);

/* The prompts. Each composes its message, gives the safe-mode hook the message (or, with
 * no hook, stops in an attached debugger), then shows a box and blocks the calling thread
 * until the person answers. Other threads' reports are not held up meanwhile. Where no
 * box can be shown (Linux with neither a display nor a terminal; Windows in a process
 * whose window station is not visible, such as a service's) it returns at once, as for an
 * answer other than OK. Linux terminal: control characters in the text show as U+FFFD,
 * prompts on several threads take turns, and a prompt made from a signal handler that
 * interrupted its own thread's terminal prompt is not shown (returns at once).
 * Linux, a privileged process (set-user-ID or set-group-ID, file capabilities: AT_SECURE,
 * or real and effective ids that differ): no desktop box, since the desktop libraries read
 * the user's environment, files and server with the process's privileges; DISPLAY is not
 * read and none is loaded. It asks on the terminal, or returns at once as not shown.
 * The X11 box writes nothing on standard error: a server that refuses, or answers what
 * Xlib cannot read, is not handed to Xlib (docs/reliability.md says what may remain).
 *
 * Windows: the system's message box, with no owner and no icon, task-modal, brought to
 * the foreground and topmost (MB_TASKMODAL | MB_SETFOREGROUND | MB_TOPMOST). This mends the
 * plain style the box once had, under which a host's own windows on the calling thread
 * stayed live beneath it and a topmost host window hid it; it changes no answer. While
 * it waits, the host's queue is kept: a WM_QUIT pending at the call or posted meanwhile
 * does not end the box (only a person does) and is posted again, once, with its exit
 * code, after it; thread messages (no window) posted before or meanwhile reach the host
 * after the call, in their order (up to 64 per box). The box's loop dispatches the host's
 * window messages as any modal loop does, so a host's handler that prompts again from
 * there stacks boxes (docs/reliability.md).
 *
 * _WarnDebug, _WarnRelease: "<file>, line <line> : <detail>" and a closing sentence, in a
 * box captioned "Assertion Failure" with OK and CANCEL. The detail is the host's format
 * and arguments, cut at 763 units; the whole message is cut at 1023. Returns Continue for
 * OK; otherwise Debug (_WarnDebug) or Report (_WarnRelease). */
KVZ_API int32_t KVZ_CDECL _WarnDebug(const KVZChar *file, int32_t line, const KVZChar *format, ...);
KVZ_API int32_t KVZ_CDECL _WarnRelease(const KVZChar *file, int32_t line, const KVZChar *format,
                                       ...);
/* A breakpoint that should never be reached, named by file and line, in a box captioned
 * "Debug Breakpoint" with OK and CANCEL. Returns Continue for OK, otherwise Report. */
KVZ_API int32_t KVZ_CDECL _BreakRelease(const KVZChar *file, int32_t line);
/* The host's text in a box captioned "Assertion Failure" with OK only. Returns 1 for any
 * answer (OK, Enter, Escape, closing the box), 0 when the box cannot be shown. */
KVZ_API int32_t KVZ_CDECL _WarnFinal(const KVZChar *format, ...);

#ifdef __cplusplus
}
#endif

#endif /* KVZDEBUGLIB_KVZDEBUGLIB_H */
