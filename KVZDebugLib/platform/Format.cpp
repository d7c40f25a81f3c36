#include "KVZDebugLib/platform/Format.h"

#include "KVZDebugLib/platform/Runs.h"
#include "KVZDebugLib/platform/TextConstants.h"
#include "KVZDebugLib/platform/TextSink.h"
#include "KVZDebugLib/platform/Utf.h"

#include <bit>
#include <cmath>
#include <limits.h>
#include <locale.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <type_traits>

// MinGW's own C99 formatter gives the same digits whichever C runtime the DLL meets
// (the old msvcrt.dll knows no %a and writes three-digit exponents).
#if defined(__MINGW32__)
#define KVZ_NARROW_SNPRINTF __mingw_snprintf
#else
#define KVZ_NARROW_SNPRINTF snprintf
#endif

namespace kvz {

namespace {

// Widths and precisions saturate here; anything larger cannot show in a buffer anyway.
constexpr size_t kMaxField = INT_MAX;

// Floating-point digits are made in a local narrow buffer. The largest double printed
// with %f is 309 digits, so with the precision capped at 100 every double fits whole.
constexpr size_t kFloatPrecisionCap = 100;
constexpr size_t kFloatDigits = 512;

constexpr char kDigitPairs[] = "00010203040506070809"
                               "10111213141516171819"
                               "20212223242526272829"
                               "30313233343536373839"
                               "40414243444546474849"
                               "50515253545556575859"
                               "60616263646566676869"
                               "70717273747576777879"
                               "80818283848586878889"
                               "90919293949596979899";

// Where the text goes: the next free unit and how many more fit before the terminator's
// slot. Once anything has been left out (cut), nothing that follows can show, so the
// formatter stops there.
struct Out {
    KVZChar *cur;
    size_t room;
    bool cut;
    bool zeroUnit; // a %c put a 0 unit into the text
};

inline void PutUnit(Out &o, KVZChar unit) {
    if (o.room == 0) {
        o.cut = true;
        return;
    }
    *o.cur++ = unit;
    --o.room;
}

inline void Fill(Out &o, KVZChar unit, size_t count) {
    if (count > o.room) {
        count = o.room;
        o.cut = true;
    }
    KVZChar *d = o.cur;
    for (size_t i = 0; i < count; ++i) {
        d[i] = unit;
    }
    o.cur += count;
    o.room -= count;
}

// Copies units, or ASCII bytes widened to units.
template <class C> inline void Copy(Out &o, const C *text, size_t count) {
    if (count > o.room) {
        count = o.room;
        o.cut = true;
    }
    KVZChar *d = o.cur;
    for (size_t i = 0; i < count; ++i) {
        if constexpr (sizeof(C) == 1) {
            d[i] = static_cast<KVZChar>(static_cast<unsigned char>(text[i]));
        } else {
            d[i] = text[i];
        }
    }
    o.cur += count;
    o.room -= count;
}

// Copies a terminated text of at most `limit` units and returns the units copied. It
// reads at most one unit past the room, to know whether something was left out.
inline size_t CopyTerminated(Out &o, const KVZChar *text, size_t limit) {
    size_t most = limit < o.room ? limit : o.room;
    size_t count = CopyRun<false>(o.cur, text, most, 0);
    if (count == o.room && count < limit && text[count] != 0) {
        o.cut = true;
    }
    o.cur += count;
    o.room -= count;
    return count;
}

inline size_t MeasureTerminated(const KVZChar *text, size_t limit) {
    return CopyRun<false>(nullptr, text, limit, 0);
}

inline size_t MeasureTerminated(const char *text, size_t limit) {
    size_t i = 0;
    while (i < limit && text[i] != 0) {
        ++i;
    }
    return i;
}

// A narrow text, decoded by the platform (UTF-8 on POSIX, the code page on Windows).
inline void CopyNarrow(Out &o, const char *text, size_t maxBytes) {
    // The sink's terminator slot is the formatter's own: it lies inside the buffer.
    TextSink sink{o.cur, o.room + 1, 0, false};
    PutNarrow(sink, text, maxBytes);
    o.cur += sink.length;
    o.room -= sink.length;
    if (sink.truncated) {
        o.cut = true;
    }
}

enum : unsigned {
    kLeft = 1u,
    kPlus = 2u,
    kSpace = 4u,
    kAlternate = 8u,
    kZero = 16u,
};

enum class Length : unsigned char {
    None,
    Char,     // hh
    Short,    // h
    Long,     // l
    LongLong, // ll, I64, and L on integers
    IntMax,   // j
    Size,     // z
    PtrDiff,  // t
    Pointer,  // I: the size of a pointer
    Int32,    // I32
    Wide,     // w
    BigL,     // L
};

struct Spec {
    unsigned flags;
    size_t width;
    size_t precision;
    bool hasPrecision;
};

// Lays out one field: [spaces][prefix][zeros][body][spaces]. `missing` counts body units
// that exist but could not be made; they count towards the width and end the text.
template <class C>
inline void PutField(Out &o, const Spec &spec, const char *prefix, size_t prefixLength,
                     size_t zeros, const C *body, size_t bodyLength, bool padWithZeros,
                     size_t missing = 0) {
    if (spec.width == 0 && zeros == 0 && missing == 0) {
        Copy(o, prefix, prefixLength);
        Copy(o, body, bodyLength);
        return;
    }
    size_t length = prefixLength + zeros + bodyLength + missing;
    size_t pad = spec.width > length ? spec.width - length : 0;
    if (pad != 0 && (spec.flags & kLeft) == 0) {
        if (padWithZeros) {
            zeros += pad;
        } else {
            Fill(o, KVZ_TEXT(' '), pad);
        }
        pad = 0;
    }
    Copy(o, prefix, prefixLength);
    Fill(o, KVZ_TEXT('0'), zeros);
    Copy(o, body, bodyLength);
    if (missing != 0) {
        o.cut = true;
        return;
    }
    Fill(o, KVZ_TEXT(' '), pad);
}

// Digit pairs "00".."99" as 16-bit units, so two digits go out in one store.
struct DigitPairUnits {
    KVZChar units[200];
};
constexpr DigitPairUnits MakeDigitPairUnits() {
    DigitPairUnits pairs{};
    for (int i = 0; i < 200; ++i) {
        pairs.units[i] = static_cast<KVZChar>(kDigitPairs[i]);
    }
    return pairs;
}
constexpr DigitPairUnits kPairUnits = MakeDigitPairUnits();

inline void PutPair(KVZChar *at, unsigned pair) {
    memcpy(at, kPairUnits.units + 2 * static_cast<size_t>(pair), 2 * sizeof(KVZChar));
}

// How many digits a value has in base 10, 16 or 8 (at least one).
inline unsigned DecimalCount(uint64_t value) {
    if (value < 10u) {
        return 1;
    }
    unsigned bits = 64u - static_cast<unsigned>(std::countl_zero(value));
    unsigned guess = (bits * 1233u) >> 12; // about log10(2^bits)
    return guess + (value >= kPowersOfTen[guess] ? 1u : 0u);
}

inline unsigned BitCount(uint64_t value) {
    return 64u - static_cast<unsigned>(std::countl_zero(value | 1u));
}

// Writes the digits of value so that they end just before `end`; `count` is their number.
inline void WriteDigits(KVZChar *end, uint64_t value, unsigned count, KVZChar conversion) {
    if (conversion == KVZ_TEXT('x') || conversion == KVZ_TEXT('X')) {
        const char *hex = conversion == KVZ_TEXT('x') ? "0123456789abcdef" : "0123456789ABCDEF";
        for (unsigned i = 0; i < count; ++i) {
            *--end = static_cast<KVZChar>(hex[value & 15u]);
            value >>= 4;
        }
    } else if (conversion == KVZ_TEXT('o')) {
        for (unsigned i = 0; i < count; ++i) {
            *--end = static_cast<KVZChar>(u'0' + (value & 7u));
            value >>= 3;
        }
    } else {
        // 64-bit division is a library call on 32-bit targets: use it only as long as the
        // value needs it.
        while (value > UINT32_MAX) {
            uint64_t quotient = value / 100u;
            end -= 2;
            PutPair(end, static_cast<unsigned>(value - quotient * 100u));
            value = quotient;
        }
        uint32_t small = static_cast<uint32_t>(value);
        while (small >= 100u) {
            uint32_t quotient = small / 100u;
            end -= 2;
            PutPair(end, small - quotient * 100u);
            small = quotient;
        }
        if (small >= 10u) {
            PutPair(end - 2, small);
        } else {
            end[-1] = static_cast<KVZChar>(u'0' + small);
        }
    }
}

// The most a conversion on the fast path writes: a 32-bit decimal with its sign, or the
// hex digits of a pointer.
constexpr size_t kPlainFieldMost = 24;

// An unsigned 32-bit value in decimal, x or X, with no flags, width or precision; the
// caller has made sure it fits.
inline void PutPlainInteger(Out &o, uint32_t value, KVZChar conversion) {
    unsigned count =
        conversion == KVZ_TEXT('u') ? DecimalCount(value) : (BitCount(value) + 3u) / 4u;
    WriteDigits(o.cur + count, value, count, conversion);
    o.cur += count;
    o.room -= count;
}

// Integers. The field is laid out first, so that when it fits (nearly always) every unit
// is written once, straight into the buffer; the digits are made in place, backwards.
void PutInteger(Out &o, const Spec &spec, KVZChar conversion, uint64_t magnitude, bool negative,
                bool isSigned) {
    const bool hex = conversion == KVZ_TEXT('x') || conversion == KVZ_TEXT('X');
    const bool noDigits = spec.hasPrecision && spec.precision == 0 && magnitude == 0;
    unsigned count = 0;
    if (!noDigits) {
        count = hex                           ? (BitCount(magnitude) + 3u) / 4u
                : conversion == KVZ_TEXT('o') ? (BitCount(magnitude) + 2u) / 3u
                                              : DecimalCount(magnitude);
    }

    KVZChar prefix[2];
    size_t prefixLength = 0;
    if (isSigned) {
        if (negative) {
            prefix[prefixLength++] = KVZ_TEXT('-');
        } else if (spec.flags & kPlus) {
            prefix[prefixLength++] = KVZ_TEXT('+');
        } else if (spec.flags & kSpace) {
            prefix[prefixLength++] = KVZ_TEXT(' ');
        }
    }
    size_t zeros = spec.hasPrecision && spec.precision > count ? spec.precision - count : 0;
    if (spec.flags & kAlternate) {
        if (conversion == KVZ_TEXT('o')) {
            // # makes sure the octal text starts with a zero.
            if (zeros == 0 && (magnitude != 0 || count == 0)) {
                zeros = 1;
            }
        } else if (hex && magnitude != 0) {
            prefix[prefixLength++] = KVZ_TEXT('0');
            prefix[prefixLength++] = conversion;
        }
    }

    size_t length = prefixLength + zeros + count;
    size_t pad = spec.width > length ? spec.width - length : 0;
    size_t leading = 0;
    if (pad != 0 && (spec.flags & kLeft) == 0) {
        if ((spec.flags & kZero) != 0 && !spec.hasPrecision) {
            zeros += pad;
        } else {
            leading = pad;
        }
        pad = 0;
    }

    // At most INT_MAX plus a few units: no overflow, even with a 32-bit size_t.
    if (leading + prefixLength + zeros + count + pad <= o.room) {
        KVZChar *d = o.cur;
        for (size_t i = 0; i < leading; ++i) {
            *d++ = KVZ_TEXT(' ');
        }
        for (size_t i = 0; i < prefixLength; ++i) {
            *d++ = prefix[i];
        }
        for (size_t i = 0; i < zeros; ++i) {
            *d++ = KVZ_TEXT('0');
        }
        d += count;
        if (count != 0) {
            WriteDigits(d, magnitude, count, conversion);
        }
        for (size_t i = 0; i < pad; ++i) {
            *d++ = KVZ_TEXT(' ');
        }
        o.room -= static_cast<size_t>(d - o.cur);
        o.cur = d;
        return;
    }

    // The field is cut somewhere: lay it out piece by piece, each piece bounded.
    KVZChar digits[24];
    if (count != 0) {
        WriteDigits(digits + count, magnitude, count, conversion);
    }
    Fill(o, KVZ_TEXT(' '), leading);
    Copy(o, prefix, prefixLength);
    Fill(o, KVZ_TEXT('0'), zeros);
    Copy(o, digits, count);
    Fill(o, KVZ_TEXT(' '), pad);
}

// Fixed notation made here rather than by the runtime, for the common case: a double
// below 9e18 / 10^precision, with at most kFixedPrecisionMost decimals. The digits are
// exact: the double is m * 2^e, so the value times 10^p is m * 5^p * 2^(e + p), an
// integer of at most 74 bits times a power of two, rounded to the nearest integer with
// ties to even, as C runtimes round in the default rounding mode. Returns the length of
// the text made, or 0 when the value is not one of these.
constexpr size_t kFixedPrecisionMost = 9;

// round(magnitude * 10^precision) into *result, or false when the value is not below
// 9e18 / 10^precision.
bool ScaledDecimal(double magnitude, unsigned precision, uint64_t *result) {
    static constexpr double kLimits[] = {9e18, 9e17, 9e16, 9e15, 9e14, 9e13, 9e12, 9e11, 9e10, 9e9};
    static constexpr uint32_t kPowersOfFive[] = {1,    5,     25,    125,    625,
                                                 3125, 15625, 78125, 390625, 1953125};
    if (!(magnitude < kLimits[precision])) {
        return false;
    }
    uint64_t bits = std::bit_cast<uint64_t>(magnitude);
    uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
    int exponent = static_cast<int>(bits >> 52);
    if (exponent == 0) {
        exponent = -1074; // subnormal
    } else {
        mantissa |= uint64_t{1} << 52;
        exponent -= 1075;
    }
    // mantissa * 5^precision as 128 bits, high:low.
    uint64_t five = kPowersOfFive[precision];
    uint64_t lowProduct = (mantissa & 0xFFFFFFFFu) * five;
    uint64_t highProduct = (mantissa >> 32) * five;
    uint64_t low = (highProduct << 32) + lowProduct;
    uint64_t high = (highProduct >> 32) + (low < lowProduct ? 1u : 0u);

    uint64_t scaled; // round(magnitude * 10^precision), below 2^63 by the limit above
    int shift = exponent + static_cast<int>(precision);
    if (mantissa == 0 || shift <= -128) {
        scaled = 0; // zero, or less than a quarter: the product has at most 74 bits
    } else if (shift >= 0) {
        scaled = low << shift;
    } else {
        unsigned k = static_cast<unsigned>(-shift);
        auto bitAt = [&](unsigned j) -> uint64_t {
            return j < 64 ? (low >> j) & 1u : (high >> (j - 64)) & 1u;
        };
        auto anyBelow = [&](unsigned j) -> bool {
            if (j == 0) {
                return false;
            }
            if (j < 64) {
                return (low & ((uint64_t{1} << j) - 1)) != 0;
            }
            return low != 0 || (j > 64 && (high & ((uint64_t{1} << (j - 64)) - 1)) != 0);
        };
        // k is at least 1 here (shift < 0), so neither shift below reaches 64.
        scaled = k < 64 ? (low >> k) | (high << (64 - k)) : high >> (k - 64);
        if (bitAt(k - 1) != 0 && (anyBelow(k - 1) || (scaled & 1u) != 0)) {
            ++scaled;
        }
    }

    *result = scaled;
    return true;
}

// The text of scaled / 10^precision in fixed notation; returns its length.
size_t FixedText(uint64_t scaled, unsigned precision, bool alternate, char *out) {
    // The digits backwards: the decimals, the point, then at least one integer digit.
    char text[32];
    char *end = text + sizeof text;
    char *p = end;
    for (unsigned i = 0; i < precision; ++i) {
        *--p = static_cast<char>('0' + scaled % 10u);
        scaled /= 10u;
    }
    if (precision != 0 || alternate) {
        *--p = '.';
    }
    do {
        *--p = static_cast<char>('0' + scaled % 10u);
        scaled /= 10u;
    } while (scaled != 0);
    size_t length = static_cast<size_t>(end - p);
    for (size_t i = 0; i < length; ++i) {
        out[i] = p[i];
    }
    return length;
}

size_t FixedDigits(double magnitude, unsigned precision, bool alternate, char *out) {
    uint64_t scaled;
    if (!ScaledDecimal(magnitude, precision, &scaled)) {
        return 0;
    }
    return FixedText(scaled, precision, alternate, out);
}

// %g made here when it comes out in fixed notation with at most kFixedPrecisionMost
// decimals (with the default precision, every value from 1e-4 up to 999999.5), from the
// same exact digits: X, the exponent %e would show, is found from the rounded digits
// themselves, and the text is %f's with precision P - 1 - X, its trailing zeros (and a
// point left bare) taken off unless # asks to keep them. Returns 0 for other values.
size_t GeneralDigits(double magnitude, size_t precision, bool alternate, char *out) {
    // The doubles 10^-4 up to 10^18, where fixed notation can begin and end.
    static constexpr double kScales[] = {1e-4, 1e-3, 1e-2, 1e-1, 1e0,  1e1,  1e2,  1e3,
                                         1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                         1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};
    int digits = precision == 0 ? 1 : static_cast<int>(precision);
    if (precision > 17) {
        return 0;
    }
    uint64_t scaled = 0;
    unsigned decimals = 0;
    if (magnitude == 0) {
        decimals = static_cast<unsigned>(digits - 1);
        if (decimals > kFixedPrecisionMost) {
            return 0;
        }
    } else {
        // An estimate of X from the powers of ten, then settled by the rounded digits:
        // they must number exactly P.
        if (!(magnitude >= kScales[0]) || !(magnitude < kScales[digits + 4])) {
            return 0;
        }
        int exponent = -4; // X
        while (exponent + 1 < digits && magnitude >= kScales[exponent + 5]) {
            ++exponent;
        }
        for (int tries = 0;; ++tries) {
            if (exponent < -4 || exponent >= digits || tries == 3) {
                return 0; // exponent notation, or not settled
            }
            decimals = static_cast<unsigned>(digits - 1 - exponent);
            if (decimals > kFixedPrecisionMost || !ScaledDecimal(magnitude, decimals, &scaled)) {
                return 0;
            }
            if (scaled >= kPowersOfTen[digits]) {
                ++exponent; // rounding carried into one more digit
            } else if (scaled < kPowersOfTen[digits - 1]) {
                --exponent;
            } else {
                break;
            }
        }
    }
    size_t length = FixedText(scaled, decimals, alternate, out);
    if (!alternate && decimals != 0) {
        while (out[length - 1] == '0') {
            --length;
        }
        if (out[length - 1] == '.') {
            --length;
        }
    }
    return length;
}

// The runtime's digits for the magnitude, in buffer[size]; returns the length of the
// whole text, which may exceed what the buffer holds.
template <class F>
size_t RuntimeDigits(const Spec &spec, char conversion, F magnitude, char *buffer, size_t size) {
    char format[8];
    size_t f = 0;
    format[f++] = '%';
    if (spec.flags & kAlternate) {
        format[f++] = '#';
    }
    if (spec.hasPrecision) {
        format[f++] = '.';
        format[f++] = '*';
    }
    if constexpr (std::is_same_v<F, long double>) {
        format[f++] = 'L';
    }
    format[f++] = conversion;
    format[f] = 0;
    int made;
    if (spec.hasPrecision) {
        int precision = static_cast<int>(spec.precision < kFloatPrecisionCap ? spec.precision
                                                                             : kFloatPrecisionCap);
        made = KVZ_NARROW_SNPRINTF(buffer, size, format, precision, magnitude);
    } else {
        made = KVZ_NARROW_SNPRINTF(buffer, size, format, magnitude);
    }
    if (made <= 0) {
        return 0;
    }
    size_t total = static_cast<size_t>(made);
    size_t have = total < size ? total : size - 1;

    // The decimal point is '.', whatever locale the host has chosen: the runtime writes
    // the locale's, and its first appearance in the text is the point.
    const lconv *locale = localeconv();
    const char *point = locale != nullptr ? locale->decimal_point : nullptr;
    if (have == total && point != nullptr && point[0] != 0 && !(point[0] == '.' && point[1] == 0)) {
        size_t pointLength = strlen(point);
        for (size_t i = 0; i + pointLength <= have; ++i) {
            if (memcmp(buffer + i, point, pointLength) == 0) {
                buffer[i] = '.';
                memmove(buffer + i + 1, buffer + i + pointLength, have - i - pointLength);
                have -= pointLength - 1;
                total = have;
                break;
            }
        }
    }

    // Exponents have at least two digits, as C99 says, and no more than they need; the
    // old Windows runtime always wrote three ("1e+005"), which loses its zero here.
    if (have == total && have >= 5 &&
        (conversion == 'e' || conversion == 'E' || conversion == 'g' || conversion == 'G')) {
        char *e = buffer + have - 5;
        if ((e[0] == 'e' || e[0] == 'E') && (e[1] == '+' || e[1] == '-') && e[2] == '0') {
            e[2] = e[3];
            e[3] = e[4];
            --total;
        }
    }
    return total;
}

// Digits of a floating-point value. Infinity and NaN are written here, C99 style, on
// every platform (the old Windows runtime wrote "1.#INF" and "1.#QNAN"); the sign of a
// NaN shows, as the sign of zero does.
template <class F>
[[gnu::noinline]] void PutFloat(Out &o, const Spec &spec, KVZChar conversion, F value) {
    char c = static_cast<char>(conversion);
    bool upper = c == 'E' || c == 'F' || c == 'G' || c == 'A';
    char sign = 0;
    if (std::signbit(value)) {
        sign = '-';
    } else if (spec.flags & kPlus) {
        sign = '+';
    } else if (spec.flags & kSpace) {
        sign = ' ';
    }
    if (std::isnan(value) || std::isinf(value)) {
        const char *word = std::isnan(value) ? (upper ? "NAN" : "nan") : (upper ? "INF" : "inf");
        PutField(o, spec, &sign, sign != 0 ? 1u : 0u, 0, word, 3, false);
        return;
    }

    // The digits of the magnitude are made apart; sign, width and padding are ours, so
    // that a huge width costs nothing here.
    char digits[kFloatDigits];
    F magnitude = sign == '-' ? -value : value;
    size_t total = 0;
    size_t have = 0;
    if constexpr (std::is_same_v<F, double>) {
        size_t precision = spec.hasPrecision ? spec.precision : 6;
        if ((c == 'f' || c == 'F') && precision <= kFixedPrecisionMost) {
            total = have = FixedDigits(magnitude, static_cast<unsigned>(precision),
                                       (spec.flags & kAlternate) != 0, digits);
        } else if (c == 'g' || c == 'G') {
            total = have =
                GeneralDigits(magnitude, precision, (spec.flags & kAlternate) != 0, digits);
        }
    }
    if (total == 0) {
        total = RuntimeDigits(spec, c, magnitude, digits, sizeof digits);
        have = total < sizeof digits ? total : sizeof digits - 1;
    }

    // The 0x of %a goes before any zeros, as the sign does.
    char prefix[3];
    size_t prefixLength = 0;
    if (sign != 0) {
        prefix[prefixLength++] = sign;
    }
    const char *body = digits;
    if ((c == 'a' || c == 'A') && have >= 2 && digits[0] == '0' &&
        (digits[1] == 'x' || digits[1] == 'X')) {
        prefix[prefixLength++] = digits[0];
        prefix[prefixLength++] = digits[1];
        body += 2;
        have -= 2;
        total -= 2;
    }
    bool padWithZeros = (spec.flags & (kZero | kLeft)) == kZero;
    PutField(o, spec, prefix, prefixLength, 0, body, have, padWithZeros, total - have);
}

} // namespace

size_t FormatTextV(KVZChar *buffer, size_t capacity, const KVZChar *format, va_list args,
                   size_t *stringLength) {
    if (stringLength != nullptr) {
        *stringLength = 0;
    }
    if (buffer == nullptr || capacity == 0) {
        return 0;
    }
    Out o{buffer, capacity - 1, false, false};
    const KVZChar *f = format;
    while (f != nullptr) {
        // A run of plain text, copied whole.
        if (*f != KVZ_TEXT('%') && *f != 0) {
            size_t count = CopyRun<true>(o.cur, f, o.room, KVZ_TEXT('%'));
            o.cur += count;
            o.room -= count;
            f += count;
            if (*f != KVZ_TEXT('%') && *f != 0) {
                o.cut = true; // the room ran out inside the run
            }
        }
        if (*f == 0 || o.cut) {
            break;
        }

        // The common conversions with no flags, width, precision or length modifier go
        // straight out when the room surely holds them; the rest take the general path.
        if (o.room >= kPlainFieldMost) {
            bool done = true;
            switch (f[1]) {
            case KVZ_TEXT('d'):
            case KVZ_TEXT('i'): {
                int value = va_arg(args, int);
                uint32_t magnitude = static_cast<uint32_t>(value);
                if (value < 0) {
                    *o.cur++ = KVZ_TEXT('-');
                    --o.room;
                    magnitude = 0u - magnitude;
                }
                PutPlainInteger(o, magnitude, KVZ_TEXT('u'));
                break;
            }
            case KVZ_TEXT('u'):
            case KVZ_TEXT('x'):
            case KVZ_TEXT('X'):
                PutPlainInteger(o, va_arg(args, unsigned), f[1]);
                break;
            case KVZ_TEXT('p'): {
                uintptr_t value = reinterpret_cast<uintptr_t>(va_arg(args, void *));
                WriteDigits(o.cur + 2 * sizeof(void *), value, 2 * sizeof(void *), KVZ_TEXT('X'));
                o.cur += 2 * sizeof(void *);
                o.room -= 2 * sizeof(void *);
                break;
            }
            case KVZ_TEXT('c'): {
                KVZChar unit = static_cast<KVZChar>(va_arg(args, int));
                o.zeroUnit |= unit == 0;
                *o.cur++ = unit;
                --o.room;
                break;
            }
            case KVZ_TEXT('s'): {
                const KVZChar *text = va_arg(args, const KVZChar *);
                CopyTerminated(o, text != nullptr ? text : kNullText, SIZE_MAX);
                break;
            }
            default:
                done = false;
                break;
            }
            if (done) {
                f += 2;
                continue;
            }
        }

        const KVZChar *start = f++;
        Spec spec{0, 0, 0, false};
        // Every flag sorts at or below '0', every conversion and width digit above it.
        for (bool more = *f <= KVZ_TEXT('0'); more;) {
            switch (*f) {
            case KVZ_TEXT('-'):
                spec.flags |= kLeft;
                break;
            case KVZ_TEXT('+'):
                spec.flags |= kPlus;
                break;
            case KVZ_TEXT(' '):
                spec.flags |= kSpace;
                break;
            case KVZ_TEXT('#'):
                spec.flags |= kAlternate;
                break;
            case KVZ_TEXT('0'):
                spec.flags |= kZero;
                break;
            default:
                more = false;
                continue;
            }
            ++f;
        }

        if (*f == KVZ_TEXT('*')) {
            ++f;
            int width = va_arg(args, int);
            // A negative width asks for left justification; its size is taken unsigned,
            // so INT_MIN is safe.
            unsigned size = static_cast<unsigned>(width);
            if (width < 0) {
                spec.flags |= kLeft;
                size = 0u - size;
            }
            spec.width = size < kMaxField ? size : kMaxField;
        } else {
            while (*f >= KVZ_TEXT('0') && *f <= KVZ_TEXT('9')) {
                size_t digit = static_cast<size_t>(*f++ - KVZ_TEXT('0'));
                spec.width =
                    spec.width > (kMaxField - digit) / 10 ? kMaxField : spec.width * 10 + digit;
            }
        }

        if (*f == KVZ_TEXT('.')) {
            ++f;
            spec.hasPrecision = true;
            if (*f == KVZ_TEXT('*')) {
                ++f;
                int precision = va_arg(args, int);
                // A negative precision is taken as none.
                if (precision < 0) {
                    spec.hasPrecision = false;
                } else {
                    spec.precision = static_cast<size_t>(precision);
                }
            } else {
                while (*f >= KVZ_TEXT('0') && *f <= KVZ_TEXT('9')) {
                    size_t digit = static_cast<size_t>(*f++ - KVZ_TEXT('0'));
                    spec.precision = spec.precision > (kMaxField - digit) / 10
                                         ? kMaxField
                                         : spec.precision * 10 + digit;
                }
            }
        }

        Length length = Length::None;
        switch (*f) {
        case KVZ_TEXT('h'):
            ++f;
            length = Length::Short;
            if (*f == KVZ_TEXT('h')) {
                ++f;
                length = Length::Char;
            }
            break;
        case KVZ_TEXT('l'):
            ++f;
            length = Length::Long;
            if (*f == KVZ_TEXT('l')) {
                ++f;
                length = Length::LongLong;
            }
            break;
        case KVZ_TEXT('L'):
            ++f;
            length = Length::BigL;
            break;
        case KVZ_TEXT('j'):
            ++f;
            length = Length::IntMax;
            break;
        case KVZ_TEXT('z'):
            ++f;
            length = Length::Size;
            break;
        case KVZ_TEXT('t'):
            ++f;
            length = Length::PtrDiff;
            break;
        case KVZ_TEXT('w'):
            ++f;
            length = Length::Wide;
            break;
        case KVZ_TEXT('I'):
            ++f;
            length = Length::Pointer;
            if (f[0] == KVZ_TEXT('3') && f[1] == KVZ_TEXT('2')) {
                f += 2;
                length = Length::Int32;
            } else if (f[0] == KVZ_TEXT('6') && f[1] == KVZ_TEXT('4')) {
                f += 2;
                length = Length::LongLong;
            }
            break;
        default:
            break;
        }

        KVZChar conversion = *f;
        if (conversion == 0) {
            break; // an unfinished conversion at the end of the format prints nothing
        }
        ++f;

        switch (conversion) {
        case KVZ_TEXT('d'):
        case KVZ_TEXT('i'): {
            int64_t value;
            switch (length) {
            case Length::Char:
                // hh on a signed conversion: the value as a signed char, sign included.
                // NOLINTNEXTLINE(bugprone-signed-char-misuse)
                value = static_cast<signed char>(va_arg(args, int));
                break;
            case Length::Short:
                value = static_cast<short>(va_arg(args, int));
                break;
            case Length::Long:
                value = va_arg(args, long);
                break;
            case Length::LongLong:
            case Length::BigL:
                value = va_arg(args, long long);
                break;
            // intmax_t and ptrdiff_t (or size_t) are one type on 64-bit POSIX only.
            // NOLINTNEXTLINE(bugprone-branch-clone)
            case Length::IntMax:
                value = va_arg(args, intmax_t);
                break;
            case Length::Size:
            case Length::PtrDiff:
            case Length::Pointer:
                value = va_arg(args, ptrdiff_t);
                break;
            default:
                value = va_arg(args, int);
                break;
            }
            uint64_t magnitude = static_cast<uint64_t>(value);
            if (value < 0) {
                magnitude = 0u - magnitude;
            }
            PutInteger(o, spec, conversion, magnitude, value < 0, true);
            break;
        }
        case KVZ_TEXT('u'):
        case KVZ_TEXT('o'):
        case KVZ_TEXT('x'):
        case KVZ_TEXT('X'): {
            uint64_t value;
            switch (length) {
            case Length::Char:
                value = static_cast<unsigned char>(va_arg(args, unsigned));
                break;
            case Length::Short:
                value = static_cast<unsigned short>(va_arg(args, unsigned));
                break;
            case Length::Long:
                value = va_arg(args, unsigned long);
                break;
            case Length::LongLong:
            case Length::BigL:
                value = va_arg(args, unsigned long long);
                break;
            // intmax_t and ptrdiff_t (or size_t) are one type on 64-bit POSIX only.
            // NOLINTNEXTLINE(bugprone-branch-clone)
            case Length::IntMax:
                value = va_arg(args, uintmax_t);
                break;
            case Length::Size:
            case Length::PtrDiff:
            case Length::Pointer:
                value = va_arg(args, size_t);
                break;
            default:
                value = va_arg(args, unsigned);
                break;
            }
            PutInteger(o, spec, conversion, value, false, false);
            break;
        }
        case KVZ_TEXT('p'): {
            // As the Windows runtime prints it: upper-case hex, as many digits as a
            // pointer holds, no 0x.
            uintptr_t value = reinterpret_cast<uintptr_t>(va_arg(args, void *));
            spec.hasPrecision = true;
            spec.precision = 2 * sizeof(void *);
            PutInteger(o, spec, KVZ_TEXT('X'), value, false, false);
            break;
        }
        case KVZ_TEXT('c'):
        case KVZ_TEXT('C'): {
            int value = va_arg(args, int);
            bool narrow =
                length == Length::Short ||
                (conversion == KVZ_TEXT('C') && length != Length::Long && length != Length::Wide);
            KVZChar units[4];
            size_t count = 1;
            units[0] = static_cast<KVZChar>(value);
            if (narrow && static_cast<char>(value) != 0) {
                char bytes[2] = {static_cast<char>(value), 0};
                TextSink sink{units, 4, 0, false};
                count = PutNarrow(sink, bytes, sizeof bytes);
            } else if (narrow) {
                units[0] = 0;
            }
            o.zeroUnit |= units[0] == 0;
            bool padWithZeros = (spec.flags & (kZero | kLeft)) == kZero;
            PutField(o, spec, "", 0, 0, units, count, padWithZeros);
            break;
        }
        case KVZ_TEXT('s'):
        case KVZ_TEXT('S'): {
            bool narrow =
                length == Length::Short ||
                (conversion == KVZ_TEXT('S') && length != Length::Long && length != Length::Wide);
            size_t limit = spec.hasPrecision ? spec.precision : SIZE_MAX;
            bool left = (spec.flags & kLeft) != 0;
            KVZChar pad = (spec.flags & (kZero | kLeft)) == kZero ? KVZ_TEXT('0') : KVZ_TEXT(' ');
            if (narrow) {
                // Width and precision count the bytes of a narrow text, before decoding.
                const char *text = va_arg(args, const char *);
                if (text == nullptr) {
                    text = kNullNarrowText;
                }
                size_t measureTo = limit < spec.width ? limit : spec.width;
                if (spec.width == 0) {
                    CopyNarrow(o, text, limit);
                } else if (left) {
                    CopyNarrow(o, text, limit);
                    if (!o.cut) {
                        Fill(o, KVZ_TEXT(' '), spec.width - MeasureTerminated(text, measureTo));
                    }
                } else {
                    Fill(o, pad, spec.width - MeasureTerminated(text, measureTo));
                    CopyNarrow(o, text, limit);
                }
            } else {
                const KVZChar *text = va_arg(args, const KVZChar *);
                if (text == nullptr) {
                    text = kNullText;
                }
                size_t measureTo = limit < spec.width ? limit : spec.width;
                if (spec.width == 0) {
                    CopyTerminated(o, text, limit);
                } else if (left) {
                    size_t copied = CopyTerminated(o, text, limit);
                    if (!o.cut && copied < spec.width) {
                        Fill(o, KVZ_TEXT(' '), spec.width - copied);
                    }
                } else {
                    Fill(o, pad, spec.width - MeasureTerminated(text, measureTo));
                    CopyTerminated(o, text, limit);
                }
            }
            break;
        }
        case KVZ_TEXT('e'):
        case KVZ_TEXT('E'):
        case KVZ_TEXT('f'):
        case KVZ_TEXT('F'):
        case KVZ_TEXT('g'):
        case KVZ_TEXT('G'):
        case KVZ_TEXT('a'):
        case KVZ_TEXT('A'):
#if defined(_WIN32)
            // The Windows runtime's long double is a double, and that is what its callers
            // pass for %Lf.
            PutFloat(o, spec, conversion, va_arg(args, double));
#else
            if (length == Length::BigL) {
                PutFloat(o, spec, conversion, va_arg(args, long double));
            } else {
                PutFloat(o, spec, conversion, va_arg(args, double));
            }
#endif
            break;
        case KVZ_TEXT('n'):
            // The pointer is taken and nothing is written through it: a format string
            // must never become a memory write.
            (void)va_arg(args, void *);
            break;
        case KVZ_TEXT('%'):
            PutUnit(o, KVZ_TEXT('%'));
            break;
        default:
            // Not a conversion we know: the whole sequence shows as it stands.
            Copy(o, start, static_cast<size_t>(f - start));
            break;
        }
        if (o.cut) {
            break;
        }
    }
    size_t length = static_cast<size_t>(o.cur - buffer);
    if (!o.cut) {
        buffer[length] = 0;
    } else {
        TextSink sink{buffer, capacity, length, true};
        length = SinkFinish(sink); // drops a half pair left at the cut
    }
    if (stringLength != nullptr) {
        size_t first = length;
        if (o.zeroUnit) {
            for (first = 0; buffer[first] != 0; ++first) {
            }
        }
        *stringLength = first;
    }
    return length;
}

size_t FormatTextV(KVZChar *buffer, size_t capacity, const KVZChar *format, va_list args) {
    return FormatTextV(buffer, capacity, format, args, nullptr);
}

size_t FormatText(KVZChar *buffer, size_t capacity, const KVZChar *format, ...) {
    va_list args;
    va_start(args, format);
    size_t length = FormatTextV(buffer, capacity, format, args);
    va_end(args);
    return length;
}

} // namespace kvz
