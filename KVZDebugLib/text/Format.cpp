// The formatter's loop: plain text is copied in runs; each conversion is parsed, its
// argument fetched, and its text written by a leaf writer (FormatWriters.h).
#include "KVZDebugLib/text/Format.h"

#include "KVZDebugLib/text/FormatFloat.h"
#include "KVZDebugLib/text/FormatSpec.h"
#include "KVZDebugLib/text/FormatWriters.h"
#include "KVZDebugLib/text/Runs.h"
#include "KVZDebugLib/text/TextSink.h"

namespace kvz {

namespace {

// A run of plain text, copied whole; returns where it ends (a % or the terminator).
inline const KVZChar *PutLiteralRun(TextSink &sink, const KVZChar *f) {
    if (*f == KVZ_TEXT('%') || *f == 0) {
        return f; // conversions often follow each other or end the format
    }
    size_t count = CopyRun<true>(sink.out + sink.length, f, SinkRoom(sink), KVZ_TEXT('%'));
    sink.length += count;
    f += count;
    if (*f != KVZ_TEXT('%') && *f != 0) {
        sink.truncated = true; // the room ran out inside the run
    }
    return f;
}

// The common conversions with nothing between the % and the letter skip the parser:
// the same writers, called with a constant empty conversion, lose their padding code. Returns
// false for any other conversion.
inline bool PutPlain(TextSink &sink, KVZChar conversion, va_list *args, bool *zeroUnit) {
    const Spec spec = PlainSpec(conversion);
    switch (conversion) {
    case KVZ_TEXT('d'):
    case KVZ_TEXT('i'):
        PutSigned(sink, spec, static_cast<int64_t>(FetchArgument(ArgClass::Int, args).i));
        return true;
    case KVZ_TEXT('u'):
    case KVZ_TEXT('x'):
    case KVZ_TEXT('X'):
        PutInteger(sink, spec, FetchArgument(ArgClass::UInt, args).i, 0);
        return true;
    case KVZ_TEXT('p'):
        PutPointer(sink, spec, FetchArgument(ArgClass::Pointer, args).p);
        return true;
    case KVZ_TEXT('c'):
        *zeroUnit |=
            PutCharacter(sink, spec, static_cast<int>(FetchArgument(ArgClass::Int, args).i),
                         false) == 0;
        return true;
    case KVZ_TEXT('s'):
        PutString(sink, spec,
                  static_cast<const KVZChar *>(FetchArgument(ArgClass::Pointer, args).p));
        return true;
    default:
        return false;
    }
}

// A narrow %S %C, as the Windows runtime reads them: h always asks for narrow, l and w
// for 16-bit, and the capital letter swaps the default.
inline bool IsNarrow(const Spec &spec, KVZChar capital) {
    return spec.length == Length::Short ||
           (spec.conversion == capital && spec.length != Length::Long &&
            spec.length != Length::Wide);
}

// Writes a parsed conversion; returns false when its letter is not a conversion. Out of
// line: the plain conversions keep the loop small.
[[gnu::noinline]] bool PutConversion(TextSink &sink, const Spec &spec, const Arg &arg,
                                     bool *zeroUnit) {
    switch (spec.conversion) {
    case KVZ_TEXT('d'):
    case KVZ_TEXT('i'):
        PutSigned(sink, spec, static_cast<int64_t>(arg.i));
        return true;
    case KVZ_TEXT('u'):
    case KVZ_TEXT('o'):
    case KVZ_TEXT('x'):
    case KVZ_TEXT('X'):
        PutInteger(sink, spec, arg.i, 0);
        return true;
    case KVZ_TEXT('p'):
        PutPointer(sink, spec, arg.p);
        return true;
    case KVZ_TEXT('c'):
    case KVZ_TEXT('C'):
        *zeroUnit |=
            PutCharacter(sink, spec, static_cast<int>(arg.i), IsNarrow(spec, KVZ_TEXT('C'))) == 0;
        return true;
    case KVZ_TEXT('s'):
    case KVZ_TEXT('S'):
        if (IsNarrow(spec, KVZ_TEXT('S'))) {
            PutNarrowString(sink, spec, static_cast<const char *>(arg.p));
        } else {
            PutString(sink, spec, static_cast<const KVZChar *>(arg.p));
        }
        return true;
    case KVZ_TEXT('n'):
        // The pointer has been taken and nothing is written through it: a format string
        // must never become a memory write.
        return true;
    case KVZ_TEXT('%'):
        PutUnit(sink, KVZ_TEXT('%'));
        return true;
    default:
        if (spec.argClass == ArgClass::Double || spec.argClass == ArgClass::LongDouble) {
            PutFloat(sink, spec, arg);
            return true;
        }
        return false;
    }
}

// The length of the text up to its first 0 unit.
size_t TerminatedLength(const KVZChar *text) {
    size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return length;
}

// The loop. The arguments come by pointer, so that every step takes them in turn.
size_t FormatArguments(KVZChar *buffer, size_t capacity, const KVZChar *format, va_list *ap,
                       size_t *stringLength) {
    if (stringLength != nullptr) {
        *stringLength = 0;
    }
    if (buffer == nullptr || capacity == 0) {
        return 0;
    }
    TextSink sink = MakeUnterminatedSink(buffer, capacity);
    bool zeroUnit = false; // a %c put a 0 unit into the text
    for (const KVZChar *f = format; f != nullptr;) {
        f = PutLiteralRun(sink, f);
        if (*f == 0 || sink.truncated) {
            break;
        }
        if (PutPlain(sink, f[1], ap, &zeroUnit)) {
            f += 2;
            continue;
        }
        const KVZChar *start = f;
        Spec spec;
        f = ParseConversion(f + 1, &spec, ap);
        if (f == nullptr) {
            break; // an unfinished conversion at the end of the format prints nothing
        }
        Arg arg = FetchArgument(spec.argClass, ap);
        if (!PutConversion(sink, spec, arg, &zeroUnit)) {
            // Not a conversion we know: the whole sequence shows as it stands.
            PutUnits(sink, start, static_cast<size_t>(f - start));
        }
        if (sink.truncated) {
            break; // once anything is cut, nothing that follows can show
        }
    }
    size_t length = SinkFinish(sink); // drops a half pair left at a cut
    if (stringLength != nullptr) {
        *stringLength = zeroUnit ? TerminatedLength(buffer) : length;
    }
    return length;
}

} // namespace

size_t FormatTextV(KVZChar *buffer, size_t capacity, const KVZChar *format, va_list args,
                   size_t *stringLength) {
    va_list ap;
    va_copy(ap, args);
    size_t length = FormatArguments(buffer, capacity, format, &ap, stringLength);
    va_end(ap);
    return length;
}

size_t FormatTextV(KVZChar *buffer, size_t capacity, const KVZChar *format, va_list args) {
    return FormatTextV(buffer, capacity, format, args, nullptr);
}

size_t FormatText(KVZChar *buffer, size_t capacity, const KVZChar *format, ...) {
    va_list ap;
    va_start(ap, format);
    size_t length = FormatArguments(buffer, capacity, format, &ap, nullptr);
    va_end(ap);
    return length;
}

} // namespace kvz
