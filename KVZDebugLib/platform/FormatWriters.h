// The formatter's leaf writers: one conversion's text, laid out in its field. Inline, so
// that the plain conversions, which call them with an empty spec, lose the padding code.
#pragma once

#include "KVZDebugLib/platform/FormatSpec.h"
#include "KVZDebugLib/platform/TextConstants.h"
#include "KVZDebugLib/platform/TextSink.h"
#include "KVZDebugLib/platform/Utf.h"

#include <bit>
#include <stdint.h>
#include <string.h>

// The leaf writers go inline into both the plain conversions and the general writer,
// except in a build for size (the 32-bit DLL), where one copy of each is worth more.
#if defined(__GNUC__) && !defined(__OPTIMIZE_SIZE__)
#define KVZ_INLINE inline __attribute__((always_inline))
#else
#define KVZ_INLINE inline
#endif

namespace kvz {

// The field writer: every conversion is laid out as
//   [spaces][prefix][zeros][body][spaces]
// and calls this once for each padding, with `flags` telling the side: the spec's flags
// for the spaces before, flags ^ kZero for the zeros, flags ^ kLeft for the spaces after.
// A field of `length` units (prefix and body) is brought up to the width only on the
// side whose flags are clear.
KVZ_INLINE void PutPadding(TextSink &sink, KVZChar unit, size_t width, size_t length,
                           unsigned flags) {
    if ((flags & (kLeft | kZero)) != 0 || length >= width) {
        return;
    }
    PutRepeat(sink, unit, width - length);
}

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

// An integer's field, its digits counted and its precision's zeros known: `sign` is
// the unit of its sign, or 0.
KVZ_INLINE void PutIntegerField(TextSink &sink, const Spec &spec, uint64_t magnitude,
                                unsigned count, size_t zeros, KVZChar conversion, KVZChar sign) {
    KVZChar prefix[2] = {sign, conversion};
    size_t prefixLength = sign != 0 ? 1 : 0;
    if (spec.flags & kAlternate) {
        // # makes sure octal text starts with a zero, and puts 0x before hex digits.
        if (conversion == KVZ_TEXT('o') && zeros == 0 && (magnitude != 0 || count == 0)) {
            zeros = 1;
        } else if ((conversion == KVZ_TEXT('x') || conversion == KVZ_TEXT('X')) && magnitude != 0) {
            prefix[0] = KVZ_TEXT('0');
            prefixLength = 2;
        }
    }
    // A precision turns the 0 flag off for integers.
    unsigned flags = spec.hasPrecision ? spec.flags & ~kZero : spec.flags;
    size_t length = prefixLength + zeros + count;
    PutPadding(sink, KVZ_TEXT(' '), spec.width, length, flags);
    for (size_t i = 0; i < prefixLength; ++i) {
        PutUnit(sink, prefix[i]);
    }
    PutPadding(sink, KVZ_TEXT('0'), spec.width, length, flags ^ kZero);
    PutRepeat(sink, KVZ_TEXT('0'), zeros);
    PutDigits(sink, magnitude, count, conversion);
    PutPadding(sink, KVZ_TEXT(' '), spec.width, length, flags ^ kLeft);
}

// An integer of the conversion d i u o x X.
KVZ_INLINE void PutInteger(TextSink &sink, const Spec &spec, uint64_t magnitude, KVZChar sign) {
    const KVZChar conversion = spec.conversion == KVZ_TEXT('d') || spec.conversion == KVZ_TEXT('i')
                                   ? KVZ_TEXT('u')
                                   : spec.conversion;
    unsigned count = 0;
    if (!(spec.hasPrecision && spec.precision == 0 && magnitude == 0)) {
        count = DigitCount(magnitude, conversion);
    }
    size_t zeros = spec.hasPrecision && spec.precision > count ? spec.precision - count : 0;
    PutIntegerField(sink, spec, magnitude, count, zeros, conversion, sign);
}

KVZ_INLINE void PutSigned(TextSink &sink, const Spec &spec, int64_t value) {
    // The magnitude in unsigned arithmetic, so that INT64_MIN needs no special case.
    uint64_t magnitude = static_cast<uint64_t>(value);
    KVZChar sign = 0;
    if (value < 0) {
        magnitude = 0u - magnitude;
        sign = KVZ_TEXT('-');
    } else if (spec.flags & kPlus) {
        sign = KVZ_TEXT('+');
    } else if (spec.flags & kSpace) {
        sign = KVZ_TEXT(' ');
    }
    PutInteger(sink, spec, magnitude, sign);
}

// As the Windows runtime prints a pointer: upper-case hex, as many digits as a pointer
// holds, no 0x.
KVZ_INLINE void PutPointer(TextSink &sink, const Spec &spec, const void *pointer) {
    // All the digits a pointer holds, which is what a precision of that many asks.
    Spec hex = spec;
    hex.hasPrecision = true;
    PutIntegerField(sink, hex, reinterpret_cast<uintptr_t>(pointer), 2 * sizeof(void *), 0,
                    KVZ_TEXT('X'), 0);
}

// %c and its kin: a 16-bit unit, or a narrow character decoded. Returns the first unit
// written, so the caller can note a 0 unit in the text.
KVZ_INLINE KVZChar PutCharacter(TextSink &sink, const Spec &spec, int value, bool narrow) {
    KVZChar units[4] = {static_cast<KVZChar>(value)};
    size_t count = 1;
    if (narrow && static_cast<char>(value) != 0) {
        char bytes[2] = {static_cast<char>(value), 0};
        TextSink decoded = MakeUnterminatedSink(units, 4);
        count = PutNarrow(decoded, bytes, sizeof bytes);
    } else if (narrow) {
        units[0] = 0;
    }
    PutPadding(sink, KVZ_TEXT(' '), spec.width, count, spec.flags);
    PutPadding(sink, KVZ_TEXT('0'), spec.width, count, spec.flags ^ kZero);
    PutUnits(sink, units, count);
    PutPadding(sink, KVZ_TEXT(' '), spec.width, count, spec.flags ^ kLeft);
    return units[0];
}

inline size_t MeasureNarrow(const char *text, size_t limit) {
    size_t i = 0;
    while (i < limit && text[i] != 0) {
        ++i;
    }
    return i;
}

// A 16-bit string. A right-justified one is measured up to its width first; a left-
// justified one is padded after by what was copied.
KVZ_INLINE void PutString(TextSink &sink, const Spec &spec, const KVZChar *text) {
    if (text == nullptr) {
        text = kNullText;
    }
    size_t limit = spec.hasPrecision ? spec.precision : SIZE_MAX;
    if (spec.width == 0) {
        PutTerminatedRun(sink, text, limit);
        return;
    }
    if ((spec.flags & kLeft) == 0) {
        size_t length = CopyRun<false>(nullptr, text, limit < spec.width ? limit : spec.width, 0);
        PutPadding(sink, KVZ_TEXT(' '), spec.width, length, spec.flags);
        PutPadding(sink, KVZ_TEXT('0'), spec.width, length, spec.flags ^ kZero);
    }
    size_t copied = PutTerminatedRun(sink, text, limit);
    if (!sink.truncated) {
        PutPadding(sink, KVZ_TEXT(' '), spec.width, copied, spec.flags ^ kLeft);
    }
}

// A narrow string: width and precision count its bytes, before decoding.
KVZ_INLINE void PutNarrowString(TextSink &sink, const Spec &spec, const char *text) {
    if (text == nullptr) {
        text = kNullNarrowText;
    }
    size_t limit = spec.hasPrecision ? spec.precision : SIZE_MAX;
    size_t length = 0;
    if (spec.width != 0) {
        length = MeasureNarrow(text, limit < spec.width ? limit : spec.width);
    }
    PutPadding(sink, KVZ_TEXT(' '), spec.width, length, spec.flags);
    PutPadding(sink, KVZ_TEXT('0'), spec.width, length, spec.flags ^ kZero);
    PutNarrow(sink, text, limit);
    if (!sink.truncated) {
        PutPadding(sink, KVZ_TEXT(' '), spec.width, length, spec.flags ^ kLeft);
    }
}

} // namespace kvz
