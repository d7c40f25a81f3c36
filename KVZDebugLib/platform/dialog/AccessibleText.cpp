#include "KVZDebugLib/platform/dialog/AccessibleText.h"

#include <string.h>

namespace kvz::platform {

int ReadInts(const DbusFunctions &dbus, DBusMessage *call, int32_t *out, int count) {
    DBusMessageIter at;
    if (!dbus.dbus_message_iter_init(call, &at)) {
        return 0;
    }
    int read = 0;
    for (; read < count; ++read) {
        const int type = dbus.dbus_message_iter_get_arg_type(&at);
        if (type != DBUS_TYPE_INT32 && type != DBUS_TYPE_UINT32) {
            break;
        }
        dbus_int32_t value = 0;
        dbus.dbus_message_iter_get_basic(&at, &value);
        out[read] = value;
        dbus.dbus_message_iter_next(&at);
    }
    return read;
}

const char *ReadString(const DbusFunctions &dbus, DBusMessage *call, int index) {
    DBusMessageIter at;
    if (!dbus.dbus_message_iter_init(call, &at)) {
        return nullptr;
    }
    for (int i = 0; i < index; ++i) {
        if (!dbus.dbus_message_iter_next(&at)) {
            return nullptr;
        }
    }
    if (dbus.dbus_message_iter_get_arg_type(&at) != DBUS_TYPE_STRING) {
        return nullptr;
    }
    const char *value = nullptr;
    dbus.dbus_message_iter_get_basic(&at, &value);
    return value;
}

namespace {

// The byte where character `offset` starts.
const char *Skip(const char *text, int offset) {
    for (; offset > 0 && *text != 0; --offset) {
        ++text;
        while ((static_cast<unsigned char>(*text) & 0xC0) == 0x80) {
            ++text;
        }
    }
    return text;
}

} // namespace

int Utf8Slice(const char *text, int chars, int start, int end, char *out, size_t capacity) {
    if (end < 0 || end > chars) {
        end = chars;
    }
    start = start < 0 ? 0 : start > end ? end : start;
    const char *from = Skip(text, start);
    const char *to = Skip(from, end - start);
    size_t bytes = static_cast<size_t>(to - from);
    if (capacity == 0) {
        return 0;
    }
    if (bytes > capacity - 1) {
        bytes = 0; // never cut a character: the buffers are made to fit the whole text
        end = start;
    }
    memcpy(out, from, bytes);
    out[bytes] = 0;
    return end - start;
}

uint32_t Utf8At(const char *text, int chars, int offset) {
    if (offset < 0 || offset >= chars) {
        return 0;
    }
    const auto *at = reinterpret_cast<const unsigned char *>(Skip(text, offset));
    const int extra = at[0] >= 0xF0 ? 3 : at[0] >= 0xE0 ? 2 : at[0] >= 0xC0 ? 1 : 0;
    uint32_t code = extra == 0 ? at[0] : at[0] & (0x3F >> extra);
    for (int i = 1; i <= extra; ++i) {
        code = (code << 6) | (at[i] & 0x3F);
    }
    return code;
}

} // namespace kvz::platform
