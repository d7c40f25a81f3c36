// Narrow text on Windows: bytes of the active code page (CP_ACP), widened straight into the
// sink in small pieces on the stack, so nothing is allocated however long the text is.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "KVZDebugLib/platform/windows/WindowsNarrow.h"

#include "KVZDebugLib/text/Narrow.h"
#include "KVZDebugLib/text/TextSink.h"
#include "KVZDebugLib/text/Utf.h"

namespace kvz {

namespace {

constexpr size_t kPieceBytes = 128;

bool IsUtf8Continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// How many of the bytes at text (at most limit, none past the terminator) form whole
// characters of the code page. A double-byte character is never split from its lead byte,
// nor, on a UTF-8 code page, a sequence from its first byte: a character that runs past
// the limit is left for the next piece, or, past the caller's own limit (a precision),
// left out. A character broken off by the terminator or by a wrong byte goes as far as it
// came, and the code page makes its default character of it.
size_t WholePiece(const char *text, size_t limit, UINT codePage) {
    size_t count = 0;
    while (count < limit && text[count] != '\0') {
        unsigned char byte = static_cast<unsigned char>(text[count]);
        size_t width = 1;
        if (codePage == CP_UTF8) {
            if (byte >= 0xC0) {
                width = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
            }
        } else if (IsDBCSLeadByteEx(codePage, byte)) {
            width = 2;
        }
        // The bytes that are there and belong to the character.
        size_t have = 1;
        while (have < width && count + have < limit && text[count + have] != '\0' &&
               (codePage != CP_UTF8 ||
                IsUtf8Continuation(static_cast<unsigned char>(text[count + have])))) {
            ++have;
        }
        if (have < width && count + have == limit) {
            break; // the character runs past the limit
        }
        count += have;
    }
    return count;
}

} // namespace

size_t platform::PutNarrow(TextSink &sink, const char *text, size_t maxBytes) {
    return PutNarrowFromCodePage(sink, text, maxBytes, GetACP());
}

size_t PutNarrowFromCodePage(TextSink &sink, const char *text, size_t maxBytes, unsigned codePage) {
    if (text == nullptr) {
        return 0;
    }
    const size_t start = sink.length;
    size_t done = 0;
    while (done < maxBytes && text[done] != '\0') {
        if (SinkRoom(sink) == 0) {
            sink.truncated = true; // text is left that does not fit
            break;
        }
        size_t limit = maxBytes - done < kPieceBytes ? maxBytes - done : kPieceBytes;
        size_t count = WholePiece(text + done, limit, codePage);
        if (count == 0) {
            break; // a character cut by maxBytes is left out
        }
        // A code page character never yields more 16-bit units than it has bytes.
        WCHAR wide[kPieceBytes];
        int units = MultiByteToWideChar(codePage, 0, text + done, static_cast<int>(count), wide,
                                        static_cast<int>(kPieceBytes));
        if (units <= 0) {
            break; // nothing is reported about the conversion's own trouble
        }
        SinkPutText(sink, wide, static_cast<size_t>(units));
        done += count;
    }
    return sink.length - start;
}

} // namespace kvz
