#include "KVZDebugLib/text/TextSink.h"

#include "KVZDebugLib/text/Digits.h"

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
    // The magnitude in unsigned arithmetic, so that INT32_MIN needs no special case.
    uint32_t magnitude = static_cast<uint32_t>(value);
    if (value < 0) {
        magnitude = 0u - magnitude;
        PutUnit(sink, KVZ_TEXT('-'));
    }
    PutDigits(sink, magnitude, DecimalCount(magnitude), KVZ_TEXT('u'));
    Terminate(sink);
}

} // namespace kvz
