// The prompts' frames as a host sees them, for the tests that check whole box texts.
#pragma once

#include <string>

namespace kvz::testing {

const std::u16string kDebugClosing = u"\n Press OK to continue or CANCEL to debug.";
const std::u16string kReleaseClosing = u"\n Press OK to continue or CANCEL to report this error.";
const std::u16string kFinalClosing = u"\n Press OK to continue.";

inline std::u16string BreakText(const std::u16string &file, const std::u16string &line) {
    return u"A debug breakpoint was hit in " + file + u", line " + line +
           u".\nThis indicates a condition that should not occur.\nPlease notify a programmer "
           u"of this. Press OK to continue or CANCEL to report.";
}

} // namespace kvz::testing
