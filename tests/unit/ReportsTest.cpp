// Debugger output and the four prompts, against the recording platform.
#include "ExpectedFrames.h"
#include "RecordingPlatform.h"

#include "KVZDebugLib/KVZDebugLib.h"
#include "KVZDebugLib/ReportState.h"
#include "KVZDebugLib/text/Format.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <future>
#include <string>
#include <thread>

namespace {

using kvz::g_ReportState;
using kvz::platform::BoxOk;
using kvz::platform::BoxOkCancel;
using kvz::recording::Event;
using kvz::recording::EventKind;
using std::u16string;

using kvz::testing::BreakText;
using kvz::testing::kDebugClosing;
using kvz::testing::kFinalClosing;
using kvz::testing::kReleaseClosing;

class Reports : public ::testing::Test {
  protected:
    void SetUp() override { kvz::recording::Reset(); }
    void TearDown() override { kvz::recording::Reset(); }

    static Event OnlyBox() {
        auto events = kvz::recording::Events();
        EXPECT_EQ(events.size(), 1u);
        if (events.empty() || events.back().kind != EventKind::Box) {
            ADD_FAILURE() << "no box was shown";
            return {};
        }
        return events.back();
    }
};

TEST_F(Reports, EachPromptShowsItsFrameCaptionAndButtons) {
    _WarnDebug(u"main.cpp", 42, u"x=%d, name=%s", 5, u"disk");
    Event box = OnlyBox();
    EXPECT_EQ(box.text, u"main.cpp, line 42 : x=5, name=disk" + kDebugClosing);
    EXPECT_EQ(box.caption, u"Assertion Failure");
    EXPECT_EQ(box.buttons, BoxOkCancel);

    kvz::recording::Reset();
    _WarnRelease(u"io.cpp", -3, u"%08X", 0xBEEFu);
    box = OnlyBox();
    EXPECT_EQ(box.text, u"io.cpp, line -3 : 0000BEEF" + kReleaseClosing);
    EXPECT_EQ(box.caption, u"Assertion Failure");
    EXPECT_EQ(box.buttons, BoxOkCancel);

    kvz::recording::Reset();
    _BreakRelease(u"loop.cpp", 7);
    box = OnlyBox();
    EXPECT_EQ(box.text, BreakText(u"loop.cpp", u"7"));
    EXPECT_EQ(box.caption, u"Debug Breakpoint");
    EXPECT_EQ(box.buttons, BoxOkCancel);

    kvz::recording::Reset();
    _WarnFinal(u"closing %d files", 2);
    box = OnlyBox();
    EXPECT_EQ(box.text, u"closing 2 files" + kFinalClosing);
    EXPECT_EQ(box.caption, u"Assertion Failure");
    EXPECT_EQ(box.buttons, BoxOk);
}

TEST_F(Reports, FramesMatchWhatTheFormatterMakesOfThem) {
    struct Row {
        const char16_t *file;
        int32_t line;
        const char16_t *detail;
    } rows[] = {{u"a.cpp", 0, u""},
                {u"dir/b.cpp", INT32_MIN, u"50%% done"},
                {u"", INT32_MAX, u"\u00e9\U0001F600"},
                {u"c%s.cpp", -1, u"%d"}};
    for (const Row &row : rows) {
        char16_t expected[kvz::kMessageBufferSize];
        kvz::FormatText(expected, kvz::kMessageBufferSize,
                        u"%s, line %i : %s\n Press OK to continue or CANCEL to debug.", row.file,
                        row.line, row.detail);
        kvz::recording::Reset();
        _WarnDebug(row.file, row.line, u"%s", row.detail);
        EXPECT_EQ(OnlyBox().text, u16string(expected));

        kvz::FormatText(expected, kvz::kMessageBufferSize,
                        u"A debug breakpoint was hit in %s, line %i.\nThis indicates a condition "
                        u"that should not occur.\nPlease notify a programmer of this. Press OK "
                        u"to continue or CANCEL to report.",
                        row.file, row.line);
        kvz::recording::Reset();
        _BreakRelease(row.file, row.line);
        EXPECT_EQ(OnlyBox().text, u16string(expected));
    }
}

// Any answer to _WarnFinal's one-button box acknowledges it (some systems hand back
// IDCANCEL for Escape or closing there); only a box not shown gives 0.
TEST_F(Reports, AnswersMapToResults) {
    struct Row {
        int32_t box;
        int32_t warnDebug, warnRelease, breakRelease, warnFinal;
    } rows[] = {
        {kvz::platform::kBoxOk, Continue, Continue, Continue, 1},
        {kvz::platform::kBoxCancel, Debug, Report, Report, 1}, // CANCEL, or the box closed
        {kvz::platform::kBoxNotShown, Debug, Report, Report, 0},
        {7, Debug, Report, Report, 1}, // any other answer is not OK
    };
    for (const Row &row : rows) {
        kvz::recording::SetBoxAnswer(row.box);
        EXPECT_EQ(_WarnDebug(u"f", 1, u"d"), row.warnDebug) << row.box;
        EXPECT_EQ(_WarnRelease(u"f", 1, u"d"), row.warnRelease) << row.box;
        EXPECT_EQ(_BreakRelease(u"f", 1), row.breakRelease) << row.box;
        EXPECT_EQ(_WarnFinal(u"d"), row.warnFinal) << row.box;
    }
}

// The safe-mode hook runs between composing and the box, with MessageBuffer itself.
std::u16string g_seen;
const void *g_seenPointer = nullptr;
int g_hookCalls = 0;
int g_eventsAtHook = -1;
int32_t KVZ_CDECL Observe(void *message) {
    ++g_hookCalls;
    g_seenPointer = message;
    g_seen = static_cast<const char16_t *>(message);
    g_eventsAtHook = static_cast<int>(kvz::recording::Events().size());
    return 1234;
}

TEST_F(Reports, SafeModeHookSeesTheComposedMessageBeforeTheBoxAndNoTrapHappens) {
    kvz::recording::SetDebuggerAttached(true);
    _SetEnterSafeModeHandler(Observe);
    auto check = [](auto prompt) {
        g_hookCalls = 0;
        kvz::recording::Reset();
        kvz::recording::SetDebuggerAttached(true);
        _SetEnterSafeModeHandler(Observe);
        prompt();
        auto events = kvz::recording::Events();
        EXPECT_EQ(g_hookCalls, 1);
        EXPECT_EQ(g_seenPointer, static_cast<const void *>(g_ReportState.MessageBuffer));
        EXPECT_EQ(g_eventsAtHook, 0) << "the hook runs before the box";
        ASSERT_EQ(events.size(), 1u) << "a box and no trap";
        EXPECT_EQ(events[0].kind, EventKind::Box);
        EXPECT_EQ(events[0].text, g_seen);
    };
    check([] { _WarnDebug(u"f", 1, u"a"); });
    check([] { _WarnRelease(u"f", 1, u"b"); });
    check([] { _BreakRelease(u"f", 1); });
    check([] { _WarnFinal(u"c"); });
}

TEST_F(Reports, WithNoHookAnAttachedDebuggerStopsBeforeEachBox) {
    kvz::recording::SetDebuggerAttached(true);
    _WarnDebug(u"f", 1, u"a");
    _WarnRelease(u"f", 1, u"b");
    _BreakRelease(u"f", 1);
    _WarnFinal(u"c");
    auto events = kvz::recording::Events();
    ASSERT_EQ(events.size(), 8u);
    for (size_t i = 0; i < events.size(); i += 2) {
        EXPECT_EQ(events[i].kind, EventKind::Trap);
        EXPECT_EQ(events[i + 1].kind, EventKind::Box) << "the box still follows the trap";
    }
}

TEST_F(Reports, NoDebuggerNoHookMeansJustTheBox) {
    _WarnRelease(u"f", 1, u"b");
    OnlyBox();
    EXPECT_EQ(kvz::recording::FlagReads(), 1);
}

int32_t KVZ_CDECL Rewrite(void *message) {
    const char16_t replacement[] = u"rewritten by the host";
    std::copy(std::begin(replacement), std::end(replacement), static_cast<char16_t *>(message));
    return 0;
}
int32_t KVZ_CDECL CallsDebugOutput(void *) {
    _DebugOutput(u"from the hook: %d", 9);
    return 0;
}
int32_t KVZ_CDECL FillsWithoutTerminator(void *message) {
    std::fill_n(static_cast<char16_t *>(message), kvz::kMessageBufferSize, u'z');
    return 0;
}

TEST_F(Reports, ASafeModeHookMayRewriteTheBoxText) {
    _SetEnterSafeModeHandler(Rewrite);
    _WarnDebug(u"f", 1, u"a");
    EXPECT_EQ(OnlyBox().text, u"rewritten by the host");

    kvz::recording::Reset();
    _SetEnterSafeModeHandler(CallsDebugOutput);
    _WarnRelease(u"f", 1, u"b");
    auto events = kvz::recording::Events();
    ASSERT_EQ(events.size(), 2u) << "the hook re-enters the library on the same thread";
    EXPECT_EQ(events[0].kind, EventKind::Output);
    EXPECT_EQ(events[0].text, u"from the hook: 9");
    EXPECT_EQ(events[1].text, u"from the hook: 9") << "the output's text is left in the box";

    kvz::recording::Reset();
    _SetEnterSafeModeHandler(FillsWithoutTerminator);
    _WarnFinal(u"c");
    EXPECT_EQ(OnlyBox().text, u16string(kvz::kMessageBufferSize - 1, u'z'))
        << "the box text is terminated whatever the hook left";
}

int32_t KVZ_CDECL LogsItsMessage(void *message) {
    _DebugOutput(u"safe mode: %s|", static_cast<const KVZChar *>(message));
    return 0;
}
// Waits for another thread's output; that thread must not wait for this hook's report.
int32_t KVZ_CDECL WaitsForAnotherThread(void *) {
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    std::thread other([&done] {
        _DebugOutput(u"from another thread");
        done.set_value();
    });
    if (finished.wait_for(std::chrono::seconds(10)) == std::future_status::ready) {
        other.join();
    } else {
        ADD_FAILURE() << "the other thread's output waited for this report";
        other.detach();
    }
    return 0;
}

TEST_F(Reports, AHookMayLogItsMessageAndWaitForOtherThreads) {
    _SetEnterSafeModeHandler(LogsItsMessage);
    _WarnRelease(u"f.cpp", 7, u"disk %d%%", 97);
    auto events = kvz::recording::Events();
    const u16string message = u"f.cpp, line 7 : disk 97%" + u16string(kReleaseClosing);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].text, u"safe mode: " + message + u"|") << "its argument read whole";
    EXPECT_EQ(events[1].text, events[0].text) << "the output's text is left in the box";

    kvz::recording::Reset();
    _SetEnterSafeModeHandler(WaitsForAnotherThread);
    _WarnFinal(u"waiting");
    events = kvz::recording::Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].text, u"from another thread");
    EXPECT_EQ(events[1].text, u"waiting" + u16string(kFinalClosing))
        << "another thread's output leaves this report's text alone";
}

TEST_F(Reports, BreakReleaseLeavesTheDetailBufferAlone) {
    _WarnDebug(u"f", 1, u"kept %d", 1);
    _BreakRelease(u"g", 2);
    EXPECT_EQ(u16string(g_ReportState.DetailBuffer), u"kept 1");
    _WarnFinal(u"");
    EXPECT_EQ(u16string(g_ReportState.DetailBuffer), u"");
}

TEST_F(Reports, LongTextIsCutDetailFirst) {
    u16string detail(800, u'd');
    _WarnRelease(u"f.cpp", 9, u"%s", detail.c_str());
    EXPECT_EQ(OnlyBox().text, u"f.cpp, line 9 : " + u16string(763, u'd') + kReleaseClosing);

    // A long file name pushes the closing sentence out: the message is cut at 1023.
    kvz::recording::Reset();
    u16string file(1000, u'f');
    _WarnDebug(file.c_str(), 1, u"%s", detail.c_str());
    u16string whole = file + u", line 1 : " + u16string(763, u'd') + kDebugClosing;
    EXPECT_EQ(OnlyBox().text, whole.substr(0, 1023));

    kvz::recording::Reset();
    _BreakRelease(file.c_str(), 1);
    EXPECT_EQ(OnlyBox().text, BreakText(file, u"1").substr(0, 1023));
}

TEST_F(Reports, ACutNeverLeavesHalfASurrogatePair) {
    // 762 units, then a pair that would straddle the detail's last unit.
    u16string detail = u16string(762, u'x') + u"\U0001F600";
    _WarnFinal(u"%s", detail.c_str());
    EXPECT_EQ(u16string(g_ReportState.DetailBuffer), u16string(762, u'x'));

    kvz::recording::Reset();
    // The opening takes 30 units, so the pair falls on units 1022 and 1023.
    u16string file = u16string(992, u'f') + u"\U0001F600";
    _BreakRelease(file.c_str(), 1);
    EXPECT_EQ(OnlyBox().text, u"A debug breakpoint was hit in " + u16string(992, u'f'));
}

TEST_F(Reports, PercentSignsInValuesAreShownAsTheyStand) {
    _WarnRelease(u"100%s.cpp", 5, u"%s", u"50% of %d");
    EXPECT_EQ(OnlyBox().text, u"100%s.cpp, line 5 : 50% of %d" + kReleaseClosing);
}

TEST_F(Reports, WarnFinalWithAnEmptyFormatStartsWithTheFramesLineFeed) {
    _WarnFinal(u"");
    EXPECT_EQ(OnlyBox().text, kFinalClosing);
}

TEST_F(Reports, NullFileNameAndFormatHaveADefinedOutcome) {
    _WarnDebug(nullptr, 3, nullptr);
    EXPECT_EQ(OnlyBox().text, u"(null), line 3 : " + kDebugClosing);
}

TEST_F(Reports, DebugOutputSendsExactlyTheFormattedText) {
    _DebugOutput(u"no conversions, no line feed");
    _DebugOutput(u"%s=%d\n", u"answer", 42);
    _DebugOutput(u"%s", u16string(2000, u'o').c_str());
    auto events = kvz::recording::Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].kind, EventKind::Output);
    EXPECT_EQ(events[0].text, u"no conversions, no line feed");
    EXPECT_EQ(events[1].text, u"answer=42\n");
    EXPECT_EQ(events[2].text, u16string(1023, u'o'));
    EXPECT_EQ(kvz::recording::FlagReads(), 0) << "no hook, no break, no box";
}

TEST_F(Reports, DebugOutputNeverCallsTheSafeModeHook) {
    _SetEnterSafeModeHandler(Observe);
    g_hookCalls = 0;
    _DebugOutput(u"x");
    EXPECT_EQ(g_hookCalls, 0);
}

} // namespace
