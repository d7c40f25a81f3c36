// Narrow text on Windows, decoded from a given code page. PutNarrow uses the active code
// page (CP_ACP); the code page is a parameter here so that every kind of code page, single-
// byte, double-byte and UTF-8, can be checked on any system.
#pragma once

#include "KVZDebugLib/text/TextSink.h"

#include <stddef.h>

namespace kvz {

// As PutNarrow: reads at most maxBytes bytes (stopping earlier at the terminator or when
// the sink is full), never splits a character, and returns the units produced.
size_t PutNarrowFromCodePage(TextSink &sink, const char *text, size_t maxBytes, unsigned codePage);

} // namespace kvz
