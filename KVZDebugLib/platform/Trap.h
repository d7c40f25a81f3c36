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
#elif defined(__aarch64__)
// brk leaves the program counter on the trap; the POSIX side's handler steps over it.
#define KVZ_TRAP_INSTRUCTION() __asm__ volatile("brk #0xf000" ::: "memory")
#else
#error "no breakpoint trap known for this processor"
#endif
