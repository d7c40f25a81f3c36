#include "KVZDebugLib/platform/TextSink.h"

#include "KVZDebugLib/platform/Runs.h"
#include "KVZDebugLib/platform/TextConstants.h"

#include <string.h>

namespace kvz {

namespace {

// Every call below leaves the text terminated, so a sink that is abandoned half-way
// still holds a usable string; SinkFinish only settles the cut.
inline void Terminate(TextSink &sink) {
    if (sink.capacity != 0) {
        sink.out[sink.length] = 0;
    }
}

} // namespace

// The sink writes through buffer; the checker misses the store into the aggregate.
// NOLINTNEXTLINE(readability-non-const-parameter)
TextSink MakeTextSink(KVZChar *buffer, size_t capacity) {
    // A null buffer can hold nothing, whatever size it claims.
    if (buffer == nullptr) {
        capacity = 0;
    }
    TextSink sink{buffer, capacity, 0, false};
    Terminate(sink);
    return sink;
}

void SinkPut(TextSink &sink, KVZChar unit) {
    if (SinkRoom(sink) == 0) {
        sink.truncated = true;
        return;
    }
    sink.out[sink.length++] = unit;
    sink.out[sink.length] = 0;
}

void SinkPutText(TextSink &sink, const KVZChar *text, size_t count) {
    if (text == nullptr || count == 0) {
        return;
    }
    size_t room = SinkRoom(sink);
    if (count > room) {
        count = room;
        sink.truncated = true;
    }
    if (count == 0) {
        return; // a full sink, or one with no buffer: memmove must not see its null
    }
    // memmove: a forward copy's result even when a caller hands in part of the buffer.
    memmove(sink.out + sink.length, text, count * sizeof(KVZChar));
    sink.length += count;
    Terminate(sink);
}

void SinkPutTerminated(TextSink &sink, const KVZChar *text) {
    if (text == nullptr) {
        return;
    }
    size_t room = SinkRoom(sink);
    size_t i = 0;
    if (room != 0) {
        i = CopyRun<false>(sink.out + sink.length, text, room, 0);
        sink.length += i;
        Terminate(sink);
    }
    // The one unit past the room tells whether anything was left out.
    if (i == room && text[i] != 0) {
        sink.truncated = true;
    }
}

void SinkPutRepeat(TextSink &sink, KVZChar unit, size_t count) {
    size_t room = SinkRoom(sink);
    if (count > room) {
        count = room;
        sink.truncated = true;
    }
    KVZChar *dest = sink.out + sink.length;
    for (size_t i = 0; i < count; ++i) {
        dest[i] = unit;
    }
    sink.length += count;
    Terminate(sink);
}

void SinkPutInt(TextSink &sink, int32_t value) {
    // Work on the magnitude in unsigned arithmetic so that INT32_MIN needs no special case.
    uint32_t magnitude = static_cast<uint32_t>(value);
    if (value < 0) {
        magnitude = 0u - magnitude;
    }
    size_t count = 1;
    for (uint32_t rest = magnitude; rest >= 10u; rest /= 10u) {
        ++count;
    }
    if (value < 0) {
        ++count;
    }
    if (count > SinkRoom(sink)) {
        // Cut: the digits that fit, made apart.
        KVZChar digits[11];
        size_t at = sizeof digits / sizeof digits[0];
        do {
            digits[--at] = static_cast<KVZChar>(u'0' + magnitude % 10u);
            magnitude /= 10u;
        } while (magnitude != 0);
        if (value < 0) {
            digits[--at] = u'-';
        }
        SinkPutText(sink, digits + at, sizeof digits / sizeof digits[0] - at);
        return;
    }
    // The digits go straight into the buffer, backwards from the end of the number.
    KVZChar *end = sink.out + sink.length + count;
    do {
        *--end = static_cast<KVZChar>(u'0' + magnitude % 10u);
        magnitude /= 10u;
    } while (magnitude != 0);
    if (value < 0) {
        *--end = u'-';
    }
    sink.length += count;
    Terminate(sink);
}

size_t SinkFinish(TextSink &sink) {
    if (sink.capacity == 0) {
        return 0;
    }
    if (sink.truncated && sink.length != 0 && IsHighSurrogate(sink.out[sink.length - 1])) {
        --sink.length;
    }
    sink.out[sink.length] = 0;
    return sink.length;
}

} // namespace kvz
