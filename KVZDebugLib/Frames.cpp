// The prompts' fixed frames.
#include "KVZDebugLib/Frames.h"

#include "KVZDebugLib/ReportState.h"
#include "KVZDebugLib/text/TextConstants.h"
#include "KVZDebugLib/text/TextSink.h"

using kvz::kMessageBufferSize;

namespace {

// The frames are fixed, so they are composed by appending their pieces rather than by
// reading a format at run time. The result is what the formatter makes of the frames
//   "%s, line %i : %s\n Press OK to continue or CANCEL to debug."
//   "%s, line %i : %s\n Press OK to continue or CANCEL to report this error."
//   "A debug breakpoint was hit in %s, line %i.\nThis indicates ... CANCEL to report."
//   "%s\n Press OK to continue."
// with the file name and detail taken as plain values, so a percent sign in either is
// shown as it stands.
const KVZChar kLineSeparator[] = KVZ_TEXT(", line ");
const KVZChar kDetailSeparator[] = KVZ_TEXT(" : ");
const KVZChar kWarnDebugClosing[] = KVZ_TEXT("\n Press OK to continue or CANCEL to debug.");
const KVZChar kWarnReleaseClosing[] =
    KVZ_TEXT("\n Press OK to continue or CANCEL to report this error.");
const KVZChar kBreakOpening[] = KVZ_TEXT("A debug breakpoint was hit in ");
const KVZChar kBreakClosing[] =
    KVZ_TEXT(".\nThis indicates a condition that should not occur.\nPlease notify a programmer "
             "of this. Press OK to continue or CANCEL to report.");
const KVZChar kFinalClosing[] = KVZ_TEXT("\n Press OK to continue.");

template <size_t N> void PutLiteral(kvz::TextSink &sink, const KVZChar (&text)[N]) {
    kvz::SinkPutText(sink, text, N - 1);
}

void PutString(kvz::TextSink &sink, const KVZChar *text) {
    kvz::SinkPutTerminated(sink, text != nullptr ? text : kvz::kNullText);
}

// "<file>, line <line> : <detail><closing>"
template <size_t N>
size_t ComposeWarnFrame(KVZChar *message, const KVZChar *file, int32_t line, const KVZChar *detail,
                        size_t detailLength, const KVZChar (&closing)[N]) {
    kvz::TextSink sink = kvz::MakeTextSink(message, kMessageBufferSize);
    PutString(sink, file);
    PutLiteral(sink, kLineSeparator);
    kvz::SinkPutInt(sink, line);
    PutLiteral(sink, kDetailSeparator);
    kvz::SinkPutText(sink, detail, detailLength);
    PutLiteral(sink, closing);
    return kvz::SinkFinish(sink);
}

} // namespace

namespace kvz {

size_t ComposeWarnDebugFrame(KVZChar *message, const KVZChar *file, int32_t line,
                             const KVZChar *detail, size_t detailLength) {
    return ComposeWarnFrame(message, file, line, detail, detailLength, kWarnDebugClosing);
}

size_t ComposeWarnReleaseFrame(KVZChar *message, const KVZChar *file, int32_t line,
                               const KVZChar *detail, size_t detailLength) {
    return ComposeWarnFrame(message, file, line, detail, detailLength, kWarnReleaseClosing);
}

size_t ComposeBreakFrame(KVZChar *message, const KVZChar *file, int32_t line) {
    kvz::TextSink sink = kvz::MakeTextSink(message, kMessageBufferSize);
    PutLiteral(sink, kBreakOpening);
    PutString(sink, file);
    PutLiteral(sink, kLineSeparator);
    kvz::SinkPutInt(sink, line);
    PutLiteral(sink, kBreakClosing);
    return kvz::SinkFinish(sink);
}

size_t ComposeFinalFrame(KVZChar *message, const KVZChar *detail, size_t detailLength) {
    kvz::TextSink sink = kvz::MakeTextSink(message, kMessageBufferSize);
    kvz::SinkPutText(sink, detail, detailLength);
    PutLiteral(sink, kFinalClosing);
    return kvz::SinkFinish(sink);
}

} // namespace kvz
