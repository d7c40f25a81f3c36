#include "KVZDebugLib/platform/TextSink.h"

namespace kvz {

namespace {

inline void Terminate(TextSink &sink) {
    if (sink.out != nullptr) {
        sink.out[sink.length] = 0;
    }
}

} // namespace

TextSink MakeTextSink(KVZChar *buffer, size_t capacity) {
    TextSink sink = MakeUnterminatedSink(buffer, capacity);
    Terminate(sink);
    return sink;
}

void SinkPut(TextSink &sink, KVZChar unit) {
    PutUnit(sink, unit);
    Terminate(sink);
}

void SinkPutText(TextSink &sink, const KVZChar *text, size_t count) {
    if (text == nullptr) {
        return;
    }
    PutUnits(sink, text, count);
    Terminate(sink);
}

void SinkPutTerminated(TextSink &sink, const KVZChar *text) {
    if (text == nullptr) {
        return;
    }
    PutTerminatedRun(sink, text, SIZE_MAX);
    Terminate(sink);
}

void SinkPutRepeat(TextSink &sink, KVZChar unit, size_t count) {
    PutRepeat(sink, unit, count);
    Terminate(sink);
}

void SinkPutInt(TextSink &sink, int32_t value) {
    // Work on the magnitude in unsigned arithmetic so that INT32_MIN needs no special case.
    uint32_t magnitude = static_cast<uint32_t>(value);
    if (value < 0) {
        magnitude = 0u - magnitude;
    }
    // The digits are made apart, backwards, then copied: a cut keeps those that fit.
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
}

} // namespace kvz
