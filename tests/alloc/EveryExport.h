// Every export, each one first called here: the forwarding entry points with no hook and
// with hooks, the setters, _DebugOutput over every conversion the formatter knows
// (floating point and narrow text included), and the four prompts with no safe-mode hook
// and with one. Returns the sum of the results, so nothing is optimised away.
#pragma once

#include "KVZDebugLib/KVZDebugLib.h"

#include <cfloat>
#include <stddef.h>
#include <stdint.h>

namespace kvz::alloc {

inline int32_t KVZ_CDECL SumHook(intptr_t a, intptr_t b, intptr_t c) {
    return static_cast<int32_t>(a + b + c);
}
inline int32_t KVZ_CDECL SumHookEx(intptr_t a, intptr_t b, intptr_t c, intptr_t d) {
    return static_cast<int32_t>(a + b + c + d);
}
inline int32_t KVZ_CDECL SafeModeHook(void *) {
    return 0;
}

// Every conversion, flag and length modifier, with the values that send floating point
// to the C library's digits (large, small, long double, high precision).
inline void OutputEveryConversion() {
    int written = 0;
    _DebugOutput(u"%s|%ls|%ws|%S|%hs|%c|%C|%lc|%hc|%d|%i|%u|%x|%X|%o|%p|%hhd|%hd|%ld|%lld|%jd|%zu|"
                 u"%td|%I64d|%I32u|%Id|%08.3f|%e|%E|%g|%G|%a|%A|%.100f|%.100e|%Lf|%Lg|%Le|%La|"
                 u"%-8d|%+d|% d|%#x|%#o|%*.*s|%%|%n|%q|%f|%F\n",
                 u"wide", u"wide", u"wide", "narrow \xc3\xa9", "narrow", u'c', 'C', u'\u20ac', 'h',
                 -1, 2, 3u, 0xabu, 0xABu, 8u, static_cast<void *>(&written), 300, 70000, -5L, -6LL,
                 static_cast<intmax_t>(7), static_cast<size_t>(8), static_cast<ptrdiff_t>(9), 10LL,
                 11u, static_cast<intptr_t>(12), 3.14159, 1e300, 1e-300, 0.5, 1e20, 1.0, -2.0,
                 DBL_MAX, DBL_MAX, LDBL_MAX, LDBL_MIN, 1.5L, 2.5L, 7, 5, 5, 255u, 8u, 10, 3,
                 u"width and precision", &written, -DBL_MAX, 1e-5);
}

inline long RunEveryExport() {
    long sum = 0;
    // No hooks: each forwarding entry point checks for a debugger.
    sum += _AssertFailed(1, 2, 3);
    sum += _AssertFailedEx(1, 2, 3, 4);
    sum += _EnterSafeMode(nullptr);
    OutputEveryConversion();
    // The prompts with no safe-mode hook, then the setters, then everything with hooks.
    sum += _WarnDebug(u"alloc.cpp", 1, u"%s %d %.2f", u"detail", 1, 0.5);
    sum += _WarnRelease(u"alloc.cpp", 2, u"%S %c", "narrow", u'x');
    sum += _BreakRelease(u"alloc.cpp", 3);
    sum += _WarnFinal(u"final %g", 2.5);
    _SetAssertionFailedHandler(SumHook);
    _SetAssertionFailedExHandler(SumHookEx);
    _SetEnterSafeModeHandler(SafeModeHook);
    sum += _AssertFailed(1, 2, 3);
    sum += _AssertFailedEx(1, 2, 3, 4);
    sum += _EnterSafeMode(nullptr);
    sum += _WarnDebug(u"alloc.cpp", 4, u"%s", u"with a hook");
    sum += _WarnRelease(u"alloc.cpp", 5, u"%d", 5);
    sum += _BreakRelease(u"alloc.cpp", 6);
    sum += _WarnFinal(u"final");
    _SetAssertionFailedHandler(nullptr);
    _SetAssertionFailedExHandler(nullptr);
    _SetEnterSafeModeHandler(nullptr);
    return sum;
}

// The number of outputs and boxes RunEveryExport makes.
constexpr int kOutputs = 1;
constexpr int kBoxes = 8;

} // namespace kvz::alloc
