// The breakpoint trap, as a macro so that the instruction lies in the body of the
// function that expands it: a debugger then stops in that function's own frame.
#pragma once

#if defined(_WIN32)
// MSVC's intrinsic, and MinGW's always-inline int3 of the same name: the breakpoint that
// Windows debuggers expect, raised as EXCEPTION_BREAKPOINT.
#include <intrin.h>
#define KVZ_TRAP_INSTRUCTION() __debugbreak()
#elif defined(__i386__) || defined(__x86_64__)
// After int3 the instruction pointer is already past the trap, so a continue (or a
// returning signal handler) carries on with the next statement.
#define KVZ_TRAP_INSTRUCTION() __asm__ volatile("int3" ::: "memory")
#elif defined(__aarch64__) && defined(__linux__)
// Not brk: it leaves the program counter on the trap, and a debugger that did not plant it
// stops there again at every continue. Instead the function's own body sends SIGTRAP to
// its own thread (getpid, gettid, tgkill): the signal is taken as the last system call
// returns, with the program counter already past it, so a continue (or a returning
// signal handler) carries on with the next statement.
#include <signal.h>
#include <sys/syscall.h>
#define KVZ_TRAP_INSTRUCTION()                                                                     \
    __asm__ volatile("mov x8, %[getpid]\n\t"                                                       \
                     "svc #0\n\t"                                                                  \
                     "mov x9, x0\n\t"                                                              \
                     "mov x8, %[gettid]\n\t"                                                       \
                     "svc #0\n\t"                                                                  \
                     "mov x1, x0\n\t"                                                              \
                     "mov x0, x9\n\t"                                                              \
                     "mov x2, %[signal]\n\t"                                                       \
                     "mov x8, %[tgkill]\n\t"                                                       \
                     "svc #0"                                                                      \
                     :                                                                             \
                     : [getpid] "i"(__NR_getpid), [gettid] "i"(__NR_gettid),                       \
                       [tgkill] "i"(__NR_tgkill), [signal] "i"(SIGTRAP)                            \
                     : "x0", "x1", "x2", "x8", "x9", "memory")
#else
#error "no breakpoint trap known for this processor"
#endif
