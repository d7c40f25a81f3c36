// The exports of the real module, each beside the baseline its target is set against:
//   hook/<entry>/{kvz,floor,direct}
//                                 a forwarding entry point with its hook installed; its
//                                 floor, a bare call into the module (a setter) and one
//                                 indirect call of the same hook; and a direct call of it
//   module/setter/{kvz,floor,direct}
//                                 a setter, the least a call into the module costs; its
//                                 floor, a function of another shared library that makes
//                                 the same one release store; and for scale a direct call
//   nohook/{kvz,raw,ifstream}     _AssertFailed with no hook and no debugger, the least
//                                 the kernel takes to hand over /proc/self/status
//                                 (open/read/close into a stack buffer), and the same read
//                                 through std::ifstream
//   output/<text>/{kvz,write,fprintf}
//                                 _DebugOutput; its floor, one write(2) of the same
//                                 finished UTF-8 bytes; and glibc's fprintf of the same
//                                 text to the unbuffered stderr; all with stderr on
//                                 /dev/null
#include "KVZDebugLib/KVZDebugLib.h"

#include <benchmark/benchmark.h>

extern "C" void *KvzBenchStore(void *value); // bench/SetterFloor.c

#include <fcntl.h>
#include <fstream>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <unistd.h>

namespace {

// The hooks do a little work with their arguments, as a host's would, and are never
// inlined: both sides of the comparison make a real call.
[[gnu::noipa]] int32_t Hook3(intptr_t a, intptr_t b, intptr_t c) {
    return static_cast<int32_t>(a + b + c);
}
[[gnu::noipa]] int32_t Hook4(intptr_t a, intptr_t b, intptr_t c, intptr_t d) {
    return static_cast<int32_t>(a + b + c + d);
}
[[gnu::noipa]] int32_t Hook1(void *context) {
    return static_cast<int32_t>(reinterpret_cast<intptr_t>(context));
}

intptr_t Value(intptr_t v) {
    benchmark::DoNotOptimize(v);
    return v;
}

void Hook_AssertFailed_kvz(benchmark::State &state) {
    _SetAssertionFailedHandler(Hook3);
    intptr_t a = Value(1), b = Value(2), c = Value(3);
    for (auto _ : state) {
        benchmark::DoNotOptimize(_AssertFailed(a, b, c));
    }
    _SetAssertionFailedHandler(nullptr);
}
void Hook_AssertFailed_direct(benchmark::State &state) {
    intptr_t a = Value(1), b = Value(2), c = Value(3);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Hook3(a, b, c));
    }
}
void Hook_AssertFailedEx_kvz(benchmark::State &state) {
    _SetAssertionFailedExHandler(Hook4);
    intptr_t a = Value(1), b = Value(2), c = Value(3), d = Value(4);
    for (auto _ : state) {
        benchmark::DoNotOptimize(_AssertFailedEx(a, b, c, d));
    }
    _SetAssertionFailedExHandler(nullptr);
}
void Hook_AssertFailedEx_direct(benchmark::State &state) {
    intptr_t a = Value(1), b = Value(2), c = Value(3), d = Value(4);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Hook4(a, b, c, d));
    }
}
void Hook_EnterSafeMode_kvz(benchmark::State &state) {
    _SetEnterSafeModeHandler(Hook1);
    void *context = reinterpret_cast<void *>(Value(5));
    for (auto _ : state) {
        benchmark::DoNotOptimize(_EnterSafeMode(context));
    }
    _SetEnterSafeModeHandler(nullptr);
}
void Hook_EnterSafeMode_direct(benchmark::State &state) {
    void *context = reinterpret_cast<void *>(Value(5));
    for (auto _ : state) {
        benchmark::DoNotOptimize(Hook1(context));
    }
}

// What forwarding cannot go below: a call into the module (a setter, through the same
// dynamic linker's stub) and one indirect call of the hook, as the entry point makes.
template <typename T> T Opaque(T v) {
    benchmark::DoNotOptimize(v);
    return v;
}
template <typename Hook, typename Setter, typename... Args>
void Floor(benchmark::State &state, Setter setter, Hook hook, Args... args) {
    Hook volatile target = hook;
    for (auto _ : state) {
        benchmark::DoNotOptimize(setter(nullptr));
        benchmark::DoNotOptimize(target(Opaque(args)...));
    }
}
void Hook_AssertFailed_floor(benchmark::State &state) {
    Floor(state, _SetAssertionFailedHandler, Hook3, intptr_t{1}, intptr_t{2}, intptr_t{3});
}
void Hook_AssertFailedEx_floor(benchmark::State &state) {
    Floor(state, _SetAssertionFailedExHandler, Hook4, intptr_t{1}, intptr_t{2}, intptr_t{3},
          intptr_t{4});
}
void Hook_EnterSafeMode_floor(benchmark::State &state) {
    Floor(state, _SetEnterSafeModeHandler, Hook1, reinterpret_cast<void *>(intptr_t{5}));
}

// For scale: the least any call into the module costs, a setter (one store) called
// through the dynamic linker's stub, beside the same direct call of a hook.
void Module_call_kvz(benchmark::State &state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(_SetAssertionFailedHandler(Hook3));
    }
    _SetAssertionFailedHandler(nullptr);
}
void Module_call_floor(benchmark::State &state) {
    void *hook = reinterpret_cast<void *>(Hook3);
    for (auto _ : state) {
        benchmark::DoNotOptimize(KvzBenchStore(hook));
    }
}
void Module_call_direct(benchmark::State &state) {
    intptr_t a = Value(1), b = Value(2), c = Value(3);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Hook3(a, b, c));
    }
}

BENCHMARK(Module_call_kvz)->Name("module/setter/kvz");
BENCHMARK(Module_call_floor)->Name("module/setter/floor");
BENCHMARK(Module_call_direct)->Name("module/setter/direct");
BENCHMARK(Hook_AssertFailed_kvz)->Name("hook/AssertFailed/kvz");
BENCHMARK(Hook_AssertFailed_floor)->Name("hook/AssertFailed/floor");
BENCHMARK(Hook_AssertFailed_direct)->Name("hook/AssertFailed/direct");
BENCHMARK(Hook_AssertFailedEx_kvz)->Name("hook/AssertFailedEx/kvz");
BENCHMARK(Hook_AssertFailedEx_floor)->Name("hook/AssertFailedEx/floor");
BENCHMARK(Hook_AssertFailedEx_direct)->Name("hook/AssertFailedEx/direct");
BENCHMARK(Hook_EnterSafeMode_kvz)->Name("hook/EnterSafeMode/kvz");
BENCHMARK(Hook_EnterSafeMode_floor)->Name("hook/EnterSafeMode/floor");
BENCHMARK(Hook_EnterSafeMode_direct)->Name("hook/EnterSafeMode/direct");

// With no hook and no debugger the entry point reads /proc/self/status and returns 0.
void NoHook_kvz(benchmark::State &state) {
    _SetAssertionFailedHandler(nullptr);
    for (auto _ : state) {
        benchmark::DoNotOptimize(_AssertFailed(1, 2, 3));
    }
}

// The least the kernel takes: one open, one read of the whole file, one close.
void NoHook_raw(benchmark::State &state) {
    for (auto _ : state) {
        char buffer[4096];
        int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
        ssize_t got = read(fd, buffer, sizeof buffer);
        close(fd);
        benchmark::DoNotOptimize(got);
        benchmark::ClobberMemory();
    }
}

// The same question answered the way a C++ program often asks it.
void NoHook_ifstream(benchmark::State &state) {
    for (auto _ : state) {
        std::ifstream status("/proc/self/status");
        std::string line;
        bool traced = false;
        while (std::getline(status, line)) {
            if (line.compare(0, 10, "TracerPid:") == 0) {
                traced = atoi(line.c_str() + 10) != 0;
                break;
            }
        }
        benchmark::DoNotOptimize(traced);
    }
}

BENCHMARK(NoHook_kvz)->Name("nohook/AssertFailed/kvz");
BENCHMARK(NoHook_raw)->Name("nohook/AssertFailed/raw");
BENCHMARK(NoHook_ifstream)->Name("nohook/AssertFailed/ifstream");

// Standard error goes to /dev/null for the run of one benchmark and comes back after.
struct StandardErrorToNull {
    int saved;
    StandardErrorToNull() {
        fflush(stderr);
        saved = dup(STDERR_FILENO);
        int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        dup2(null, STDERR_FILENO);
        close(null);
    }
    ~StandardErrorToNull() {
        fflush(stderr);
        dup2(saved, STDERR_FILENO);
        close(saved);
    }
};

volatile int g_count = 1234;
volatile int g_total = 4096;

void Output_line_kvz(benchmark::State &state) {
    StandardErrorToNull null;
    for (auto _ : state) {
        _DebugOutput(u"cache: wrote %d of %d bytes to %s\n", g_count, g_total,
                     u"/var/cache/app/index.db");
    }
}
void Output_line_fprintf(benchmark::State &state) {
    StandardErrorToNull null;
    for (auto _ : state) {
        fprintf(stderr, "cache: wrote %d of %d bytes to %s\n", g_count, g_total,
                "/var/cache/app/index.db");
    }
}
void Output_plain_kvz(benchmark::State &state) {
    StandardErrorToNull null;
    for (auto _ : state) {
        _DebugOutput(u"Assertion failed: index < count\n");
    }
}
void Output_plain_fprintf(benchmark::State &state) {
    StandardErrorToNull null;
    for (auto _ : state) {
        fprintf(stderr, "Assertion failed: index < count\n");
    }
}
// The floor of any output: one write(2) of the finished bytes.
void WriteFinished(benchmark::State &state, const char *bytes) {
    StandardErrorToNull null;
    const size_t size = strlen(bytes);
    for (auto _ : state) {
        benchmark::DoNotOptimize(write(STDERR_FILENO, bytes, size));
    }
}
void Output_line_write(benchmark::State &state) {
    WriteFinished(state, "cache: wrote 1234 of 4096 bytes to /var/cache/app/index.db\n");
}
void Output_plain_write(benchmark::State &state) {
    WriteFinished(state, "Assertion failed: index < count\n");
}
void Output_utf8_write(benchmark::State &state) {
    WriteFinished(state, "Überlauf in Größe: 4096 > 1234\n");
}

// Text beyond ASCII: both write the same UTF-8 bytes.
void Output_utf8_kvz(benchmark::State &state) {
    StandardErrorToNull null;
    for (auto _ : state) {
        _DebugOutput(u"Überlauf in %s: %d > %d\n", u"Größe", g_total, g_count);
    }
}
void Output_utf8_fprintf(benchmark::State &state) {
    StandardErrorToNull null;
    for (auto _ : state) {
        fprintf(stderr, "Überlauf in %s: %d > %d\n", "Größe", g_total, g_count);
    }
}

BENCHMARK(Output_line_kvz)->Name("output/line/kvz");
BENCHMARK(Output_line_write)->Name("output/line/write");
BENCHMARK(Output_line_fprintf)->Name("output/line/fprintf");
BENCHMARK(Output_plain_kvz)->Name("output/plain/kvz");
BENCHMARK(Output_plain_write)->Name("output/plain/write");
BENCHMARK(Output_plain_fprintf)->Name("output/plain/fprintf");
BENCHMARK(Output_utf8_kvz)->Name("output/utf8/kvz");
BENCHMARK(Output_utf8_write)->Name("output/utf8/write");
BENCHMARK(Output_utf8_fprintf)->Name("output/utf8/fprintf");

// A traced run would trap in the no-hook benchmark and measure the debugger instead.
bool Traced() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 10, "TracerPid:") == 0) {
            return atoi(line.c_str() + 10) != 0;
        }
    }
    return false;
}

} // namespace

int main(int argc, char **argv) {
    if (Traced()) {
        fprintf(stderr, "kvz_bench_exports: run it without a debugger or tracer\n");
        return 2;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
