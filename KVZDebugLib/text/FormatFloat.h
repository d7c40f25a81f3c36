// The formatter's floating-point writer: e E f F g G a A.
#pragma once

#include "KVZDebugLib/text/FormatSpec.h"
#include "KVZDebugLib/text/TextSink.h"

namespace kvz {

// Writes the value fetched as the conversion's class (Double or LongDouble) in its field.
void PutFloat(TextSink &sink, const Spec &spec, const Arg &arg);

} // namespace kvz
