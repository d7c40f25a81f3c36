// Floating-point conversions: %f and %g of a double made here, exactly, where they can be;
// the rest from the C runtime's snprintf, with sign, width and padding ours.
#include "KVZDebugLib/text/FormatFloat.h"

#include "KVZDebugLib/text/FormatWriters.h"
#include "KVZDebugLib/text/TextConstants.h"

#include <bit>
#include <cmath>
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

// Floating-point digits are made in a local narrow buffer. The largest double printed
// with %f is 309 digits, so with the precision capped at 100 every double fits whole.
constexpr size_t kFloatPrecisionCap = 100;
constexpr size_t kFloatDigits = 512;

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

// Lays the text out in its field: prefix and body are narrow ASCII. `missing` counts body
// characters that exist but could not be made; they count towards the width and end
// the text.
KVZ_INLINE void PutFloatField(TextSink &sink, const Spec &spec, unsigned flags, const char *prefix,
                              size_t prefixLength, const char *body, size_t bodyLength,
                              size_t missing) {
    size_t length = prefixLength + bodyLength + missing;
    PutPadding(sink, KVZ_TEXT(' '), spec.width, length, flags);
    PutAscii(sink, prefix, prefixLength);
    PutPadding(sink, KVZ_TEXT('0'), spec.width, length, flags ^ kZero);
    PutAscii(sink, body, bodyLength);
    if (missing != 0) {
        sink.truncated = true;
        return;
    }
    PutPadding(sink, KVZ_TEXT(' '), spec.width, length, flags ^ kLeft);
}

// The digits of the magnitude, in digits[kFloatDigits]; sets *total to the length of the
// whole text, which may exceed what the buffer holds, and returns the length it holds.
template <class F> size_t FloatDigits(const Spec &spec, F magnitude, char *digits, size_t *total) {
    char c = static_cast<char>(spec.conversion);
    size_t made = 0;
    if constexpr (std::is_same_v<F, double>) {
        size_t precision = spec.hasPrecision ? spec.precision : 6;
        bool alternate = (spec.flags & kAlternate) != 0;
        if ((c == 'f' || c == 'F') && precision <= kFixedPrecisionMost) {
            made = FixedDigits(magnitude, static_cast<unsigned>(precision), alternate, digits);
        } else if (c == 'g' || c == 'G') {
            made = GeneralDigits(magnitude, precision, alternate, digits);
        }
    }
    if (made != 0) {
        *total = made;
        return made;
    }
    *total = RuntimeDigits(spec, c, magnitude, digits, kFloatDigits);
    return *total < kFloatDigits ? *total : kFloatDigits - 1;
}

// Digits of a floating-point value. Infinity and NaN are written here, C99 style, on
// every platform (Format.h says why); the sign of a NaN shows, as the sign of zero does.
template <class F> void PutFloatValue(TextSink &sink, const Spec &spec, F value) {
    char c = static_cast<char>(spec.conversion);
    bool upper = c == 'E' || c == 'F' || c == 'G' || c == 'A';
    // The sign, and the 0x of %a, go before any zeros.
    char prefix[3];
    size_t prefixLength = 0;
    if (std::signbit(value)) {
        prefix[prefixLength++] = '-';
    } else if (spec.flags & kPlus) {
        prefix[prefixLength++] = '+';
    } else if (spec.flags & kSpace) {
        prefix[prefixLength++] = ' ';
    }
    if (std::isnan(value) || std::isinf(value)) {
        const char *word = std::isnan(value) ? (upper ? "NAN" : "nan") : (upper ? "INF" : "inf");
        // No zeros pad a word.
        PutFloatField(sink, spec, spec.flags & ~kZero, prefix, prefixLength, word, 3, 0);
        return;
    }
    // The digits of the magnitude are made apart; sign, width and padding are ours, so
    // that a huge width costs nothing here.
    char digits[kFloatDigits];
    size_t total = 0;
    size_t have = FloatDigits(spec, std::signbit(value) ? -value : value, digits, &total);
    const char *body = digits;
    if ((c == 'a' || c == 'A') && have >= 2 && digits[0] == '0' &&
        (digits[1] == 'x' || digits[1] == 'X')) {
        prefix[prefixLength++] = digits[0];
        prefix[prefixLength++] = digits[1];
        body += 2;
        have -= 2;
        total -= 2;
    }
    PutFloatField(sink, spec, spec.flags, prefix, prefixLength, body, have, total - have);
}

} // namespace

void PutFloat(TextSink &sink, const Spec &spec, const Arg &arg) {
    if (spec.argClass == ArgClass::LongDouble) {
        PutFloatValue(sink, spec, arg.ld);
    } else {
        PutFloatValue(sink, spec, arg.d);
    }
}

} // namespace kvz
