// The one bounded writer of 16-bit text into a caller's fixed buffer: the formatter, the
// frames and the narrow-text decoders all write through it. It never writes past the
// buffer and counts what it had to cut.
#pragma once

#include "KVZDebugLib/KVZDebugLib.h"
#include "KVZDebugLib/text/Runs.h"
#include "KVZDebugLib/text/TextConstants.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

namespace kvz {

struct TextSink {
    KVZChar *out;   // the buffer; null when it holds nothing, not even a terminator
    size_t length;  // units written so far
    size_t limit;   // the most units of text: the capacity less the terminator's slot
    bool truncated; // some text did not fit
};

// Room left for text, terminator excluded.
inline size_t SinkRoom(const TextSink &sink) {
    return sink.limit - sink.length;
}

// A sink over buffer[capacity] that stores nothing until the first write. The formatter
// starts this way because its format may lie in the very buffer it writes.
inline TextSink MakeUnterminatedSink(KVZChar *buffer, size_t capacity) {
    // A null buffer can hold nothing, whatever size it claims.
    if (buffer == nullptr || capacity == 0) {
        return TextSink{nullptr, 0, 0, false};
    }
    return TextSink{buffer, 0, capacity - 1, false};
}

// The bounded writes. They store nothing past the text they add, so they leave the text
// unterminated: the Sink* calls further down add the terminator.
inline void PutUnit(TextSink &sink, KVZChar unit) {
    if (SinkRoom(sink) == 0) {
        sink.truncated = true;
        return;
    }
    sink.out[sink.length++] = unit;
}

inline void PutRepeat(TextSink &sink, KVZChar unit, size_t count) {
    if (count > SinkRoom(sink)) {
        count = SinkRoom(sink);
        sink.truncated = true;
    }
    KVZChar *dest = sink.out + sink.length;
    for (size_t i = 0; i < count; ++i) {
        dest[i] = unit;
    }
    sink.length += count;
}

inline void PutUnits(TextSink &sink, const KVZChar *text, size_t count) {
    if (count > SinkRoom(sink)) {
        count = SinkRoom(sink);
        sink.truncated = true;
    }
    if (count == 0) {
        return; // a full sink, or one with no buffer: memmove must not see its null
    }
    // memmove: a forward copy's result even when a caller hands in part of the buffer.
    memmove(sink.out + sink.length, text, count * sizeof(KVZChar));
    sink.length += count;
}

// ASCII bytes, widened to units.
inline void PutAscii(TextSink &sink, const char *text, size_t count) {
    if (count > SinkRoom(sink)) {
        count = SinkRoom(sink);
        sink.truncated = true;
    }
    KVZChar *dest = sink.out + sink.length;
    for (size_t i = 0; i < count; ++i) {
        dest[i] = static_cast<KVZChar>(static_cast<unsigned char>(text[i]));
    }
    sink.length += count;
}

// Where `count` units can be written in place, or null when they do not all fit (nothing
// is noted then). The caller fills them all.
inline KVZChar *PutInPlace(TextSink &sink, size_t count) {
    if (count > SinkRoom(sink)) {
        return nullptr;
    }
    KVZChar *at = sink.out + sink.length;
    sink.length += count;
    return at;
}

// A zero-terminated text of at most `most` units; returns the units copied. It reads at
// most one unit past the room, to know whether something was left out.
inline size_t PutTerminatedRun(TextSink &sink, const KVZChar *text, size_t most) {
    size_t room = SinkRoom(sink);
    size_t count = CopyRun<false>(sink.out + sink.length, text, most < room ? most : room, 0);
    if (count == room && count < most && text[count] != 0) {
        sink.truncated = true;
    }
    sink.length += count;
    return count;
}

// The same calls for callers that compose text piece by piece: each leaves the text
// terminated, so a sink that is abandoned half-way still holds a usable string.
TextSink MakeTextSink(KVZChar *buffer, size_t capacity);
void SinkPut(TextSink &sink, KVZChar unit);
void SinkPutText(TextSink &sink, const KVZChar *text, size_t count);
// Copies a zero-terminated text, reading no further than it can store (plus one unit,
// to know whether it was cut).
void SinkPutTerminated(TextSink &sink, const KVZChar *text);
void SinkPutRepeat(TextSink &sink, KVZChar unit, size_t count);
// Decimal digits of a 32-bit signed integer, as %i prints it.
void SinkPutInt(TextSink &sink, int32_t value);

// Terminates the text and returns its length. When text was cut and the last unit kept
// is a high surrogate, that unit is dropped too, so no half pair is left at the end.
inline size_t SinkFinish(TextSink &sink) {
    if (sink.out == nullptr) {
        return 0;
    }
    if (sink.truncated && sink.length != 0 && IsHighSurrogate(sink.out[sink.length - 1])) {
        --sink.length;
    }
    sink.out[sink.length] = 0;
    return sink.length;
}

} // namespace kvz
