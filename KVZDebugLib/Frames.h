// The prompts' fixed frames, composed into MessageBuffer from the file name, the line
// number and DetailBuffer. Each returns the length of the text it left there.
// detailLength is the length of DetailBuffer's text up to its first 0 unit, as the
// formatter reports it when it makes the detail: the frame copies that many units.
#pragma once

#include "KVZDebugLib/KVZDebugLib.h"

#include <stddef.h>
#include <stdint.h>

namespace kvz {

// "<file>, line <line> : <detail>\n Press OK to continue or CANCEL to debug."
size_t ComposeWarnDebugFrame(const KVZChar *file, int32_t line, size_t detailLength);
// "<file>, line <line> : <detail>\n Press OK to continue or CANCEL to report this error."
size_t ComposeWarnReleaseFrame(const KVZChar *file, int32_t line, size_t detailLength);
// "A debug breakpoint was hit in <file>, line <line>.\nThis indicates ..."
size_t ComposeBreakFrame(const KVZChar *file, int32_t line);
// "<detail>\n Press OK to continue."
size_t ComposeFinalFrame(size_t detailLength);

} // namespace kvz
