// The setters and the forwarding entry points, against the recording platform.
#include "RecordingPlatform.h"

#include "KVZDebugLib/KVZDebugLib.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <vector>

namespace {

using kvz::recording::EventKind;

struct Call {
    int slot; // 3, 4 or 1: which kind of hook ran
    std::vector<intptr_t> args;
};
std::vector<Call> g_calls;
int32_t g_result = 0;

int32_t KVZ_CDECL RecordThree(intptr_t a, intptr_t b, intptr_t c) {
    g_calls.push_back({3, {a, b, c}});
    return g_result;
}
int32_t KVZ_CDECL RecordFour(intptr_t a, intptr_t b, intptr_t c, intptr_t d) {
    g_calls.push_back({4, {a, b, c, d}});
    return g_result;
}
int32_t KVZ_CDECL RecordOne(void *p) {
    g_calls.push_back({1, {reinterpret_cast<intptr_t>(p)}});
    return g_result;
}
int32_t KVZ_CDECL ReturnSecond(intptr_t, intptr_t b, intptr_t) {
    return static_cast<int32_t>(b);
}

class Hooks : public ::testing::Test {
  protected:
    void SetUp() override {
        kvz::recording::Reset();
        g_calls.clear();
        g_result = 0;
    }
    void TearDown() override { kvz::recording::Reset(); }
};

TEST_F(Hooks, SettersReturnThePointerTheyWereGivenNullIncluded) {
    EXPECT_EQ(_SetAssertionFailedHandler(RecordThree), &RecordThree);
    EXPECT_EQ(_SetAssertionFailedHandler(nullptr), nullptr);
    EXPECT_EQ(_SetAssertionFailedExHandler(RecordFour), &RecordFour);
    EXPECT_EQ(_SetAssertionFailedExHandler(nullptr), nullptr);
    EXPECT_EQ(_SetEnterSafeModeHandler(RecordOne), &RecordOne);
    // Replacing returns the new hook, not the one it replaced.
    EXPECT_EQ(_SetEnterSafeModeHandler(nullptr), nullptr);
    EXPECT_TRUE(g_calls.empty()) << "a setter must call nothing";
}

TEST_F(Hooks, HookResultsAreHandedBackUnchanged) {
    _SetAssertionFailedHandler(RecordThree);
    _SetAssertionFailedExHandler(RecordFour);
    _SetEnterSafeModeHandler(RecordOne);
    for (int32_t result : {0, -1, 1, 2, INT32_MIN, INT32_MAX, 0x12345678}) {
        g_result = result;
        EXPECT_EQ(_AssertFailed(1, 2, 3), result);
        EXPECT_EQ(_AssertFailedEx(1, 2, 3, 4), result);
        EXPECT_EQ(_EnterSafeMode(nullptr), result);
    }
}

TEST_F(Hooks, ArgumentsReachTheHookUnchangedAndInOrder) {
    _SetAssertionFailedHandler(RecordThree);
    _SetAssertionFailedExHandler(RecordFour);
    _SetEnterSafeModeHandler(RecordOne);
    int marker = 0;
    const intptr_t big = INTPTR_MAX;
    const intptr_t small = INTPTR_MIN;
    _AssertFailed(big, -7, small);
    _AssertFailedEx(small, 0, reinterpret_cast<intptr_t>(&marker), big);
    _EnterSafeMode(&marker);
    ASSERT_EQ(g_calls.size(), 3u);
    EXPECT_EQ(g_calls[0].slot, 3);
    EXPECT_EQ(g_calls[0].args, (std::vector<intptr_t>{big, -7, small}));
    EXPECT_EQ(g_calls[1].slot, 4);
    EXPECT_EQ(g_calls[1].args,
              (std::vector<intptr_t>{small, 0, reinterpret_cast<intptr_t>(&marker), big}));
    EXPECT_EQ(g_calls[2].slot, 1);
    EXPECT_EQ(g_calls[2].args, (std::vector<intptr_t>{reinterpret_cast<intptr_t>(&marker)}));

    _SetAssertionFailedHandler(ReturnSecond);
    EXPECT_EQ(_AssertFailed(10, 20, 30), 20);
}

TEST_F(Hooks, SlotsAreIndependent) {
    _SetAssertionFailedHandler(RecordThree);
    EXPECT_EQ(_AssertFailedEx(1, 2, 3, 4), 0);
    EXPECT_EQ(_EnterSafeMode(nullptr), 0);
    EXPECT_TRUE(g_calls.empty());

    _SetAssertionFailedHandler(nullptr);
    _SetAssertionFailedExHandler(RecordFour);
    EXPECT_EQ(_AssertFailed(1, 2, 3), 0);
    EXPECT_EQ(_EnterSafeMode(nullptr), 0);
    EXPECT_TRUE(g_calls.empty());

    _SetAssertionFailedExHandler(nullptr);
    _SetEnterSafeModeHandler(RecordOne);
    EXPECT_EQ(_AssertFailed(1, 2, 3), 0);
    EXPECT_EQ(_AssertFailedEx(1, 2, 3, 4), 0);
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(Hooks, EmptySlotsReturnZeroWithNoTraceAndNoDebugger) {
    EXPECT_EQ(_AssertFailed(1, 2, 3), 0);
    EXPECT_EQ(_AssertFailedEx(1, 2, 3, 4), 0);
    EXPECT_EQ(_EnterSafeMode(reinterpret_cast<void *>(1)), 0);
    EXPECT_TRUE(kvz::recording::Events().empty());
    EXPECT_EQ(kvz::recording::FlagReads(), 3) << "the flag is read afresh at every call";
}

TEST_F(Hooks, EmptySlotsTrapOnceEachWhenADebuggerIsAttached) {
    kvz::recording::SetDebuggerAttached(true);
    EXPECT_EQ(_AssertFailed(1, 2, 3), 0);
    EXPECT_EQ(_AssertFailedEx(1, 2, 3, 4), 0);
    EXPECT_EQ(_EnterSafeMode(nullptr), 0);
    auto events = kvz::recording::Events();
    ASSERT_EQ(events.size(), 3u);
    for (const auto &event : events) {
        EXPECT_EQ(event.kind, EventKind::Trap);
    }
}

TEST_F(Hooks, InstalledHooksNeverTrapEvenWithADebugger) {
    kvz::recording::SetDebuggerAttached(true);
    _SetAssertionFailedHandler(RecordThree);
    _SetAssertionFailedExHandler(RecordFour);
    _SetEnterSafeModeHandler(RecordOne);
    _AssertFailed(1, 2, 3);
    _AssertFailedEx(1, 2, 3, 4);
    _EnterSafeMode(nullptr);
    EXPECT_EQ(g_calls.size(), 3u);
    EXPECT_TRUE(kvz::recording::Events().empty());
    EXPECT_EQ(kvz::recording::FlagReads(), 0);
}

TEST_F(Hooks, NullBringsTheDebuggerFallbackBack) {
    kvz::recording::SetDebuggerAttached(true);
    _SetAssertionFailedHandler(RecordThree);
    _AssertFailed(1, 2, 3);
    EXPECT_TRUE(kvz::recording::Events().empty());
    _SetAssertionFailedHandler(nullptr);
    g_result = 99;
    EXPECT_EQ(_AssertFailed(1, 2, 3), 0);
    ASSERT_EQ(kvz::recording::Events().size(), 1u);
    EXPECT_EQ(kvz::recording::Events()[0].kind, EventKind::Trap);
    EXPECT_EQ(g_calls.size(), 1u);
}

TEST_F(Hooks, ADebuggerAttachedLaterIsNoticedByTheNextCall) {
    EXPECT_EQ(_EnterSafeMode(nullptr), 0);
    EXPECT_TRUE(kvz::recording::Events().empty());
    kvz::recording::SetDebuggerAttached(true);
    EXPECT_EQ(_EnterSafeMode(nullptr), 0);
    EXPECT_EQ(kvz::recording::Events().size(), 1u);
}

// A hook that changes its own slot while it runs still runs to its end; the next call
// sees the new contents.
int g_replacedRuns = 0;
int32_t KVZ_CDECL Replacement(intptr_t, intptr_t, intptr_t) {
    return 2000;
}
int32_t KVZ_CDECL ReplacesItself(intptr_t, intptr_t, intptr_t) {
    _SetAssertionFailedHandler(Replacement);
    ++g_replacedRuns;
    return 1000;
}
int32_t KVZ_CDECL EmptiesItself(void *) {
    _SetEnterSafeModeHandler(nullptr);
    ++g_replacedRuns;
    return 7;
}

TEST_F(Hooks, AHookThatReplacesOrEmptiesItsOwnSlotRunsToItsEnd) {
    _SetAssertionFailedHandler(ReplacesItself);
    EXPECT_EQ(_AssertFailed(0, 0, 0), 1000);
    EXPECT_EQ(_AssertFailed(0, 0, 0), 2000);
    EXPECT_EQ(g_replacedRuns, 1);

    kvz::recording::SetDebuggerAttached(true);
    _SetEnterSafeModeHandler(EmptiesItself);
    EXPECT_EQ(_EnterSafeMode(nullptr), 7);
    EXPECT_TRUE(kvz::recording::Events().empty());
    EXPECT_EQ(_EnterSafeMode(nullptr), 0);
    EXPECT_EQ(kvz::recording::Events().size(), 1u) << "the emptied slot falls back on the trap";
    EXPECT_EQ(g_replacedRuns, 2);
}

} // namespace
