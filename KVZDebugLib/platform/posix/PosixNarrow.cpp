// Narrow text on POSIX systems is UTF-8, whatever the locale says: the library's callers
// pass source text and file names, which are UTF-8 there.
#include "KVZDebugLib/text/Narrow.h"

#include "KVZDebugLib/text/Utf.h"

namespace kvz::platform {

size_t PutNarrow(TextSink &sink, const char *text, size_t maxBytes) {
    return PutUtf8(sink, text, maxBytes);
}

} // namespace kvz::platform
