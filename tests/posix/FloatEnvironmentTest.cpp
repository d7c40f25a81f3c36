// Floating-point text with the invalid, divide-by-zero and overflow exceptions unmasked, as
// many engines' debug builds run: nothing is raised (SIGFPE would end the child), no
// exception flag is left set, the control state is as it was, and the text is what it
// is with the exceptions masked.
#include "ChildProcess.h"

#include "KVZDebugLib/KVZDebugLib.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <fenv.h>
#include <string.h>

namespace {

using kvz::testing::ChildOptions;
using kvz::testing::RunChild;

constexpr int kTrapped = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;

// The values: NaN of either sign, the default NaN an invalid operation makes (made while
// the exceptions are masked), the infinities, the largest double and a denormal.
struct Values {
    double all[8];
};

Values MakeValues() {
    volatile double zero = 0.0;
    return Values{
        {NAN, -NAN, zero / zero, INFINITY, -INFINITY, DBL_MAX, -DBL_MAX, DBL_TRUE_MIN * 3}};
}

void WriteEveryValue(const Values &values) {
    for (double value : values.all) {
        _DebugOutput(u"%f|%e|%g|%a|%.3f|%.20e|%E|%G|%A\n", value, value, value, value, value, value,
                     value, value, value);
        _WarnFinal(u"%f %e %g %a", value, value, value, value); // not shown: no terminal
    }
}

TEST(FloatEnvironment, UnmaskedExceptionsAreNeitherRaisedNorLeftSet) {
    ChildOptions options;
    options.withTerminal = false;
    const auto result = RunChild(options, [] {
        const Values values = MakeValues();
        WriteEveryValue(values); // masked, for the text to compare with
        _DebugOutput(u"--\n");
        feclearexcept(FE_ALL_EXCEPT);
        // Some processors cannot trap (AArch64 mostly, and qemu-user): the flags are
        // still checked there.
        const int trapped = feenableexcept(kTrapped) < 0 ? 0 : kTrapped;
        fenv_t before;
        fegetenv(&before);
        WriteEveryValue(values);
        const int raised = fetestexcept(FE_ALL_EXCEPT);
        fenv_t after;
        fegetenv(&after);
        const bool same = fegetexcept() == trapped && fegetround() == FE_TONEAREST &&
                          memcmp(&before, &after, sizeof before) == 0;
        fedisableexcept(trapped);
        return raised != 0 ? 1 : (same ? 0 : 2);
    });
    EXPECT_EQ(result.exitCode, 0) << "1: exception flags left set, 2: control state changed, -1: "
                                     "signalled";
    const std::string &text = result.standardError;
    const size_t separator = text.find("--\n");
    ASSERT_NE(separator, std::string::npos) << text;
    EXPECT_EQ(text.substr(0, separator), text.substr(separator + 3));
    EXPECT_NE(text.find("-nan|-nan|-nan|-nan|"), std::string::npos) << text;
    EXPECT_NE(text.find("inf|inf|inf|inf|"), std::string::npos) << text;
}

} // namespace
