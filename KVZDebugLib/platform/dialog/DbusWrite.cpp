#include "KVZDebugLib/platform/dialog/DbusWrite.h"

#include "KVZDebugLib/text/Utf.h"

namespace kvz::platform {

void PutString(const DbusWriter &out, const char *text) {
    out.dbus.dbus_message_iter_append_basic(out.at, DBUS_TYPE_STRING, &text);
}

void PutPath(const DbusWriter &out, const char *path) {
    out.dbus.dbus_message_iter_append_basic(out.at, DBUS_TYPE_OBJECT_PATH, &path);
}

void PutInt(const DbusWriter &out, int32_t value) {
    const dbus_int32_t v = value;
    out.dbus.dbus_message_iter_append_basic(out.at, DBUS_TYPE_INT32, &v);
}

void PutUint(const DbusWriter &out, uint32_t value) {
    const dbus_uint32_t v = value;
    out.dbus.dbus_message_iter_append_basic(out.at, DBUS_TYPE_UINT32, &v);
}

void PutBool(const DbusWriter &out, bool value) {
    const dbus_bool_t v = value ? TRUE : FALSE;
    out.dbus.dbus_message_iter_append_basic(out.at, DBUS_TYPE_BOOLEAN, &v);
}

void OpenIn(const DbusWriter &out, int type, const char *signature, DBusMessageIter *inner) {
    out.dbus.dbus_message_iter_open_container(out.at, type, signature, inner);
}

void CloseIn(const DbusWriter &out, DBusMessageIter *inner) {
    out.dbus.dbus_message_iter_close_container(out.at, inner);
}

void PutRef(const DbusWriter &out, const char *name, const char *path) {
    DBusMessageIter inner;
    OpenIn(out, DBUS_TYPE_STRUCT, nullptr, &inner);
    const DbusWriter in = {out.dbus, &inner};
    PutString(in, name);
    PutPath(in, path);
    CloseIn(out, &inner);
}

void PutEmptyArray(const DbusWriter &out, const char *signature) {
    DBusMessageIter inner;
    OpenIn(out, DBUS_TYPE_ARRAY, signature, &inner);
    CloseIn(out, &inner);
}

namespace {

bool IsNoncharacter(KVZChar unit) {
    return (unit >= 0xFDD0 && unit <= 0xFDEF) || unit == 0xFFFE || unit == 0xFFFF;
}

} // namespace

// One character at a time: a pair converts together, anything libdbus might refuse
// (older versions refuse noncharacters too) becomes U+FFFD.
int SafeUtf8(const KVZChar *text, size_t count, char *out, size_t capacity) {
    if (capacity == 0) {
        return 0;
    }
    size_t used = 0;
    int characters = 0;
    for (size_t i = 0; i < count && text[i] != 0;) {
        const bool pair = i + 1 < count && text[i] >= 0xD800 && text[i] <= 0xDBFF &&
                          text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
        const size_t units = pair ? 2 : 1;
        static const KVZChar kReplacement[] = {0xFFFD};
        const KVZChar *from = IsNoncharacter(text[i]) ? kReplacement : text + i;
        const size_t wrote = Utf16ToUtf8(from, units, out + used, capacity - 1 - used);
        if (wrote == 0) {
            break;
        }
        used += wrote;
        ++characters;
        i += units;
    }
    out[used] = 0;
    return characters;
}

} // namespace kvz::platform
