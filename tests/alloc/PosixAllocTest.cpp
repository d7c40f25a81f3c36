// The real module's POSIX paths: debugger output through a pipe, the debugger check,
// prompts with no terminal and no display, and prompts answered on a pseudo-terminal.
// Each case runs in a child process of its own, so every export is called there for the
// first time; the child reports the allocations it counted through its exit code.
#include "../posix/ChildProcess.h"
#include "CountingAllocator.h"
#include "EveryExport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using kvz::testing::ChildOptions;
using kvz::testing::ChildResult;
using kvz::testing::RunChild;

constexpr int kCountingNotInPlace = 99;

// The child's exit code: the allocations counted (at most 98), or 99 when a deliberate
// allocation was not counted, so that a count of 0 means something.
int CountIn(long (*body)()) {
    kvz::alloc::StartCounting();
    body();
    long allocations = kvz::alloc::StopCounting();
    if (kvz::alloc::CountedDeliberateAllocations() != kvz::alloc::kDeliberateAllocations) {
        return kCountingNotInPlace;
    }
    return allocations < 98 ? static_cast<int>(allocations) : 98;
}

void Expect(const ChildResult &result, const char *what) {
    EXPECT_NE(result.exitCode, kCountingNotInPlace) << what << ": the counting was not in place";
    EXPECT_EQ(result.exitCode, 0) << what << ": allocations counted (or -1: the child died)\n"
                                  << result.terminal << result.standardError;
    std::cout << what << ": " << result.exitCode << " allocations\n";
}

TEST(NoAllocation, TheCountingIsInPlace) {
    EXPECT_EQ(kvz::alloc::CountedDeliberateAllocations(), kvz::alloc::kDeliberateAllocations);
    // And in a child, where the exports run.
    ChildOptions options;
    options.withTerminal = false;
    ChildResult result = RunChild(options, [] {
        kvz::alloc::StartCounting();
        void *(*volatile allocate)(size_t) = malloc;
        free(allocate(10));
        return static_cast<int>(kvz::alloc::StopCounting());
    });
    EXPECT_EQ(result.exitCode, 1);
}

TEST(NoAllocation, EveryExportHeadlessFromItsFirstCall) {
    ChildOptions options;
    options.withTerminal = false; // no terminal, no DISPLAY: prompts answer at once
    ChildResult result = RunChild(options, [] { return CountIn(kvz::alloc::RunEveryExport); });
    Expect(result, "every export, headless");
    // The output really went out, through the real write to standard error.
    EXPECT_NE(
        result.standardError.find("wide|wide|wide|narrow \xc3\xa9|narrow|c|C|\xe2\x82\xac|h|"),
        std::string::npos)
        << result.standardError;
}

TEST(NoAllocation, EachPromptOnATerminalFromItsFirstCall) {
    struct Case {
        const char *what;
        long (*prompt)();
    } cases[] = {
        {"_WarnDebug on a terminal", [] { return long{_WarnDebug(u"alloc.cpp", 1, u"%d", 1)}; }},
        {"_WarnRelease on a terminal",
         [] { return long{_WarnRelease(u"alloc.cpp", 2, u"%s", u"x")}; }},
        {"_BreakRelease on a terminal", [] { return long{_BreakRelease(u"alloc.cpp", 3)}; }},
        {"_WarnFinal on a terminal", [] { return long{_WarnFinal(u"%g", 0.25)}; }},
    };
    for (const Case &c : cases) {
        ChildOptions options;
        options.turns = {{"o"}};
        static long (*prompt)();
        prompt = c.prompt;
        ChildResult result = RunChild(options, [] { return CountIn(prompt); });
        Expect(result, c.what);
        EXPECT_NE(result.terminal.find("Press OK"), std::string::npos)
            << c.what << ": the prompt was not shown\n"
            << result.terminal;
    }
}

} // namespace
