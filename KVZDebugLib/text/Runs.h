// Copying runs of 16-bit text fast: the formatter's plain text and strings, and the
// frames' file names and details, all go through CopyRun.
#pragma once

#include "KVZDebugLib/KVZDebugLib.h"

#include <stddef.h>
#include <stdint.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#define KVZ_NO_MEMORY_CHECKS __attribute__((no_sanitize("address", "thread")))
#else
#define KVZ_NO_MEMORY_CHECKS
#endif

namespace kvz {

// Copies the units of text[0..most) that come before the first 0 (or, with kStop, the
// first `stop`), and returns how many it copied. With `out` null it only counts.
//
// With SSE2 it reads blocks of 8 units (16 bytes) wherever it lies, but only a block that
// does not cross into another page: the page the block starts in holds the unit at its
// start, which is text, so the whole block can be read without a fault. The units past a
// terminator are looked at and never used, which is why the address and thread checkers
// are told to leave this one function alone.
//
// Up to 31 units past the end of the run may be written, inside out[0..most): they are
// the caller's to overwrite with what follows the run, or to leave past the terminator.
// That is done only when the text does not lie in out[0..most). Where it does (a hook that
// hands MessageBuffer back to _DebugOutput as its format), nothing past the run is written,
// every block is read before it is stored and blocks go in order, so the text comes out
// as a forward copy would make it.
#if defined(__SSE2__)
namespace runs {

// The helpers go inline into CopyRun, whose speed is the formatter's.
#define KVZ_RUN_STEP KVZ_NO_MEMORY_CHECKS inline __attribute__((always_inline))

// What a helper returns when the run goes on past what it looked at.
constexpr size_t kGoesOn = SIZE_MAX;

// A mask of 16 bits, one a unit, of the units in a and b that end the run.
template <bool kStop> KVZ_RUN_STEP unsigned EndMask(__m128i a, __m128i b, __m128i stops) {
    const __m128i zeros = _mm_setzero_si128();
    __m128i ha = _mm_cmpeq_epi16(a, zeros);
    __m128i hb = _mm_cmpeq_epi16(b, zeros);
    if (kStop) {
        ha = _mm_or_si128(ha, _mm_cmpeq_epi16(a, stops));
        hb = _mm_or_si128(hb, _mm_cmpeq_epi16(b, stops));
    }
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(ha, hb)));
}

// The first two blocks on their own, as most runs are short: the run's end, or kGoesOn
// with *i past them (or left at 0 when out and the text meet and the run ends there).
template <bool kStop>
KVZ_RUN_STEP size_t CopyHead(KVZChar *out, const KVZChar *text, bool apart, __m128i stops,
                             size_t *i) {
    const __m128i *at = reinterpret_cast<const __m128i *>(text);
    __m128i a = _mm_loadu_si128(at);
    __m128i b = _mm_loadu_si128(at + 1);
    unsigned mask = EndMask<kStop>(a, b, stops);
    if (mask != 0 && !apart) {
        return kGoesOn; // the slower steps below copy no further than the run
    }
    if (out != nullptr) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), a);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out) + 1, b);
    }
    if (mask != 0) {
        return static_cast<size_t>(__builtin_ctz(mask));
    }
    *i = 16;
    return kGoesOn;
}

// A block would cross a page: the units up to the page's end, one by one.
template <bool kStop>
KVZ_RUN_STEP size_t CopyToPageEnd(KVZChar *out, const KVZChar *text, KVZChar stop, uintptr_t inPage,
                                  size_t *i) {
    size_t last = *i + (4096u - inPage) / 2u;
    for (; *i < last; ++*i) {
        KVZChar unit = text[*i];
        if (unit == 0 || (kStop && unit == stop)) {
            return *i;
        }
        if (out != nullptr) {
            out[*i] = unit;
        }
    }
    return kGoesOn;
}

// Four blocks at once, in one page and inside out[0..most): one 32-bit mask, a bit a
// unit, says where the run ends.
template <bool kStop>
KVZ_RUN_STEP size_t CopyFour(KVZChar *out, const KVZChar *text, bool apart, __m128i stops,
                             size_t *i) {
    const __m128i *at = reinterpret_cast<const __m128i *>(text + *i);
    __m128i a = _mm_loadu_si128(at);
    __m128i b = _mm_loadu_si128(at + 1);
    __m128i c = _mm_loadu_si128(at + 2);
    __m128i d = _mm_loadu_si128(at + 3);
    uint32_t mask = EndMask<kStop>(a, b, stops) | EndMask<kStop>(c, d, stops) << 16;
    if (mask == 0 || apart) {
        if (out != nullptr) {
            __m128i *to = reinterpret_cast<__m128i *>(out + *i);
            _mm_storeu_si128(to, a);
            _mm_storeu_si128(to + 1, b);
            _mm_storeu_si128(to + 2, c);
            _mm_storeu_si128(to + 3, d);
        }
        if (mask == 0) {
            *i += 32;
            return kGoesOn;
        }
        return *i + static_cast<size_t>(__builtin_ctz(mask));
    }
    // Where out and the text meet: whole blocks up to the end, then units.
    size_t end = *i + static_cast<size_t>(__builtin_ctz(mask));
    if (out != nullptr) {
        for (; end - *i >= 8; *i += 8) {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + *i),
                             _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + *i)));
        }
        for (; *i < end; ++*i) {
            out[*i] = text[*i];
        }
    }
    return end;
}

// One block.
template <bool kStop>
KVZ_RUN_STEP size_t CopyOne(KVZChar *out, const KVZChar *text, __m128i stops, size_t *i) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + *i));
    __m128i hits = _mm_cmpeq_epi16(block, _mm_setzero_si128());
    if (kStop) {
        hits = _mm_or_si128(hits, _mm_cmpeq_epi16(block, stops));
    }
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
    if (mask != 0) {
        size_t end = *i + static_cast<size_t>(__builtin_ctz(mask)) / 2;
        if (out != nullptr) {
            for (; *i < end; ++*i) {
                out[*i] = text[*i];
            }
        }
        return end;
    }
    if (out != nullptr) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + *i), block);
    }
    *i += 8;
    return kGoesOn;
}

} // namespace runs
#endif

template <bool kStop>
KVZ_NO_MEMORY_CHECKS inline size_t CopyRun(KVZChar *out, const KVZChar *text, size_t most,
                                           KVZChar stop) {
    size_t i = 0;
#if defined(__SSE2__)
    // Where the text and out[0..most) do not meet, whole blocks may be stored even past
    // the run's end (inside out[0..most), for the caller to overwrite); where they meet,
    // nothing past the run is written.
    const uintptr_t textAt = reinterpret_cast<uintptr_t>(text);
    const uintptr_t outAt = reinterpret_cast<uintptr_t>(out);
    const uintptr_t span = most * sizeof(KVZChar);
    const bool apart = outAt + span <= textAt || textAt + span <= outAt;
    const __m128i stops = _mm_set1_epi16(static_cast<short>(stop));
    size_t end = runs::kGoesOn;
    if (most >= 16 && (textAt & 4095u) <= 4096u - 32u) {
        end = runs::CopyHead<kStop>(out, text, apart, stops, &i);
    }
    while (end == runs::kGoesOn && most - i >= 8) {
        uintptr_t inPage = reinterpret_cast<uintptr_t>(text + i) & 4095u;
        if (inPage > 4096u - 16u) {
            end = runs::CopyToPageEnd<kStop>(out, text, stop, inPage, &i);
        } else if (inPage <= 4096u - 64u && most - i >= 32) {
            end = runs::CopyFour<kStop>(out, text, apart, stops, &i);
        } else {
            end = runs::CopyOne<kStop>(out, text, stops, &i);
        }
    }
    if (end != runs::kGoesOn) {
        return end;
    }
#endif
    for (; i < most; ++i) {
        KVZChar unit = text[i];
        if (unit == 0 || (kStop && unit == stop)) {
            break;
        }
        if (out != nullptr) {
            out[i] = unit;
        }
    }
    return i;
}

} // namespace kvz
