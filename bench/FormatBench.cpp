// The formatter and the prompts' frames, side by side with the C library's vswprintf and
// fmt's format_to_n on the equivalent wide formats.
//
// Names: format/<row>/<who> and frame/<row>/<who>, who being kvz, glibc or fmt. A row's
// three runs format the same values into storage of the same size: DetailBuffer's 764
// units for the table, MessageBuffer's 1024 for the frames. tools/bench.sh turns the
// medians into ratios.
#include "KVZDebugLib/Frames.h"
#include "KVZDebugLib/ReportState.h"
#include "KVZDebugLib/text/Format.h"

#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <fmt/xchar.h>

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string>
#include <wchar.h>

namespace {

using kvz::kDetailBufferSize;
using kvz::kMessageBufferSize;

// The C library's bounded wide formatting, called as a host's wrapper would call it.
int GlibcFormat(wchar_t *buffer, size_t capacity, const wchar_t *format, ...) {
    va_list args;
    va_start(args, format);
    int length = vswprintf(buffer, capacity, format, args);
    va_end(args);
    return length;
}

// fmt into the same storage, cut to fit and terminated as the others are.
template <class... A>
size_t FmtFormat(wchar_t *buffer, size_t capacity, const wchar_t *format, const A &...args) {
    auto result = fmt::format_to_n(buffer, capacity - 1, fmt::wstring_view(format), args...);
    *result.out = 0;
    return static_cast<size_t>(result.out - buffer);
}

const std::u16string kLong16(600, u'x');
const std::wstring kLongWide(600, L'x');
void *const kPointer = reinterpret_cast<void *>(uintptr_t{0x7ffd4a3c1230});

// One row of the table: the same conversion three ways.
#define KVZ_FORMAT_ROW(name, kvzCall, glibcCall, fmtCall)                                          \
    void Format_##name##_kvz(benchmark::State &state) {                                            \
        KVZChar buffer[kDetailBufferSize];                                                         \
        for (auto _ : state) {                                                                     \
            benchmark::DoNotOptimize(kvz::FormatText(buffer, kDetailBufferSize, kvzCall));        \
            benchmark::ClobberMemory();                                                            \
        }                                                                                          \
    }                                                                                              \
    void Format_##name##_glibc(benchmark::State &state) {                                          \
        wchar_t buffer[kDetailBufferSize];                                                         \
        for (auto _ : state) {                                                                     \
            benchmark::DoNotOptimize(GlibcFormat(buffer, kDetailBufferSize, glibcCall));           \
            benchmark::ClobberMemory();                                                            \
        }                                                                                          \
    }                                                                                              \
    void Format_##name##_fmt(benchmark::State &state) {                                            \
        wchar_t buffer[kDetailBufferSize];                                                         \
        for (auto _ : state) {                                                                     \
            benchmark::DoNotOptimize(FmtFormat(buffer, kDetailBufferSize, fmtCall));               \
            benchmark::ClobberMemory();                                                            \
        }                                                                                          \
    }                                                                                              \
    BENCHMARK(Format_##name##_kvz)->Name("format/" #name "/kvz");                                  \
    BENCHMARK(Format_##name##_glibc)->Name("format/" #name "/glibc");                              \
    BENCHMARK(Format_##name##_fmt)->Name("format/" #name "/fmt");

#define ARGS(...) __VA_ARGS__

// Values go through a volatile read so that no call is folded at compile time.
volatile int g_int = -48213;
volatile unsigned g_unsigned = 4000000000u;
volatile double g_double = 3.14159265;
volatile double g_ratio = 0.000123456;

KVZ_FORMAT_ROW(s, ARGS(u"cannot open %s", u"config/settings.ini"),
               ARGS(L"cannot open %ls", L"config/settings.ini"),
               ARGS(L"cannot open {}", L"config/settings.ini"))
KVZ_FORMAT_ROW(d_i_u, ARGS(u"item %d of %i (%u)", g_int, 12, g_unsigned),
               ARGS(L"item %d of %i (%u)", g_int, 12, g_unsigned),
               ARGS(L"item {} of {} ({})", int{g_int}, 12, unsigned{g_unsigned}))
KVZ_FORMAT_ROW(x_08X, ARGS(u"flags %x mask %08X", 0xbeefu, 0x1f2eu),
               ARGS(L"flags %x mask %08X", 0xbeefu, 0x1f2eu),
               ARGS(L"flags {:x} mask {:08X}", 0xbeefu, 0x1f2eu))
KVZ_FORMAT_ROW(p, ARGS(u"at %p", kPointer), ARGS(L"at %p", kPointer),
               ARGS(L"at {:016X}", reinterpret_cast<uintptr_t>(kPointer)))
KVZ_FORMAT_ROW(f2, ARGS(u"took %.2f ms", double{g_double}), ARGS(L"took %.2f ms", double{g_double}),
               ARGS(L"took {:.2f} ms", double{g_double}))
KVZ_FORMAT_ROW(g, ARGS(u"ratio %g", double{g_ratio}), ARGS(L"ratio %g", double{g_ratio}),
               ARGS(L"ratio {:g}", double{g_ratio}))
KVZ_FORMAT_ROW(c, ARGS(u"key '%c'", u'q'), ARGS(L"key '%lc'", L'q'), ARGS(L"key '{}'", L'q'))
KVZ_FORMAT_ROW(width, ARGS(u"%-20s|%5d", u"name", 42), ARGS(L"%-20ls|%5d", L"name", 42),
               ARGS(L"{:<20}|{:>5}", L"name", 42))
KVZ_FORMAT_ROW(precision, ARGS(u"%.5s|%*d|%.3d", u"truncated", 8, 42, 7),
               ARGS(L"%.5ls|%*d|%.3d", L"truncated", 8, 42, 7),
               ARGS(L"{:.5}|{:>{}}|{:03}", L"truncated", 42, 8, 7))
KVZ_FORMAT_ROW(s600, ARGS(u"%s", kLong16.c_str()), ARGS(L"%ls", kLongWide.c_str()),
               ARGS(L"{}", kLongWide.c_str()))
KVZ_FORMAT_ROW(plain, ARGS(u"Assertion failed: index < count"),
               ARGS(L"Assertion failed: index < count"), ARGS(L"Assertion failed: index < count"))

// The frames: file, line and detail set into MessageBuffer. The library composes from
// DetailBuffer; the baseline formats the same frame with the same values.
const KVZChar kFile16[] = u"src/storage/TableIndex.cpp";
const wchar_t kFileWide[] = L"src/storage/TableIndex.cpp";
const KVZChar kDetail16[] = u"index 12 out of range [0, 10) in table 'users'";
const wchar_t kDetailWide[] = L"index 12 out of range [0, 10) in table 'users'";
volatile int g_line = 1234;

// Formats the detail as a prompt does, and returns the length the frame is handed.
size_t FormatDetail(const KVZChar *format, ...) {
    va_list args;
    va_start(args, format);
    size_t length = 0;
    kvz::FormatTextV(kvz::g_ReportState.DetailBuffer, kDetailBufferSize, format, args, &length);
    va_end(args);
    return length;
}

void Frame_kvz(benchmark::State &state,
               size_t (*compose)(KVZChar *, const KVZChar *, int32_t, const KVZChar *, size_t),
               const KVZChar *detail) {
    size_t length = FormatDetail(u"%s", detail);
    for (auto _ : state) {
        benchmark::DoNotOptimize(compose(kvz::g_ReportState.MessageBuffer, kFile16, g_line,
                                         kvz::g_ReportState.DetailBuffer, length));
        benchmark::ClobberMemory();
    }
}

size_t BreakFrame(KVZChar *message, const KVZChar *file, int32_t line, const KVZChar *, size_t) {
    return kvz::ComposeBreakFrame(message, file, line);
}

void Frame_final_kvz(benchmark::State &state, const KVZChar *detail) {
    size_t length = FormatDetail(u"%s", detail);
    for (auto _ : state) {
        benchmark::DoNotOptimize(kvz::ComposeFinalFrame(kvz::g_ReportState.MessageBuffer,
                                                        kvz::g_ReportState.DetailBuffer, length));
        benchmark::ClobberMemory();
    }
}

void Frame_glibc(benchmark::State &state, const wchar_t *frame, bool fileFirst,
                 const wchar_t *detail) {
    wchar_t buffer[kMessageBufferSize];
    for (auto _ : state) {
        int length = fileFirst
                         ? GlibcFormat(buffer, kMessageBufferSize, frame, kFileWide, g_line, detail)
                         : GlibcFormat(buffer, kMessageBufferSize, frame, detail);
        benchmark::DoNotOptimize(length);
        benchmark::ClobberMemory();
    }
}

const wchar_t kWarnDebugFrame[] = L"%ls, line %i : %ls\n Press OK to continue or CANCEL to debug.";
const wchar_t kWarnReleaseFrame[] =
    L"%ls, line %i : %ls\n Press OK to continue or CANCEL to report this error.";
const wchar_t kBreakFrame[] =
    L"A debug breakpoint was hit in %ls, line %i.\nThis indicates a condition that should not "
    L"occur.\nPlease notify a programmer of this. Press OK to continue or CANCEL to report.";
const wchar_t kFinalFrame[] = L"%ls\n Press OK to continue.";

BENCHMARK_CAPTURE(Frame_kvz, warn_debug, kvz::ComposeWarnDebugFrame, kDetail16)
    ->Name("frame/warn_debug/kvz");
BENCHMARK_CAPTURE(Frame_glibc, warn_debug, kWarnDebugFrame, true, kDetailWide)
    ->Name("frame/warn_debug/glibc");
BENCHMARK_CAPTURE(Frame_kvz, warn_release, kvz::ComposeWarnReleaseFrame, kDetail16)
    ->Name("frame/warn_release/kvz");
BENCHMARK_CAPTURE(Frame_glibc, warn_release, kWarnReleaseFrame, true, kDetailWide)
    ->Name("frame/warn_release/glibc");
BENCHMARK_CAPTURE(Frame_kvz, break_release, BreakFrame, kDetail16)->Name("frame/break_release/kvz");
// The breakpoint frame has no detail; the %ls after the line number is never reached.
BENCHMARK_CAPTURE(Frame_glibc, break_release, kBreakFrame, true, kDetailWide)
    ->Name("frame/break_release/glibc");
BENCHMARK_CAPTURE(Frame_final_kvz, warn_final, kDetail16)->Name("frame/warn_final/kvz");
BENCHMARK_CAPTURE(Frame_glibc, warn_final, kFinalFrame, false, kDetailWide)
    ->Name("frame/warn_final/glibc");

// A detail that fills DetailBuffer: the frame then copies 763 units of it.
const std::u16string kFullDetail16(763, u'd');
const std::wstring kFullDetailWide(763, L'd');
BENCHMARK_CAPTURE(Frame_kvz, full, kvz::ComposeWarnReleaseFrame, kFullDetail16.c_str())
    ->Name("frame/warn_release_full_detail/kvz");
BENCHMARK_CAPTURE(Frame_glibc, full, kWarnReleaseFrame, true, kFullDetailWide.c_str())
    ->Name("frame/warn_release_full_detail/glibc");

} // namespace

BENCHMARK_MAIN();
