// The formatter's floating-point writer: e E f F g G a A.
#pragma once

#include "KVZDebugLib/platform/FormatSpec.h"
#include "KVZDebugLib/platform/TextSink.h"

namespace kvz {

// Writes the value fetched as the spec's class (Double or LongDouble) in its field.
void PutFloat(TextSink &sink, const Spec &spec, const Arg &arg);

} // namespace kvz
