/* KVZDebugLib: debug reporting for host applications.
 *
 * A host calls these exports when its own checks fail. Every export runs on the
 * caller's thread and returns to it. The prompts block that thread until the person
 * answers (or return at once when no box can be shown). Text is 16-bit UTF-16 on every
 * platform: wchar_t on Windows, char16_t elsewhere. This header compiles as C and C++.
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

/* Hooks are the host's own functions. The library stores them, calls them with the
 * values the host passed, and hands their result back unchanged. */
typedef int32_t(KVZ_CDECL *AssertionFailedHandler)(intptr_t, intptr_t, intptr_t);
typedef int32_t(KVZ_CDECL *AssertionFailedExHandler)(intptr_t, intptr_t, intptr_t, intptr_t);
/* From a prompt the argument is the composed message (the library's own buffer, 1024
 * units, which the hook may rewrite); from _EnterSafeMode it is what the host passed. */
typedef int32_t(KVZ_CDECL *EnterSafeModeHandler)(void *);

/* What the OK/CANCEL prompts return. */
typedef enum ReportChoice {
    Continue = 0, /* the person pressed OK */
    Debug = 1,    /* any other answer to _WarnDebug */
    Report = 2    /* any other answer to _WarnRelease or _BreakRelease */
} ReportChoice;

/* Forwarding: call the installed hook and return its result. With no hook, stop in an
 * attached debugger (nothing at all when none is attached) and return 0. */
KVZ_API int32_t KVZ_CDECL _AssertFailed(intptr_t, intptr_t, intptr_t);
KVZ_API int32_t KVZ_CDECL _AssertFailedEx(intptr_t, intptr_t, intptr_t, intptr_t);
KVZ_API int32_t KVZ_CDECL _EnterSafeMode(void *);

/* Setters: install a hook (null empties the slot) and return the pointer given. */
KVZ_API AssertionFailedHandler KVZ_CDECL _SetAssertionFailedHandler(AssertionFailedHandler);
KVZ_API AssertionFailedExHandler KVZ_CDECL _SetAssertionFailedExHandler(AssertionFailedExHandler);
KVZ_API EnterSafeModeHandler KVZ_CDECL _SetEnterSafeModeHandler(EnterSafeModeHandler);

/* Formats the text (%s takes a KVZChar string, as in the Windows runtime) and sends it to
 * the debugger output exactly as formatted: no prefix, no added line feed. Text past 1023
 * units is cut. On Linux the output is standard error, in UTF-8. */
KVZ_API void KVZ_CDECL _DebugOutput(const KVZChar *format, ...);

/* The prompts: compose the message, give the safe-mode hook its moment (or stop in an
 * attached debugger when none is installed), then show an OK/CANCEL box captioned
 * "Assertion Failure" ("Debug Breakpoint" for _BreakRelease) and block until answered.
 * OK returns Continue; any other answer, or a box that cannot be shown, returns Debug
 * (_WarnDebug) or Report (_WarnRelease, _BreakRelease). The detail text is cut at 763
 * units, the whole message at 1023. */
KVZ_API int32_t KVZ_CDECL _WarnDebug(const KVZChar *file, int32_t line, const KVZChar *format, ...);
KVZ_API int32_t KVZ_CDECL _WarnRelease(const KVZChar *file, int32_t line, const KVZChar *format,
                                       ...);
KVZ_API int32_t KVZ_CDECL _BreakRelease(const KVZChar *file, int32_t line);
/* An OK-only box: returns 1 once acknowledged, 0 when the box cannot be shown. */
KVZ_API int32_t KVZ_CDECL _WarnFinal(const KVZChar *format, ...);

#ifdef __cplusplus
}
#endif

#endif /* KVZDEBUGLIB_KVZDEBUGLIB_H */
