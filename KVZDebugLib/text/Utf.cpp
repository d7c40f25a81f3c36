#include "KVZDebugLib/text/Utf.h"

#include "KVZDebugLib/text/Runs.h"
#include "KVZDebugLib/text/TextConstants.h"

#include <stdint.h>

namespace kvz {

namespace {

constexpr uint32_t kReplacement = 0xFFFD;

// Writes the character that starts with a unit beyond ASCII (next is the unit after it,
// or 0) as UTF-8 into out[room], and sets used to the units it took. An unpaired
// surrogate becomes U+FFFD. Returns the bytes written: 0 when the character does not fit
// whole.
inline size_t PutBeyondAscii(uint32_t unit, uint32_t next, char *out, size_t room, size_t &used) {
    uint32_t code = unit;
    used = 1;
    if (IsHighSurrogate(unit) && IsLowSurrogate(next)) {
        code = CombineSurrogates(unit, next);
        used = 2;
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
        code = kReplacement;
    }
    size_t need = code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
    if (room < need) {
        return 0;
    }
    if (need == 2) {
        out[0] = static_cast<char>(0xC0 | (code >> 6));
        out[1] = static_cast<char>(0x80 | (code & 0x3F));
    } else if (need == 3) {
        out[0] = static_cast<char>(0xE0 | (code >> 12));
        out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out[0] = static_cast<char>(0xF0 | (code >> 18));
        out[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out[3] = static_cast<char>(0x80 | (code & 0x3F));
    }
    return need;
}

} // namespace

size_t Utf16ToUtf8(const KVZChar *text, size_t count, char *out, size_t capacity) {
    if (text == nullptr || out == nullptr) {
        return 0;
    }
    size_t written = 0;
    size_t i = 0;
    while (i < count) {
        uint32_t unit = static_cast<uint16_t>(text[i]);
        if (unit < 0x80) {
            if (written == capacity) {
                break;
            }
            out[written++] = static_cast<char>(unit);
            ++i;
            continue;
        }
        uint32_t next = i + 1 < count ? static_cast<uint16_t>(text[i + 1]) : 0;
        size_t used = 0;
        size_t bytes = PutBeyondAscii(unit, next, out + written, capacity - written, used);
        if (bytes == 0) {
            break; // a character is written whole or not at all
        }
        written += bytes;
        i += used;
    }
    return written;
}

// Blocks of 8 units are read only where they stay in one page, as the run copier reads
// them (text/Runs.h): the units past a terminator are looked at and never used.
KVZ_NO_MEMORY_CHECKS size_t TerminatedUtf16ToUtf8(const KVZChar *&text, char *out,
                                                  size_t capacity) {
    if (text == nullptr || out == nullptr) {
        return 0;
    }
    const KVZChar *s = text;
    size_t written = 0;
    for (;;) {
#if defined(__SSE2__)
        // 16 units a time: a unit from 1 to 127 goes out as its byte. The first one that
        // does not (the terminator, or a unit beyond ASCII) ends the fast run; the bytes
        // stored for the units from there on are not counted, and are overwritten.
        const __m128i zeros = _mm_setzero_si128();
        const __m128i ceiling = _mm_set1_epi16(0x80);
        while (capacity - written >= 16 &&
               (reinterpret_cast<uintptr_t>(s) & 4095u) <= 4096u - 32u) {
            __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
            __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s) + 1);
            // Signed compares: a unit from 0x8000 up reads as negative, so it fails too.
            __m128i asciiA = _mm_and_si128(_mm_cmpgt_epi16(a, zeros), _mm_cmplt_epi16(a, ceiling));
            __m128i asciiB = _mm_and_si128(_mm_cmpgt_epi16(b, zeros), _mm_cmplt_epi16(b, ceiling));
            unsigned special =
                static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(asciiA, asciiB))) ^ 0xFFFFu;
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + written), _mm_packus_epi16(a, b));
            if (special != 0) {
                unsigned count = static_cast<unsigned>(__builtin_ctz(special));
                written += count;
                s += count;
                break;
            }
            written += 16;
            s += 16;
        }
#endif
        uint32_t unit = static_cast<uint16_t>(*s);
        if (unit == 0) {
            break;
        }
        if (unit < 0x80) {
            if (written == capacity) {
                break;
            }
            out[written++] = static_cast<char>(unit);
            ++s;
            continue;
        }
        size_t used = 0;
        size_t bytes = PutBeyondAscii(unit, static_cast<uint16_t>(s[1]), out + written,
                                      capacity - written, used);
        if (bytes == 0) {
            break; // a character is written whole or not at all
        }
        written += bytes;
        s += used;
    }
    text = s;
    return written;
}

namespace {

// One character of UTF-8 starting with the byte beyond ASCII at s[i]: sets *code to it
// (U+FFFD when malformed) and returns where the bytes after it start, or 0 when maxBytes
// cuts it short. The lead byte fixes the length and the range of the first continuation
// byte, which rules out overlong forms, surrogates and values past U+10FFFF.
size_t DecodeSequence(const unsigned char *s, size_t i, size_t maxBytes, uint32_t *code) {
    uint32_t b = s[i];
    size_t length = 1; // a stray continuation byte or one never used in UTF-8
    uint32_t low = 0x80;
    uint32_t high = 0xBF;
    *code = kReplacement;
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
        *code = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        *code = b & 0x0F;
        low = b == 0xE0 ? 0xA0 : low;
        high = b == 0xED ? 0x9F : high;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        *code = b & 0x07;
        low = b == 0xF0 ? 0x90 : low;
        high = b == 0xF4 ? 0x8F : high;
    }
    size_t next = i + 1;
    for (size_t k = 1; k < length; ++k, ++next) {
        if (next == maxBytes) {
            return 0;
        }
        uint32_t c = s[next];
        if (c < low || c > high) {
            *code = kReplacement; // includes the terminator: nothing past it is read
            return next;
        }
        *code = (*code << 6) | (c & 0x3F);
        low = 0x80;
        high = 0xBF;
    }
    return next;
}

} // namespace

// UTF-8 in, UTF-16 out. Malformed input is replaced the way the Unicode standard
// recommends ("maximal subparts"): each byte that cannot start a character, and each
// started sequence that breaks off, becomes one U+FFFD, and the byte that broke it off is
// read again as the start of what follows. A sequence cut short by maxBytes is left out,
// as a character that does not fit, since the bytes that would complete it are not ours
// to read.
size_t PutUtf8(TextSink &sink, const char *text, size_t maxBytes) {
    if (text == nullptr) {
        return 0;
    }
    const unsigned char *s = reinterpret_cast<const unsigned char *>(text);
    const size_t start = sink.length;
    size_t i = 0;
    while (i < maxBytes && s[i] != 0) {
        uint32_t code = s[i];
        size_t next = i + 1;
        if (code >= 0x80) {
            next = DecodeSequence(s, i, maxBytes, &code);
            if (next == 0) {
                break; // cut short by maxBytes
            }
        }
        size_t need = code >= 0x10000 ? 2 : 1;
        if (SinkRoom(sink) < need) {
            sink.truncated = true;
            break;
        }
        if (need == 2) {
            sink.out[sink.length++] = HighSurrogateOf(code);
            sink.out[sink.length++] = LowSurrogateOf(code);
        } else {
            sink.out[sink.length++] = static_cast<KVZChar>(code);
        }
        i = next;
    }
    if (sink.out != nullptr) {
        sink.out[sink.length] = 0;
    }
    return sink.length - start;
}

} // namespace kvz
