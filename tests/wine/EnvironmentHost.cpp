// The floating-point environment and the stack a Windows host may call with.
//
//   kvz_wine_environment fp       the invalid, divide-by-zero and overflow exceptions
//                                 unmasked (_controlfp, as many engines' debug builds
//                                 run): floating-point text of NaN, the infinities,
//                                 DBL_MAX and a denormal raises nothing, leaves no flag
//                                 set and the control word as it was, and reads as with
//                                 the exceptions masked
//   kvz_wine_environment stack4   32-bit only: the exports called with the stack aligned
//                                 only to 4 bytes, as MSVC-built x86 code may leave it,
//                                 show the same text as when called as usual
#include "KVZDebugLib/KVZDebugLib.h"

#include "BoxWatcher.h"

#include <float.h>
#include <math.h>
#include <stdint.h>
#include <string.h>

using wine_test::BoxAnswer;
using wine_test::BoxWatcher;

namespace {

constexpr unsigned kUnmasked = _EM_INVALID | _EM_ZERODIVIDE | _EM_OVERFLOW;
const wchar_t kFormat[] = L"%f|%e|%g|%a|%.20e|%G|%A";

// NaN of either sign, the default NaN (made with the exceptions masked), the infinities,
// the largest double and a denormal.
void MakeValues(double (&values)[8]) {
    volatile double zero = 0.0;
    const double all[8] = {NAN,       -NAN,    zero / zero, INFINITY,
                           -INFINITY, DBL_MAX, -DBL_MAX,    DBL_MIN / 1024};
    memcpy(values, all, sizeof all);
}

// The text of a _WarnFinal box, answered by the watcher.
std::wstring BoxText(double value) {
    BoxWatcher watcher(BoxAnswer::Ok);
    _WarnFinal(kFormat, value, value, value, value, value, value, value);
    return watcher.Wait().text;
}

// The SSE unit's control and status, read whether or not this program is built for SSE.
unsigned Mxcsr() {
    unsigned csr = 0;
    __asm__ volatile("stmxcsr %0" : "=m"(csr));
    return csr;
}

// The exception flags set that a host may trap: invalid, divide-by-zero, overflow and
// underflow, of the x87 unit (_statusfp: 0x1E, which float.h names only outside strict
// ANSI) and of the SSE unit (MXCSR: 0x1D), the latter shifted above. Inexact and
// denormal-operand, which any arithmetic may set, are printed, not checked.
unsigned TrappableFlags() {
    return (_statusfp() & 0x1Eu) | (Mxcsr() & 0x1Du) << 8;
}

void RunFloatingPoint() {
    double values[8];
    MakeValues(values);
    std::wstring masked[8];
    for (int i = 0; i < 8; ++i) {
        masked[i] = BoxText(values[i]);
    }
    _clearfp();
    const unsigned before = _controlfp(0, 0);
    _controlfp(before & ~kUnmasked, _MCW_EM);
    const unsigned unmasked = _controlfp(0, 0);
    const unsigned csr = Mxcsr() & ~0x3Fu;
    // Unmasked in both units: the control word, and MXCSR's IM, ZM and OM bits.
    CHECK_EQ(0u, unmasked & kUnmasked);
    CHECK_EQ(0u, csr & 0x680u);
    for (int i = 0; i < 8; ++i) {
        const double value = values[i];
        _DebugOutput(kFormat, value, value, value, value, value, value, value);
        CHECK_TEXT(masked[i], BoxText(value));
    }
    CHECK_EQ(0u, TrappableFlags());
    const unsigned others = _statusfp() & 0x80001u; // inexact and denormal operand
    CHECK_EQ(unmasked, _controlfp(0, 0));
    CHECK_EQ(csr, Mxcsr() & ~0x3Fu);
    _controlfp(before, _MCW_EM);
    printf("8 values, 7 conversions each, through _DebugOutput and _WarnFinal: the same "
           "text, %s (NaN: \"%s\")\n",
           others != 0 ? "only the inexact or denormal-operand flag set" : "no flag set",
           wine_test::Show(masked[0]).c_str());
}

#if defined(__i386__)
// Calls fn with the words as its stack arguments and the stack pointer `offset` bytes
// past a 16-byte boundary at the call.
__attribute__((noinline)) uint32_t CallOnStack(const void *fn, const uint32_t *words,
                                               uint32_t count, uint32_t offset) {
    uint32_t result;
    __asm__ volatile("movl %%esp, %%edi\n\t"
                     "leal 16(,%[count],4), %%eax\n\t"
                     "subl %%eax, %%esp\n\t"
                     "andl $-16, %%esp\n\t"
                     "addl %[offset], %%esp\n\t"
                     "xorl %%eax, %%eax\n\t"
                     "1:\n\t"
                     "cmpl %[count], %%eax\n\t"
                     "je 2f\n\t"
                     "movl (%[words],%%eax,4), %[offset]\n\t"
                     "movl %[offset], (%%esp,%%eax,4)\n\t"
                     "incl %%eax\n\t"
                     "jmp 1b\n\t"
                     "2:\n\t"
                     "call *%[fn]\n\t"
                     "movl %%edi, %%esp\n\t"
                     : "=a"(result), [count] "+c"(count), [offset] "+d"(offset)
                     : [fn] "S"(fn), [words] "b"(words)
                     : "edi", "memory", "cc", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5",
                       "xmm6", "xmm7");
    return result;
}

void RunStack4() {
    double values[8];
    MakeValues(values);
    values[0] = 1.0 / 3; // one value whose digits are made in the library
    int calls = 0;
    for (double value : values) {
        const std::wstring expected = BoxText(value);
        uint32_t words[1 + 14];
        const wchar_t *format = kFormat;
        memcpy(&words[0], &format, 4);
        for (int i = 0; i < 7; ++i) {
            memcpy(&words[1 + 2 * i], &value, 8);
        }
        for (uint32_t offset : {4u, 8u, 12u}) {
            CallOnStack(reinterpret_cast<const void *>(&_DebugOutput), words, 15, offset);
            BoxWatcher watcher(BoxAnswer::Ok);
            const uint32_t result =
                CallOnStack(reinterpret_cast<const void *>(&_WarnFinal), words, 15, offset);
            CHECK_TEXT(expected, watcher.Wait().text);
            CHECK_EQ(1u, result);
            calls += 2;
        }
    }
    printf("%d calls with the stack 4, 8 and 12 bytes past a 16-byte boundary\n", calls);
}
#endif

} // namespace

int main(int argc, char **argv) {
    const char *which = argc > 1 ? argv[1] : "";
    if (strcmp(which, "fp") == 0) {
        RunFloatingPoint();
#if defined(__i386__)
    } else if (strcmp(which, "stack4") == 0) {
        RunStack4();
#endif
    } else {
        fprintf(stderr, "usage: %s fp|stack4 (stack4: 32-bit only)\n", argv[0]);
        return 2;
    }
    return wine_test::Finish(which);
}
