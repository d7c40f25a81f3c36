#include "KVZDebugLib/platform/dialog/DialogCopy.h"

namespace kvz::platform {

namespace {

constexpr char kRule[] = "---------------------------\n"; // 27 dashes

struct Writer {
    char *out;
    size_t capacity, length;
    bool full;

    void Bytes(const char *bytes, size_t count) {
        if (full || count > capacity - length) {
            full = true;
            return;
        }
        for (size_t i = 0; i < count; ++i) {
            out[length++] = bytes[i];
        }
    }
    void Text(const char *text) {
        size_t count = 0;
        while (text[count] != 0) {
            ++count;
        }
        Bytes(text, count);
    }
    void Code(uint32_t code) {
        char bytes[4];
        size_t count = 0;
        if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            bytes[count++] = static_cast<char>(code);
        } else if (code < 0x800) {
            bytes[count++] = static_cast<char>(0xC0 | (code >> 6));
            bytes[count++] = static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            bytes[count++] = static_cast<char>(0xE0 | (code >> 12));
            bytes[count++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            bytes[count++] = static_cast<char>(0x80 | (code & 0x3F));
        } else {
            bytes[count++] = static_cast<char>(0xF0 | (code >> 18));
            bytes[count++] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            bytes[count++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            bytes[count++] = static_cast<char>(0x80 | (code & 0x3F));
        }
        Bytes(bytes, count);
    }
    void Codes(const uint32_t *codes, int count) {
        for (int i = 0; i < count; ++i) {
            Code(codes[i]);
        }
    }
};

} // namespace

// out is written through the writer, which the check does not follow.
// NOLINTNEXTLINE(readability-non-const-parameter)
size_t BoxAsText(const BoxContent &box, char *out, size_t capacity) {
    Writer writer = {out, capacity, 0, false};
    writer.Text(kRule);
    writer.Codes(box.caption, box.captionCount);
    writer.Text("\n");
    writer.Text(kRule);
    writer.Codes(box.text, box.textCount);
    writer.Text("\n");
    writer.Text(kRule);
    for (int i = 0; i < box.labelCount; ++i) {
        writer.Text(box.labels[i]);
        writer.Text("   ");
    }
    writer.Text("\n");
    writer.Text(kRule);
    return writer.length;
}

size_t Utf8ToLatin1(const char *text, size_t length, size_t *from, char *out, size_t capacity) {
    size_t written = 0, at = *from;
    while (at < length && written < capacity) {
        const auto lead = static_cast<unsigned char>(text[at]);
        size_t count = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        count = count > length - at ? length - at : count;
        uint32_t code = lead;
        if (count == 2) {
            code = ((lead & 0x1Fu) << 6) | (static_cast<unsigned char>(text[at + 1]) & 0x3Fu);
        }
        out[written++] = count == 1 || (count == 2 && code <= 0xFF) ? static_cast<char>(code) : '?';
        at += count;
    }
    *from = at;
    return written;
}

} // namespace kvz::platform
