// Small pieces the accessible objects' answers share: reading a call's arguments and
// cutting UTF-8 text by characters, as AT-SPI counts offsets.
#pragma once

#include "KVZDebugLib/platform/dialog/DbusLibrary.h"

#include <stddef.h>
#include <stdint.h>

namespace kvz::platform {

// Reads the call's leading 32-bit arguments (signed or not) into out[count]; those missing
// or of another type are left as they were. Returns how many were read.
int ReadInts(const DbusFunctions &dbus, DBusMessage *call, int32_t *out, int count);

// The call's argument at `index` when it is a string, else null.
const char *ReadString(const DbusFunctions &dbus, DBusMessage *call, int index);

// Copies the characters [start, end) of valid UTF-8 text of `chars` characters into
// out[capacity] (terminated); end < 0 or past the end means the end, start is clamped.
// Returns the characters copied.
int Utf8Slice(const char *text, int chars, int start, int end, char *out, size_t capacity);

// The code point at a character offset of valid UTF-8 text, 0 past its end.
uint32_t Utf8At(const char *text, int chars, int offset);

} // namespace kvz::platform
