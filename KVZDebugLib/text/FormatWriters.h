// The formatter's leaf writers: one conversion's text, laid out in its field. Inline, so
// that the plain conversions, which call them with an empty conversion, lose the padding code.
#pragma once

#include "KVZDebugLib/text/Digits.h"
#include "KVZDebugLib/text/FormatSpec.h"
#include "KVZDebugLib/text/Narrow.h"
#include "KVZDebugLib/text/TextConstants.h"
#include "KVZDebugLib/text/TextSink.h"

#include <stdint.h>
#include <string.h>

namespace kvz {

// The field writer: every conversion is laid out as
//   [spaces][prefix][zeros][body][spaces]
// and calls this once for each padding, with `flags` telling the side: the conversion's flags
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
        count = platform::PutNarrow(decoded, bytes, sizeof bytes);
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
    platform::PutNarrow(sink, text, limit);
    if (!sink.truncated) {
        PutPadding(sink, KVZ_TEXT(' '), spec.width, length, spec.flags ^ kLeft);
    }
}

} // namespace kvz
