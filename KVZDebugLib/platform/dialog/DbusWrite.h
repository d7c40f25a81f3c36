// Appending values to a D-Bus message through the loaded libdbus. Every string given here
// must be valid UTF-8 (libdbus ends the process on one that is not): the box's own texts
// are converted by SafeUtf8, names that come from outside are checked first.
#pragma once

#include "KVZDebugLib/KVZDebugLib.h"
#include "KVZDebugLib/platform/dialog/DbusLibrary.h"

#include <stddef.h>
#include <stdint.h>

namespace kvz::platform {

struct DbusWriter {
    const DbusFunctions &dbus;
    DBusMessageIter *at;
};

void PutString(const DbusWriter &out, const char *text);
void PutPath(const DbusWriter &out, const char *path);
void PutInt(const DbusWriter &out, int32_t value);
void PutUint(const DbusWriter &out, uint32_t value);
void PutBool(const DbusWriter &out, bool value);
// An object reference, (so).
void PutRef(const DbusWriter &out, const char *name, const char *path);
// A container of `type` (DBUS_TYPE_ARRAY, _STRUCT, _VARIANT, _DICT_ENTRY) opened in
// `inner`; `signature` as libdbus wants it for the type (null for structs and entries).
void OpenIn(const DbusWriter &out, int type, const char *signature, DBusMessageIter *inner);
void CloseIn(const DbusWriter &out, DBusMessageIter *inner);
// An empty array of the given element signature.
void PutEmptyArray(const DbusWriter &out, const char *signature);

// Writes at most `count` units of text as UTF-8 that libdbus accepts into out[capacity]
// (terminated): unpaired surrogates and noncharacters become U+FFFD, and the text ends
// before a character that does not fit. Returns the characters written.
int SafeUtf8(const KVZChar *text, size_t count, char *out, size_t capacity);

} // namespace kvz::platform
