#include "KVZDebugLib/platform/dialog/DialogBidi.h"

#include "KVZDebugLib/platform/dialog/DialogLayout.h"
#include "KVZDebugLib/platform/dialog/DialogLibrary.h"

namespace kvz::platform {

namespace {

bool IsDigit(uint32_t code) {
    return (code >= '0' && code <= '9') || (code >= 0x0660 && code <= 0x0669) ||
           (code >= 0x06F0 && code <= 0x06F9);
}

// Spaces, punctuation and symbols: they take the direction of the text around them.
bool IsNeutral(uint32_t code) {
    const bool asciiLetter = (code | 0x20) >= 'a' && (code | 0x20) <= 'z';
    return (code < 0x80 && !asciiLetter && !IsDigit(code)) || (code >= 0x80 && code < 0xC0) ||
           (code >= 0x2000 && code <= 0x2BFF) || (code >= 0x3000 && code <= 0x303F);
}

// The longest text FriBidi is given at once: a paragraph of the box.
constexpr int kMaxParagraph = 1024;

uint8_t FullLevels(const FribidiFunctions &fribidi, const uint32_t *codes, int count,
                   uint8_t *levels) {
    FriBidiCharType types[kMaxParagraph];
    FriBidiBracketType brackets[kMaxParagraph];
    FriBidiLevel resolved[kMaxParagraph];
    fribidi.fribidi_get_bidi_types(codes, count, types);
    fribidi.fribidi_get_bracket_types(codes, count, types, brackets);
    FriBidiParType direction = FRIBIDI_PAR_ON; // from the paragraph's first strong letter
    if (fribidi.fribidi_get_par_embedding_levels_ex(types, brackets, count, &direction, resolved) ==
        0) {
        SimpleLevels(codes, count, levels); // FriBidi could not allocate
        return 0;
    }
    for (int i = 0; i < count; ++i) {
        levels[i] = static_cast<uint8_t>(resolved[i]);
    }
    return FRIBIDI_IS_RTL(direction) ? 1 : 0;
}

// Turns runs[from, to) round.
void Reverse(LevelRun *runs, int from, int to) {
    for (--to; from < to; ++from, --to) {
        const LevelRun swap = runs[from];
        runs[from] = runs[to];
        runs[to] = swap;
    }
}

bool IsLineEndSpace(uint32_t code) {
    return code == ' ' || code == 0x3000 || (code >= 0x2000 && code <= 0x200A);
}

} // namespace

bool IsRightToLeft(uint32_t code) {
    return (code >= 0x0590 && code <= 0x08FF && !IsDigit(code)) ||
           (code >= 0xFB1D && code <= 0xFDFF) || (code >= 0xFE70 && code <= 0xFEFF) ||
           (code >= 0x10800 && code <= 0x10FFF) || (code >= 0x1E800 && code <= 0x1EFFF);
}

void SimpleLevels(const uint32_t *codes, int count, uint8_t *levels) {
    for (int i = 0; i < count; ++i) {
        levels[i] = 0;
    }
    for (int i = 0; i < count;) {
        if (!IsRightToLeft(codes[i])) {
            ++i;
            continue;
        }
        // The run goes on over right-to-left letters, marks and digits, and over neutrals
        // only as far as another of those follows.
        int last = i + 1;
        for (int j = i + 1; j < count; ++j) {
            const uint32_t code = codes[j];
            if (IsRightToLeft(code) || IsCombiningMark(code) || IsDigit(code)) {
                last = j + 1;
            } else if (!IsNeutral(code)) {
                break;
            }
        }
        for (; i < last; ++i) {
            levels[i] = IsDigit(codes[i]) ? 2 : 1;
        }
    }
}

uint8_t ParagraphLevels(const uint32_t *codes, int count, bool full, uint8_t *levels) {
    const FribidiFunctions *fribidi = full && count > 0 ? LoadFribidi() : nullptr;
    if (fribidi == nullptr || count > kMaxParagraph) {
        SimpleLevels(codes, count, levels);
        return 0;
    }
    return FullLevels(*fribidi, codes, count, levels);
}

bool HaveFullBidi() {
    return LoadFribidi() != nullptr;
}

uint32_t MirroredCharacter(uint32_t code) {
    const FribidiFunctions *fribidi = LoadFribidi();
    FriBidiChar mirrored = code;
    if (fribidi != nullptr && fribidi->fribidi_get_mirror_char(code, &mirrored) != 0) {
        return mirrored;
    }
    return code;
}

int LineRuns(const uint32_t *codes, const uint8_t *levels, int start, int count, uint8_t base,
             LevelRun *runs) {
    int end = start + count;
    while (end > start && IsLineEndSpace(codes[end - 1])) {
        --end; // the spaces at the end go at the base level (rule L1)
    }
    int runCount = 0;
    uint8_t highest = base, lowestOdd = 0xFF;
    for (int i = start; i < start + count;) {
        const uint8_t level = i < end ? levels[i] : base;
        int j = i + 1;
        while (j < start + count && (j < end ? levels[j] : base) == level) {
            ++j;
        }
        runs[runCount++] = LevelRun{static_cast<uint16_t>(i), static_cast<uint16_t>(j - i), level};
        highest = level > highest ? level : highest;
        lowestOdd = (level & 1) != 0 && level < lowestOdd ? level : lowestOdd;
        i = j;
    }
    // From the highest level down to the lowest odd one, each stretch of runs at that level
    // or above is turned round (rule L2).
    for (int level = highest; level >= lowestOdd && level > 0; --level) {
        for (int i = 0; i < runCount;) {
            if (runs[i].level < level) {
                ++i;
                continue;
            }
            int j = i;
            while (j < runCount && runs[j].level >= level) {
                ++j;
            }
            Reverse(runs, i, j);
            i = j;
        }
    }
    return runCount;
}

void LineOrder(const uint32_t *codes, const uint8_t *levels, int start, int count, uint8_t base,
               LevelRun *runs, uint16_t *order) {
    const int runCount = LineRuns(codes, levels, start, count, base, runs);
    int out = 0;
    for (int r = 0; r < runCount; ++r) {
        const int from = runs[r].start, to = from + runs[r].count;
        if ((runs[r].level & 1) == 0) {
            for (int i = from; i < to; ++i) {
                order[out++] = static_cast<uint16_t>(i);
            }
            continue;
        }
        // Back to front, each letter with its marks after it.
        for (int end = to; end > from;) {
            int letter = end - 1;
            while (letter > from && IsCombiningMark(codes[letter])) {
                --letter;
            }
            for (int i = letter; i < end; ++i) {
                order[out++] = static_cast<uint16_t>(i);
            }
            end = letter;
        }
    }
}

} // namespace kvz::platform
