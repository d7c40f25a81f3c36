// Values the text code shares, each stated once.
#pragma once

#include "KVZDebugLib/KVZDebugLib.h"

#include <stdint.h>

namespace kvz {

// What a null string argument shows, as 16-bit and as narrow text.
inline constexpr KVZChar kNullText[] = KVZ_TEXT("(null)");
inline constexpr char kNullNarrowText[] = "(null)";

// UTF-16 surrogates: a high one (D800-DBFF) followed by a low one (DC00-DFFF) stands for
// one character from U+10000 up.
inline constexpr bool IsHighSurrogate(uint32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
inline constexpr bool IsLowSurrogate(uint32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}
inline constexpr uint32_t CombineSurrogates(uint32_t high, uint32_t low) {
    return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}
inline constexpr KVZChar HighSurrogateOf(uint32_t code) {
    return static_cast<KVZChar>(0xD800 + ((code - 0x10000) >> 10));
}
inline constexpr KVZChar LowSurrogateOf(uint32_t code) {
    return static_cast<KVZChar>(0xDC00 + ((code - 0x10000) & 0x3FF));
}

// 10^0 up to 10^19, every power of ten a uint64_t holds.
inline constexpr uint64_t kPowersOfTen[] = {1u,
                                            10u,
                                            100u,
                                            1000u,
                                            10000u,
                                            100000u,
                                            1000000u,
                                            10000000u,
                                            100000000u,
                                            1000000000u,
                                            10000000000u,
                                            100000000000u,
                                            1000000000000u,
                                            10000000000000u,
                                            100000000000000u,
                                            1000000000000000u,
                                            10000000000000000u,
                                            100000000000000000u,
                                            1000000000000000000u,
                                            10000000000000000000u};

} // namespace kvz
