// A bounded writer of 16-bit text into a caller's fixed buffer. It never writes past the
// buffer, always leaves the text terminated, and counts what it had to cut.
#pragma once

#include "KVZDebugLib/KVZDebugLib.h"

#include <stddef.h>
#include <stdint.h>

namespace kvz {

struct TextSink {
    KVZChar *out;    // the buffer
    size_t capacity; // its size in units, terminator included; 0 means write nothing
    size_t length;   // units written so far (at most capacity - 1)
    bool truncated;  // some text did not fit
};

// Starts a sink over buffer[capacity]; the buffer holds empty text from here on.
TextSink MakeTextSink(KVZChar *buffer, size_t capacity);

// Room left for text, terminator excluded.
inline size_t SinkRoom(const TextSink &sink) {
    return sink.capacity == 0 ? 0 : sink.capacity - 1 - sink.length;
}

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
size_t SinkFinish(TextSink &sink);

} // namespace kvz
