// libFuzzer target for the bounded wide formatter.
//
// Input: byte 0 picks the buffer's capacity (0 to about 4000 units), byte 1 seeds the
// argument values, and the rest is the format: each byte below 0xF0 is one unit, and a
// byte from 0xF0 up takes the next two bytes as one big-endian unit, so any 16-bit unit
// (surrogates included) can appear.
//
// Whatever the format, every call must:
//   - write nothing outside buffer[0, capacity), leave the text terminated and return
//     its length (guard units on both sides of the buffer);
//   - write nothing through any argument: every pointer it may take points into
//     read-only memory, so a write through %n or otherwise faults;
//   - keep, at any capacity, the start of what it makes with room to spare, never
//     leaving a high surrogate last after a cut;
//   - give the same text twice;
//   - and, where the format uses only conventions the formatter shares with C99 wide
//     formatting, agree with glibc's swprintf (with %s read as %ls, %S as %s).
//
// The arguments are one fixed pack, laid out for the x86-64 System V convention so that
// whatever a conversion takes is harmless: eight doubles travel in vector registers and
// every other argument is a pointer into a read-only pool, readable as an int, a pointer,
// a narrow string, a 16-bit string or a wchar_t string alike. A format may take at most
// five argument words per '%' (two '*' and a 16-byte long double, aligned), so it is
// cut before the twelfth '%' and never takes more words than the pack holds.
#include "KVZDebugLib/text/Format.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <sys/mman.h>

#if !defined(__x86_64__)
#error "the fuzz target's argument pack is laid out for x86-64"
#endif

namespace {

using Text = std::basic_string<KVZChar>;

// The pool: at every 16-byte boundary "ab" and six zero bytes, zeros elsewhere. At a
// boundary that is "ab" as a narrow string, U+6261 as a 16-bit string and as a wchar_t
// string; four bytes further on it is empty in all three readings. It is mapped read-only,
// and at a fixed address where it can be (above the address checker's shadow and below
// its heap), so that what a conversion makes of a pointer is the same from run to run and
// a failing input fails again.
constexpr size_t kPoolSize = 1 << 16;

const unsigned char *Pool() {
    static const unsigned char *const pool = [] {
        const size_t size = kPoolSize + 4096;
        void *at =
            mmap(reinterpret_cast<void *>(uintptr_t{0x500000000000}), size, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (at == MAP_FAILED) {
            at = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        }
        if (at == MAP_FAILED) {
            std::perror("format fuzzer: mmap");
            std::abort();
        }
        auto *bytes = static_cast<unsigned char *>(at);
        for (size_t i = 0; i < kPoolSize; i += 16) {
            bytes[i] = 'a';
            bytes[i + 1] = 'b';
        }
        if (mprotect(at, size, PROT_READ) != 0) {
            std::perror("format fuzzer: mprotect");
            std::abort();
        }
        return static_cast<const unsigned char *>(at);
    }();
    return pool;
}

constexpr size_t kPointers = 64; // 3 in registers, 61 on the stack
constexpr size_t kMostPercents = 11;

constexpr double kInterestingDoubles[] = {0.0,
                                          -0.0,
                                          1.0,
                                          -1.5,
                                          0.1,
                                          2.675,
                                          1e-300,
                                          5e-324,
                                          1e300,
                                          1.7976931348623157e308,
                                          0.5,
                                          9.9999999,
                                          123456.789,
                                          -2.5e-7,
                                          1e15 + 0.3,
                                          4503599627370495.5,
                                          1e21,
                                          __builtin_inf(),
                                          -__builtin_inf(),
                                          __builtin_nan(""),
                                          -__builtin_nan(""),
                                          7.0,
                                          1e-5,
                                          1e16,
                                          0.125,
                                          999.5,
                                          -0.0625,
                                          3.0e-310};

struct Pack {
    double d[8];
    const void *p[kPointers];
};

uint64_t SplitMix(uint64_t &state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

Pack MakePack(unsigned seed) {
    Pack pack;
    uint64_t state = seed;
    for (double &d : pack.d) {
        d = kInterestingDoubles[SplitMix(state) %
                                (sizeof kInterestingDoubles / sizeof kInterestingDoubles[0])];
    }
    for (const void *&p : pack.p) {
        // Any 4-byte step of the pool: the low bits vary what integer conversions show.
        p = Pool() + 4 * (SplitMix(state) % (kPoolSize / 4));
    }
    return pack;
}

template <size_t... I>
size_t CallOurs(KVZChar *buffer, size_t capacity, const KVZChar *format, const Pack &pack,
                std::index_sequence<I...>) {
    return kvz::FormatText(buffer, capacity, format, pack.d[0], pack.d[1], pack.d[2], pack.d[3],
                            pack.d[4], pack.d[5], pack.d[6], pack.d[7], pack.p[I]...);
}

template <size_t... I>
int CallGlibc(wchar_t *buffer, size_t capacity, const wchar_t *format, const Pack &pack,
              std::index_sequence<I...>) {
    return swprintf(buffer, capacity, format, pack.d[0], pack.d[1], pack.d[2], pack.d[3], pack.d[4],
                    pack.d[5], pack.d[6], pack.d[7], pack.p[I]...);
}

[[noreturn]] void Fault(const char *what, const Text &format) {
    std::fprintf(stderr, "format fuzzer: %s\nformat units:", what);
    for (KVZChar unit : format) {
        std::fprintf(stderr, " %04X", static_cast<unsigned>(unit));
    }
    std::fprintf(stderr, "\n");
    std::abort();
}

constexpr KVZChar kGuard = 0xA5A5;
constexpr size_t kGuardUnits = 16;

// Formats at `capacity` between guards and checks the bounds; returns the text. The
// space is reused from call to call, so only its guards are set afresh.
Text FormatChecked(size_t capacity, const Text &format, const Pack &pack) {
    static std::vector<KVZChar> space;
    if (space.size() < capacity + 2 * kGuardUnits) {
        space.resize(capacity + 2 * kGuardUnits);
    }
    KVZChar *buffer = space.data() + kGuardUnits;
    for (size_t i = 0; i < kGuardUnits; ++i) {
        buffer[-1 - static_cast<ptrdiff_t>(i)] = kGuard;
        buffer[capacity + i] = kGuard;
    }
    size_t length =
        CallOurs(buffer, capacity, format.c_str(), pack, std::make_index_sequence<kPointers>());
    for (size_t i = 0; i < kGuardUnits; ++i) {
        if (buffer[-1 - static_cast<ptrdiff_t>(i)] != kGuard || buffer[capacity + i] != kGuard) {
            Fault("written outside the buffer", format);
        }
    }
    if (capacity == 0) {
        if (length != 0) {
            Fault("a capacity of 0 returned a length", format);
        }
        return Text();
    }
    if (length >= capacity || buffer[length] != 0) {
        Fault("the text is not terminated at the returned length", format);
    }
    return Text(buffer, length);
}

// What a buffer of `capacity` units keeps of the whole text.
Text Cut(const Text &whole, size_t capacity) {
    if (capacity == 0) {
        return Text();
    }
    if (whole.size() <= capacity - 1) {
        return whole;
    }
    Text kept = whole.substr(0, capacity - 1);
    if (!kept.empty() && kept.back() >= 0xD800 && kept.back() <= 0xDBFF) {
        kept.pop_back();
    }
    return kept;
}

bool IsDigit(KVZChar unit) {
    return unit >= '0' && unit <= '9';
}

// The format as glibc's swprintf reads it, when every conversion in it is one whose
// meaning both share: integers with any C99 length, floating point with no length or l
// and a precision within the formatter's cap of 100, 16-bit strings as %ls, narrow ones
// as %s (neither with the 0 or # flag, which the formatter reads as the Windows runtime
// does), and a bare %%. Widths and precisions are digits up to 300. Anything else (*,
// %c, %p, %n, Windows lengths, long double, unknown conversions, a format ending in a
// conversion, surrogates in the text) is left out of the comparison.
bool ForGlibc(const Text &format, std::wstring &out) {
    size_t i = 0;
    while (i < format.size()) {
        KVZChar unit = format[i++];
        if (unit >= 0xD800 && unit <= 0xDFFF) {
            return false;
        }
        out += static_cast<wchar_t>(unit);
        if (unit != '%') {
            continue;
        }
        bool zero = false, alternate = false, anyFlag = false;
        while (i < format.size() && (format[i] == '-' || format[i] == '+' || format[i] == ' ' ||
                                     format[i] == '#' || format[i] == '0')) {
            zero |= format[i] == '0';
            alternate |= format[i] == '#';
            anyFlag = true;
            out += static_cast<wchar_t>(format[i++]);
        }
        size_t width = 0;
        bool anyWidth = false;
        while (i < format.size() && IsDigit(format[i])) {
            width = width * 10 + (format[i] - '0');
            if (width > 300) {
                return false;
            }
            anyWidth = true;
            out += static_cast<wchar_t>(format[i++]);
        }
        bool hasPrecision = false;
        size_t precision = 0;
        if (i < format.size() && format[i] == '.') {
            hasPrecision = true;
            out += static_cast<wchar_t>(format[i++]);
            while (i < format.size() && IsDigit(format[i])) {
                precision = precision * 10 + (format[i] - '0');
                if (precision > 300) {
                    return false;
                }
                out += static_cast<wchar_t>(format[i++]);
            }
        }
        std::wstring length;
        while (i < format.size() && length.size() < 2 &&
               (format[i] == 'h' || format[i] == 'l' || format[i] == 'j' || format[i] == 'z' ||
                format[i] == 't')) {
            length += static_cast<wchar_t>(format[i++]);
        }
        bool c99Length = length.empty() || length == L"hh" || length == L"h" || length == L"l" ||
                         length == L"ll" || length == L"j" || length == L"z" || length == L"t";
        if (!c99Length || i == format.size()) {
            return false;
        }
        KVZChar conversion = format[i++];
        switch (conversion) {
        case 'd':
        case 'i':
        case 'u':
        case 'o':
        case 'x':
        case 'X':
            out += length;
            out += static_cast<wchar_t>(conversion);
            break;
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (!(length.empty() || length == L"l") || (hasPrecision && precision > 100)) {
                return false;
            }
            out += static_cast<wchar_t>(conversion);
            break;
        case 's':
            if (!(length.empty() || length == L"l") || zero || alternate) {
                return false;
            }
            out += L"ls";
            break;
        case 'S':
            if (!length.empty() || zero || alternate) {
                return false;
            }
            out += L's';
            break;
        case '%':
            if (anyFlag || anyWidth || hasPrecision || !length.empty()) {
                return false;
            }
            out += L'%';
            break;
        default:
            return false;
        }
    }
    return true;
}

// Cuts the format before its twelfth '%', so that it takes no more argument words than
// the pack holds.
void LimitConversions(Text &format) {
    size_t percents = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && ++percents > kMostPercents) {
            format.resize(i);
            return;
        }
    }
}

// How many inputs were run and how many of them were compared with glibc, told at exit.
struct Tally {
    unsigned long inputs = 0;
    unsigned long compared = 0;
    ~Tally() {
        std::fprintf(stderr, "format fuzzer: %lu inputs, %lu compared with glibc's swprintf\n",
                     inputs, compared);
    }
} g_tally;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) {
        return 0;
    }
    ++g_tally.inputs;
    size_t capacity = data[0] < 32 ? data[0] : (data[0] - 32u) * 18u + 32u;
    Pack pack = MakePack(data[1]);

    Text format;
    for (size_t i = 2; i < size && format.size() < 4096;) {
        if (data[i] < 0xF0) {
            format += static_cast<KVZChar>(data[i++]);
        } else if (i + 2 < size) {
            format += static_cast<KVZChar>((data[i + 1] << 8) | data[i + 2]);
            i += 3;
        } else {
            break;
        }
    }
    // A unit 0 ends the format where it stands.
    format.resize(std::char_traits<KVZChar>::length(format.c_str()));
    LimitConversions(format);

    // With room to spare: four times the largest capacity tried, and more than any text
    // the compared formats can make (eleven conversions of at most about 420 units, and
    // 4096 units of format).
    constexpr size_t kWhole = 1 << 14;
    Text whole = FormatChecked(kWhole, format, pack);
    Text cut = FormatChecked(capacity, format, pack);
    if (cut != Cut(whole, capacity)) {
        Fault("a cut text is not the start of the whole", format);
    }
    if (FormatChecked(capacity, format, pack) != cut) {
        Fault("the same format gave two texts", format);
    }

    std::wstring reference;
    if (ForGlibc(format, reference)) {
        static std::vector<wchar_t> theirs(kWhole);
        int made = CallGlibc(theirs.data(), theirs.size(), reference.c_str(), pack,
                             std::make_index_sequence<kPointers>());
        if (made >= 0) {
            ++g_tally.compared;
            Text expected;
            for (int i = 0; i < made; ++i) {
                expected += static_cast<KVZChar>(theirs[i]);
            }
            if (whole != expected) {
                Fault("the text differs from glibc's swprintf", format);
            }
        }
    }
    return 0;
}
