#include "KVZDebugLib/platform/dialog/ShownText.h"

#include "KVZDebugLib/text/TextConstants.h"

namespace kvz::platform {

namespace {

bool IsBidiControl(uint32_t code) {
    return code == 0x061C || code == 0x200E || code == 0x200F ||
           (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

} // namespace

uint32_t ShownCharacter(uint32_t code) {
    if (code == '\n' || code == '\t') {
        return code;
    }
    const bool control = code < 0x20 || (code >= 0x7F && code < 0xA0);
    const bool surrogate = IsHighSurrogate(code) || IsLowSurrogate(code);
    return control || surrogate || IsBidiControl(code) ? kShownReplacement : code;
}

} // namespace kvz::platform
