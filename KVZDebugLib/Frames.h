// The prompts' fixed frames, composed into a message buffer of kMessageBufferSize units
// from the file name, the line number and the detail. Each returns the length of the text
// it left there. detailLength is the length of the detail's text up to its first 0 unit,
// as the formatter reports it when it makes the detail: the frame copies that many units.
#pragma once

#include "KVZDebugLib/KVZDebugLib.h"

#include <stddef.h>
#include <stdint.h>

namespace kvz {

// "<file>, line <line> : <detail>\n Press OK to continue or CANCEL to debug."
size_t ComposeWarnDebugFrame(KVZChar *message, const KVZChar *file, int32_t line,
                             const KVZChar *detail, size_t detailLength);
// "<file>, line <line> : <detail>\n Press OK to continue or CANCEL to report this error."
size_t ComposeWarnReleaseFrame(KVZChar *message, const KVZChar *file, int32_t line,
                               const KVZChar *detail, size_t detailLength);
// "A debug breakpoint was hit in <file>, line <line>.\nThis indicates ..."
size_t ComposeBreakFrame(KVZChar *message, const KVZChar *file, int32_t line);
// "<detail>\n Press OK to continue."
size_t ComposeFinalFrame(KVZChar *message, const KVZChar *detail, size_t detailLength);

} // namespace kvz
