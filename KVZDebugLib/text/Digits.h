// Integer digits in base 10, 8 and 16, written straight into a sink: the formatter's
// integers and pointers and the frames' line numbers.
#pragma once

#include "KVZDebugLib/text/TextConstants.h"
#include "KVZDebugLib/text/TextSink.h"

#include <bit>
#include <stdint.h>
#include <string.h>

// The formatter's leaf writers go inline into both the plain conversions and the general
// writer, except in a build for size (the 32-bit DLL), where one copy of each is worth more.
#if defined(__GNUC__) && !defined(__OPTIMIZE_SIZE__)
#define KVZ_INLINE inline __attribute__((always_inline))
#else
#define KVZ_INLINE inline
#endif

namespace kvz {

// Digit pairs "00".."99" as 16-bit units, so two digits go out in one store.
struct DigitPairUnits {
    KVZChar units[200];
};
constexpr DigitPairUnits MakeDigitPairUnits() {
    DigitPairUnits pairs{};
    for (int i = 0; i < 200; ++i) {
        int value = i / 2;
        pairs.units[i] = static_cast<KVZChar>(u'0' + (i % 2 == 0 ? value / 10 : value % 10));
    }
    return pairs;
}
inline constexpr DigitPairUnits kPairUnits = MakeDigitPairUnits();

inline void PutPair(KVZChar *at, unsigned pair) {
    memcpy(at, kPairUnits.units + 2 * static_cast<size_t>(pair), 2 * sizeof(KVZChar));
}

// How many digits a value has in base 10 (at least one).
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

// How many digits value has for the conversion: u d i decimal, o octal, x X hex.
KVZ_INLINE unsigned DigitCount(uint64_t value, KVZChar conversion) {
    if (conversion == KVZ_TEXT('x') || conversion == KVZ_TEXT('X')) {
        return (BitCount(value) + 3u) / 4u;
    }
    return conversion == KVZ_TEXT('o') ? (BitCount(value) + 2u) / 3u : DecimalCount(value);
}

// Writes the digits of value so that they end just before `end`; `count` is their number.
KVZ_INLINE void WriteDigits(KVZChar *end, uint64_t value, unsigned count, KVZChar conversion) {
    if (conversion == KVZ_TEXT('x') || conversion == KVZ_TEXT('X')) {
        const char *hex = conversion == KVZ_TEXT('x') ? "0123456789abcdef" : "0123456789ABCDEF";
        for (unsigned i = 0; i < count; ++i) {
            *--end = static_cast<KVZChar>(hex[value & 15u]);
            value >>= 4;
        }
        return;
    }
    if (conversion == KVZ_TEXT('o')) {
        for (unsigned i = 0; i < count; ++i) {
            *--end = static_cast<KVZChar>(u'0' + (value & 7u));
            value >>= 3;
        }
        return;
    }
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

// The digits go straight into the buffer when they fit (nearly always), else they are
// made apart and the part that fits is copied.
KVZ_INLINE void PutDigits(TextSink &sink, uint64_t value, unsigned count, KVZChar conversion) {
    if (count == 0) {
        return; // a precision of 0 and the value 0: no digits at all
    }
    if (KVZChar *at = PutInPlace(sink, count)) {
        WriteDigits(at + count, value, count, conversion);
        return;
    }
    KVZChar digits[24];
    WriteDigits(digits + count, value, count, conversion);
    PutUnits(sink, digits, count);
}

} // namespace kvz
