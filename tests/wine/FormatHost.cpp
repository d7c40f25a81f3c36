// The library's formatter against the platform runtime's own _snwprintf (msvcrt.dll), on a
// table of formats: the two must agree wherever the library does not differ on purpose
// (see KVZDebugLib/text/Format.h). Also the narrow-text decoding from the code pages,
// against MultiByteToWideChar over the whole text at once.
#include "KVZDebugLib/platform/windows/WindowsNarrow.h"
#include "KVZDebugLib/text/Format.h"

#include "WineTest.h"

#include <limits.h>
#include <stdint.h>
#include <string.h>

namespace {

using Snwprintf = int(__cdecl *)(wchar_t *, size_t, const wchar_t *, ...);
Snwprintf g_runtime = nullptr;
int g_rows = 0;

// Formats one row both ways, into buffers large enough for every row, and compares the
// texts and their lengths.
template <class... Args> void Row(int line, const wchar_t *format, Args... args) {
    wchar_t ours[600];
    wchar_t theirs[600];
    size_t length = kvz::FormatText(ours, 600, format, args...);
    int count = g_runtime(theirs, 599, format, args...);
    theirs[599] = 0;
    ++g_rows;
    if (std::wstring(ours) != theirs || static_cast<int>(length) != count) {
        wine_test::Fail(__FILE__, line,
                        "format \"" + wine_test::Show(format) + "\": library \"" +
                            wine_test::Show(ours) + "\" (" + std::to_string(length) +
                            "), msvcrt \"" + wine_test::Show(theirs) + "\" (" +
                            std::to_string(count) + ")");
    }
}

#define ROW(...) Row(__LINE__, __VA_ARGS__)

void IntegerRows() {
    ROW(L"%d|%i|%d|%d", 0, 42, -42, INT_MIN);
    ROW(L"%u|%u", 4294967295u, 7u);
    ROW(L"[%5d][%-5d][%05d][%+d][% d][%+05d][% 05d]", 42, 42, 42, 42, 42, -42, 42);
    ROW(L"[%.3d][%8.3d][%-8.3d][%.0d][%5.0d]", 7, -7, 7, 0, 0);
    // Not compared: the 0 flag with a precision ("%08.3d"). Wine's msvcrt.dll pads with
    // zeros; C99 and the library ignore the flag then.
    ROW(L"[%x][%X][%#x][%#X][%o][%#o][%#x][%#o]", 255, 255, 255, 255, 8, 8, 0, 0);
    ROW(L"[%#10x][%-#10X][%#010x][%.5x][%#.5o]", 0xbeefu, 0xbeefu, 0xbeefu, 0xabu, 8u);
    ROW(L"[%hd][%hu][%hx]", 70000, 65537, 0x12345);
    ROW(L"[%ld][%lu][%lx]", -5l, 4000000000ul, 0xfffffffful);
    ROW(L"[%I64d][%I64u][%I64x][%I64X]", INT64_MIN, UINT64_MAX, 0x1234567890abcdefull,
        0x1234567890abcdefull);
    ROW(L"[%lld][%llu][%llx]", -1234567890123ll, 18446744073709551615ull, 255ull);
    ROW(L"[%I32d][%I32x]", -1, 0xfeedu);
    ROW(L"[%Id][%Iu][%Ix]", static_cast<intptr_t>(-3), static_cast<uintptr_t>(SIZE_MAX),
        static_cast<uintptr_t>(0xabcdef));
    ROW(L"[%*d][%-*d][%*d][%.*d][%*.*d]", 6, 42, 6, 42, -6, 42, 4, 42, 8, 3, 42);
    ROW(L"[%300d]", 1);
    ROW(L"[%jd][%zu][%td][%zx]", static_cast<intmax_t>(-9), static_cast<size_t>(SIZE_MAX),
        static_cast<ptrdiff_t>(-2), static_cast<size_t>(255));
    // Not compared: hh, which msvcrt.dll ignores (it prints all of the int); the library
    // follows the modern runtime and C99.
}

void CharacterAndStringRows() {
    ROW(L"[%c][%5c][%-5c][%lc][%wc][%05c]", L'A', L'B', L'C', L'D', L'E', L'F');
    ROW(L"[%C][%hc][%3hc]", 'a', 'b', 'c');
    ROW(L"[%s][%10s][%-10s][%.2s][%10.2s][%ls][%ws]", L"wide", L"wide", L"wide", L"wide", L"wide",
        L"long", L"wide");
    ROW(L"[%S][%hs][%.3hs][%8hs][%-8S][%lS][%wS]", "narrow", "narrow", "narrow", "nar", "nar",
        L"wide", L"wide");
    ROW(L"[%05s][%-05s]", L"ab", L"ab");
    ROW(L"[%s][%S][%.3s][%10s]", static_cast<const wchar_t *>(nullptr),
        static_cast<const char *>(nullptr), static_cast<const wchar_t *>(nullptr),
        static_cast<const wchar_t *>(nullptr));
    ROW(L"[%s]", L"\x00e9t\x00e9 \x4e2d\x6587 \xd83d\xde00");
    ROW(L"[%p][%p]", reinterpret_cast<void *>(0x1234), static_cast<void *>(nullptr));
    ROW(L"100%% [%%] %d%%", 5);
    ROW(L"no conversions at all");
    ROW(L"");
    int count = 0;
    ROW(L"a%nb", &count); // the library writes nothing through the pointer; both print "ab"
    ROW(L"ends in %");
    std::string longNarrow(450, 'n');
    ROW(L"[%S]", longNarrow.c_str()); // decoded in several pieces
    // Not compared: unknown conversions, which the library shows as they stand and
    // msvcrt.dll shows without their %.
}

void FloatRows() {
    ROW(L"[%f][%f][%f][%f]", 3.14159, -2.5, 0.0, 1e15);
    ROW(L"[%.2f][%10.3f][%-10.3f][%+f][% f][%010.2f][%.0f][%#.0f]", 3.14159, 3.14159, 3.14159, 1.5,
        1.5, -3.14159, 3.7, 3.0);
    ROW(L"[%.10f][%.20f][%.*f]", 1.0 / 3, 0.1, 3, 2.71828);
    ROW(L"[%g][%g][%g][%g][%G]", 0.5, 100000.0, 123.456, 0.001, 0.25);
    ROW(L"[%#g][%.3g][%10.4g][%-10g]", 1.0, 3.14159, 2.5, 1.5);
    ROW(L"[%f]", 123456789012345678.0);
    // Not compared: %e and %E anywhere, and %g or %G where they choose the exponent form
    // (the library writes two exponent digits as C99 does, msvcrt.dll three); infinity and
    // NaN (the library prints inf and nan as C99 does, msvcrt.dll 1.#INF and 1.#QNAN);
    // exact ties such as %.0f of 2.5 (the library rounds them to even, msvcrt.dll away
    // from zero); %a and %A (the library drops trailing zeros of the fraction as C99 does,
    // msvcrt.dll writes all thirteen digits).
}

// Narrow text from single-byte, double-byte and UTF-8 code pages, long enough to be
// decoded in several pieces, with characters straddling every piece boundary.
std::wstring Widen(unsigned codePage, const std::string &bytes) {
    int units =
        MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring wide(units > 0 ? static_cast<size_t>(units) : 0, L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(),
                        units);
    return wide;
}

void CodePageRows() {
    struct Text {
        unsigned codePage;
        const char *characters[4]; // repeated in turn
    };
    const Text texts[] = {
        {932, {"a", "\x93\xfa", "\x8c\x8e", "\x93\xfa"}},               // Shift-JIS
        {936, {"b", "\xd6\xd0", "\xce\xc4", "\xd6\xd0"}},               // GBK
        {65001, {"c", "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80"}}, // UTF-8
        {1252, {"d", "\xe9", "\x80", "\xff"}},                          // Western
    };
    for (const Text &text : texts) {
        std::string bytes;
        std::string half; // the whole characters within the first 150 bytes
        for (int i = 0; i < 150; ++i) {
            const char *character = text.characters[i % 4];
            bytes += character;
            if (bytes.size() <= 150) {
                half = bytes;
            }
        }
        const std::wstring expected = Widen(text.codePage, bytes);
        CHECK(!expected.empty());

        wchar_t out[1024];
        kvz::TextSink sink = kvz::MakeTextSink(out, 1024);
        size_t produced = kvz::PutNarrowFromCodePage(sink, bytes.c_str(), SIZE_MAX, text.codePage);
        kvz::SinkFinish(sink);
        CHECK_EQ(expected.size(), produced);
        CHECK_TEXT(expected, std::wstring(out));
        CHECK(!sink.truncated);

        // A byte limit that ends inside a character leaves that character out.
        sink = kvz::MakeTextSink(out, 1024);
        kvz::PutNarrowFromCodePage(sink, bytes.c_str(), 150, text.codePage);
        kvz::SinkFinish(sink);
        CHECK_TEXT(Widen(text.codePage, half), std::wstring(out));

        // A full sink stops the text and says it was cut.
        sink = kvz::MakeTextSink(out, 41);
        kvz::PutNarrowFromCodePage(sink, bytes.c_str(), SIZE_MAX, text.codePage);
        CHECK(sink.truncated);
        CHECK_EQ(static_cast<size_t>(40), sink.length);
        printf("code page %u: %zu bytes -> %zu units, as MultiByteToWideChar\n", text.codePage,
               bytes.size(), produced);
    }
}

// Digits after a * width: the Universal CRT's rule, which the library follows, compared
// with ucrtbase.dll. (msvcrt.dll reads the digits on from the * value: "%0*2d" of 1 gets
// a width of 12 there.) After a * precision both runtimes take no digits.
using CommonVswprintf = int(__cdecl *)(unsigned long long, wchar_t *, size_t, const wchar_t *,
                                       void *, va_list);
CommonVswprintf g_ucrt = nullptr;

int Ucrt(wchar_t *buffer, size_t count, const wchar_t *format, ...) {
    va_list args;
    va_start(args, format);
    const unsigned long long kLegacyWideSpecifiers = 4; // %s takes a wide string
    int written = g_ucrt(kLegacyWideSpecifiers, buffer, count, format, nullptr, args);
    va_end(args);
    return written;
}

void StarDigitRows() {
    HMODULE ucrt = LoadLibraryW(L"ucrtbase.dll");
    g_ucrt = ucrt != nullptr ? reinterpret_cast<CommonVswprintf>(reinterpret_cast<void *>(
                                   GetProcAddress(ucrt, "__stdio_common_vswprintf")))
                             : nullptr;
    CHECK(g_ucrt != nullptr);
    if (g_ucrt == nullptr) {
        return;
    }
    Snwprintf msvcrt = g_runtime;
    g_runtime = Ucrt;
    ROW(L"[%0*2d][%*0d][% *2d][%*3d]", 1, 3, 1, 2, 0, 7, -9, 4);
    --g_rows;
    printf("1 format row compared with ucrtbase.dll __stdio_common_vswprintf\n");
    g_runtime = msvcrt;
}

} // namespace

int main() {
    HMODULE runtime = GetModuleHandleW(L"msvcrt.dll");
    if (runtime == nullptr) {
        runtime = LoadLibraryW(L"msvcrt.dll");
    }
    g_runtime = runtime != nullptr ? reinterpret_cast<Snwprintf>(reinterpret_cast<void *>(
                                         GetProcAddress(runtime, "_snwprintf")))
                                   : nullptr;
    CHECK(g_runtime != nullptr);
    if (g_runtime == nullptr) {
        return wine_test::Finish("format");
    }
    IntegerRows();
    CharacterAndStringRows();
    FloatRows();
    StarDigitRows();
    printf("%d format rows compared with msvcrt.dll _snwprintf (active code page %u)\n", g_rows,
           GetACP());
    CodePageRows();
    return wine_test::Finish("format");
}
