// Odd and hostile input through the exports, each row with the outcome the library
// promises for it (docs/reliability.md lists them). Around every call the two buffers of
// the report state are filled with a canary and the slots after them hold sentinel hooks,
// so a write past either buffer shows up even where the sanitizers cannot see it (inside
// the one record); every buffer must be terminated, and every call must end promptly.
#include "ExpectedFrames.h"
#include "RecordingPlatform.h"

#include "KVZDebugLib/KVZDebugLib.h"
#include "KVZDebugLib/ReportState.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using kvz::g_ReportState;
using kvz::kDetailBufferSize;
using kvz::kMessageBufferSize;
using kvz::recording::EventKind;
using std::u16string;

using kvz::testing::BreakText;
using kvz::testing::kDebugClosing;
using kvz::testing::kFinalClosing;
using kvz::testing::kReleaseClosing;

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

// What a buffer of `capacity` units keeps of a text: the start of it, and when something
// was cut, not a high surrogate left last.
u16string Cut(const u16string &text, size_t capacity) {
    if (text.size() <= capacity - 1) {
        return text;
    }
    u16string kept = text.substr(0, capacity - 1);
    if (IsHighSurrogate(kept.back())) {
        kept.pop_back();
    }
    return kept;
}

// The outcome of one call: the one output or box it makes, the prompt's result, and the
// detail it leaves in DetailBuffer (none for _DebugOutput and _BreakRelease, which must
// not touch it).
struct Outcome {
    EventKind kind;
    u16string text;
    int32_t result = 0;
    std::optional<u16string> detail;
};

Outcome Output(const u16string &text) {
    return {EventKind::Output, Cut(text, kMessageBufferSize), 0, std::nullopt};
}
// A box for a prompt with a detail: the detail is cut first, then the message.
Outcome WarnDebugBox(const u16string &file, const u16string &line, const u16string &detail) {
    u16string cutDetail = Cut(detail, kDetailBufferSize);
    return {EventKind::Box,
            Cut(file + u", line " + line + u" : " + cutDetail + kDebugClosing, kMessageBufferSize),
            Continue, cutDetail};
}
Outcome WarnReleaseBox(const u16string &file, const u16string &line, const u16string &detail) {
    u16string cutDetail = Cut(detail, kDetailBufferSize);
    return {
        EventKind::Box,
        Cut(file + u", line " + line + u" : " + cutDetail + kReleaseClosing, kMessageBufferSize),
        Continue, cutDetail};
}
Outcome WarnFinalBox(const u16string &detail) {
    u16string cutDetail = Cut(detail, kDetailBufferSize);
    return {EventKind::Box, Cut(cutDetail + kFinalClosing, kMessageBufferSize), 1, cutDetail};
}
Outcome BreakBox(const u16string &file, const u16string &line) {
    return {EventKind::Box, Cut(BreakText(file, line), kMessageBufferSize), Continue, std::nullopt};
}

struct Row {
    std::string input; // what is odd about it
    std::function<int32_t()> call;
    Outcome expected;
};

constexpr char16_t kCanary = 0xA5A5;

int32_t KVZ_CDECL SentinelThree(intptr_t, intptr_t, intptr_t) {
    ADD_FAILURE() << "the sentinel assertion hook was called";
    return 0;
}
int32_t KVZ_CDECL SentinelFour(intptr_t, intptr_t, intptr_t, intptr_t) {
    ADD_FAILURE() << "the sentinel extended assertion hook was called";
    return 0;
}

bool Terminated(const char16_t *buffer, size_t capacity) {
    for (size_t i = 0; i < capacity; ++i) {
        if (buffer[i] == 0) {
            return true;
        }
    }
    return false;
}

// Bounded, not timed: a generous limit that only a hang or a walk over a huge width or
// argument would pass.
constexpr auto kCallBound = std::chrono::seconds(10);

void RunRow(const Row &row) {
    SCOPED_TRACE(row.input);
    kvz::recording::Reset();
    std::fill(std::begin(g_ReportState.MessageBuffer), std::end(g_ReportState.MessageBuffer),
              kCanary);
    std::fill(std::begin(g_ReportState.DetailBuffer), std::end(g_ReportState.DetailBuffer),
              kCanary);
    // The slots follow DetailBuffer in the record: a write past its end lands here first.
    _SetAssertionFailedHandler(SentinelThree);
    _SetAssertionFailedExHandler(SentinelFour);

    auto start = std::chrono::steady_clock::now();
    int32_t result = row.call();
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, kCallBound) << "the call did not end promptly";

    EXPECT_EQ(g_ReportState.AssertionFailed.load(), &SentinelThree) << "written past DetailBuffer";
    EXPECT_EQ(g_ReportState.AssertionFailedEx.load(), &SentinelFour) << "written past DetailBuffer";
    ASSERT_TRUE(Terminated(g_ReportState.MessageBuffer, kMessageBufferSize))
        << "MessageBuffer is not terminated";
    if (row.expected.detail) {
        ASSERT_TRUE(Terminated(g_ReportState.DetailBuffer, kDetailBufferSize))
            << "DetailBuffer is not terminated";
        EXPECT_EQ(u16string(g_ReportState.DetailBuffer), *row.expected.detail);
    } else {
        // _DebugOutput and _BreakRelease leave it alone: an overrun of MessageBuffer, which
        // comes just before it, would show here.
        for (size_t i = 0; i < kDetailBufferSize; ++i) {
            ASSERT_EQ(g_ReportState.DetailBuffer[i], kCanary) << "DetailBuffer touched at " << i;
        }
    }

    auto events = kvz::recording::Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, row.expected.kind);
    EXPECT_EQ(events[0].text, row.expected.text);
    if (row.expected.kind == EventKind::Output) {
        EXPECT_EQ(u16string(g_ReportState.MessageBuffer), row.expected.text);
    } else {
        EXPECT_EQ(result, row.expected.result);
    }
}

// %n targets: the rows check that nothing was written through them.
int g_nInt = 12345;
short g_nShort = 123;
long long g_nLong = 1234567;
signed char g_nChar = 12;

int32_t CheckNTargets() {
    EXPECT_EQ(g_nInt, 12345);
    EXPECT_EQ(g_nShort, 123);
    EXPECT_EQ(g_nLong, 1234567);
    EXPECT_EQ(g_nChar, 12);
    return 0;
}

const u16string &BigWide() {
    static const u16string text(10 * 1024 * 1024, u'w');
    return text;
}
const std::string &BigNarrow() {
    static const std::string text(10 * 1024 * 1024, 'n');
    return text;
}

std::vector<Row> FixedRows() {
    const char16_t *noText = nullptr;
    const char *noNarrow = nullptr;
    const u16string spaces(1023, u' ');
    return {
        // A null format yields empty text.
        {"null format, output",
         [] {
             _DebugOutput(nullptr);
             return 0;
         },
         Output(u"")},
        {"null format, _WarnDebug", [] { return _WarnDebug(u"f.cpp", 1, nullptr); },
         WarnDebugBox(u"f.cpp", u"1", u"")},
        {"null format, _WarnFinal", [] { return _WarnFinal(nullptr); }, WarnFinalBox(u"")},
        // A null file name prints "(null)".
        {"null file name, _WarnRelease", [] { return _WarnRelease(nullptr, 5, u"x"); },
         WarnReleaseBox(u"(null)", u"5", u"x")},
        {"null file name, _BreakRelease", [] { return _BreakRelease(nullptr, 5); },
         BreakBox(u"(null)", u"5")},
        {"null file name and format", [] { return _WarnDebug(nullptr, 0, nullptr); },
         WarnDebugBox(u"(null)", u"0", u"")},
        // A null string argument prints "(null)", cut by a precision like any string.
        {"null %s arguments",
         [=] {
             _DebugOutput(u"[%s][%.3s][%8s][%-8s][%ls][%ws][%S][%hs][%.2S]", noText, noText, noText,
                          noText, noText, noText, noNarrow, noNarrow, noNarrow);
             return 0;
         },
         Output(u"[(null)][(nu][  (null)][(null)  ][(null)][(null)][(null)][(null)][(n]")},
        {"null %s argument in a detail", [=] { return _WarnFinal(u"<%s>", noText); },
         WarnFinalBox(u"<(null)>")},
        // %n takes its pointer, writes nothing through it and prints nothing.
        {"%n of every size",
         [] {
             _DebugOutput(u"a%nb%hn%lln%hhn%d", &g_nInt, &g_nShort, &g_nLong, &g_nChar, 7);
             return CheckNTargets();
         },
         Output(u"ab7")},
        {"%n in a detail",
         [] {
             int32_t result = _WarnRelease(u"f", 2, u"%n%n%s", &g_nInt, &g_nInt, u"x");
             CheckNTargets();
             return result;
         },
         WarnReleaseBox(u"f", u"2", u"x")},
        {"%n with a null pointer",
         [] {
             _DebugOutput(u"[%n]", nullptr);
             return 0;
         },
         Output(u"[]")},
        // Huge widths and precisions cost the room left and fill it.
        {"width 10^9",
         [] {
             _DebugOutput(u"%1000000000d", 5);
             return 0;
         },
         Output(spaces)},
        {"width 10^9, left-justified",
         [] {
             _DebugOutput(u"%-1000000000d|", 5);
             return 0;
         },
         Output(u"5" + spaces)},
        {"precision 10^9",
         [] {
             _DebugOutput(u"%.1000000000d", 5);
             return 0;
         },
         Output(u16string(1023, u'0'))},
        {"precision 10^9 on a short string",
         [] {
             _DebugOutput(u"%.1000000000s|", u"abc");
             return 0;
         },
         Output(u"abc|")},
        {"width and precision 10^9 on a float",
         [] {
             _DebugOutput(u"%1000000000.1000000000f", 1.5);
             return 0;
         },
         Output(spaces)},
        {"width beyond INT_MAX",
         [] {
             _DebugOutput(u"%99999999999999999999d", 5);
             return 0;
         },
         Output(spaces)},
        {"width 10^9 in a detail", [] { return _WarnDebug(u"f", 1, u"%1000000000s", u"x"); },
         WarnDebugBox(u"f", u"1", u16string(2000, u' '))},
        // * with a negative width left-justifies; a negative precision counts as none.
        {"* width -6",
         [] {
             _DebugOutput(u"[%*d]", -6, 42);
             return 0;
         },
         Output(u"[42    ]")},
        {"* precision -3",
         [] {
             _DebugOutput(u"[%.*d]", -3, 42);
             return 0;
         },
         Output(u"[42]")},
        {"* width and precision negative on a string",
         [] {
             _DebugOutput(u"[%*.*s]", -6, -1, u"ab");
             return 0;
         },
         Output(u"[ab    ]")},
        {"* width INT_MIN",
         [] {
             _DebugOutput(u"[%*d]", INT_MIN, 7);
             return 0;
         },
         Output(u"[7" + spaces)},
        {"* precision INT_MIN on a float",
         [] {
             _DebugOutput(u"[%.*f]", INT_MIN, 1.5);
             return 0;
         },
         Output(u"[1.500000]")},
        {"* width INT_MAX",
         [] {
             _DebugOutput(u"%*s", INT_MAX, u"x");
             return 0;
         },
         Output(spaces)},
        // An unknown conversion shows as it stands; a * in it has taken its argument.
        {"unknown conversions",
         [] {
             _DebugOutput(u"%y|%-08.3k|%*q|%d", 5, 6);
             return 0;
         },
         Output(u"%y|%-08.3k|%*q|6")},
        {"unknown conversions in a detail", [] { return _WarnRelease(u"f", 1, u"%Z%v%d", 3); },
         WarnReleaseBox(u"f", u"1", u"%Z%v3")},
        // A format that ends inside a conversion prints nothing for it.
        {"format ending in %",
         [] {
             _DebugOutput(u"100%");
             return 0;
         },
         Output(u"100")},
        {"format that is only %",
         [] {
             _DebugOutput(u"%");
             return 0;
         },
         Output(u"")},
        {"format ending in %-08.3",
         [] {
             _DebugOutput(u"abc%-08.3");
             return 0;
         },
         Output(u"abc")},
        {"format ending in %l",
         [] {
             _DebugOutput(u"x%l");
             return 0;
         },
         Output(u"x")},
        {"detail ending in %", [] { return _WarnFinal(u"end%"); }, WarnFinalBox(u"end")},
        // A 10 MB argument costs no more than the buffer.
        {"10 MB %s",
         [] {
             _DebugOutput(u"%s", BigWide().c_str());
             return 0;
         },
         Output(u16string(1023, u'w'))},
        {"10 MB %S",
         [] {
             _DebugOutput(u"%S", BigNarrow().c_str());
             return 0;
         },
         Output(u16string(1023, u'n'))},
        {"10 MB %s, right-justified in a width of 10^9",
         [] {
             _DebugOutput(u"%1000000000s", BigWide().c_str());
             return 0;
         },
         Output(spaces)},
        {"10 MB format",
         [] {
             _DebugOutput(BigWide().c_str());
             return 0;
         },
         Output(u16string(1023, u'w'))},
        {"10 MB file name and detail",
         [] { return _WarnDebug(BigWide().c_str(), 1, u"%s", BigWide().c_str()); },
         WarnDebugBox(BigWide().substr(0, 2000), u"1", BigWide().substr(0, 2000))},
        {"10 MB file name, _BreakRelease", [] { return _BreakRelease(BigWide().c_str(), 7); },
         BreakBox(BigWide().substr(0, 2000), u"7")},
        // The largest and smallest line numbers.
        {"line INT32_MAX", [] { return _WarnDebug(u"f", INT32_MAX, u"d"); },
         WarnDebugBox(u"f", u"2147483647", u"d")},
        {"line INT32_MIN", [] { return _WarnRelease(u"f", INT32_MIN, u"d"); },
         WarnReleaseBox(u"f", u"-2147483648", u"d")},
        {"line INT32_MIN, _BreakRelease", [] { return _BreakRelease(u"f", INT32_MIN); },
         BreakBox(u"f", u"-2147483648")},
        {"line INT32_MAX, _BreakRelease", [] { return _BreakRelease(u"f", INT32_MAX); },
         BreakBox(u"f", u"2147483647")},
    };
}

// Lone and reversed surrogates in every position: alone, at the start, in the middle, at
// the end, and across each place where a buffer cuts, in the format, in a %s argument, in
// the file name and in the detail. They pass through as they stand (the library does not
// check UTF-16); only a cut drops a high surrogate it would leave last.
std::vector<Row> SurrogateRows() {
    const std::vector<std::pair<const char *, u16string>> patterns = {
        {"lone high", u16string(1, char16_t(0xD800))},
        {"lone low", u16string(1, char16_t(0xDC00))},
        {"reversed pair", u16string{char16_t(0xDC00), char16_t(0xD800)}},
        {"two highs", u16string{char16_t(0xDBFF), char16_t(0xD800)}},
    };
    const size_t lengths[] = {0, 10, 761, 762, 763, 764, 1021, 1022, 1023, 1024, 1030};
    std::vector<Row> rows;
    for (const auto &[name, pattern] : patterns) {
        for (size_t length : lengths) {
            std::vector<size_t> positions = {0, length / 2, length};
            for (size_t boundary : {size_t{762}, size_t{763}, size_t{1022}, size_t{1023}}) {
                for (size_t back : {size_t{0}, size_t{1}}) {
                    if (boundary >= back && boundary - back <= length) {
                        positions.push_back(boundary - back);
                    }
                }
            }
            for (size_t at : positions) {
                u16string text = u16string(length, u'a');
                text.insert(at, pattern);
                std::string where = std::string(name) + " at " + std::to_string(at) + " of " +
                                    std::to_string(text.size());
                auto shared = std::make_shared<u16string>(text);
                rows.push_back({"format, " + where,
                                [shared] {
                                    _DebugOutput(shared->c_str());
                                    return 0;
                                },
                                Output(text)});
                rows.push_back({"%s argument, " + where,
                                [shared] {
                                    _DebugOutput(u"<%s>", shared->c_str());
                                    return 0;
                                },
                                Output(u"<" + text + u">")});
                rows.push_back({"file name, " + where,
                                [shared] { return _BreakRelease(shared->c_str(), 3); },
                                BreakBox(text, u"3")});
                rows.push_back({"detail, " + where,
                                [shared] { return _WarnFinal(u"%s", shared->c_str()); },
                                WarnFinalBox(text)});
                rows.push_back(
                    {"file name and detail, " + where,
                     [shared] { return _WarnRelease(shared->c_str(), 4, u"%s", shared->c_str()); },
                     WarnReleaseBox(text, u"4", text)});
            }
        }
    }
    return rows;
}

class BadInput : public ::testing::Test {
  protected:
    void TearDown() override { kvz::recording::Reset(); }
};

TEST_F(BadInput, EachRowHasItsDocumentedOutcome) {
    for (const Row &row : FixedRows()) {
        RunRow(row);
    }
}

TEST_F(BadInput, SurrogatesInEveryPositionPassThroughAndAreNeverLeftHalfByACut) {
    std::vector<Row> rows = SurrogateRows();
    ASSERT_GT(rows.size(), 500u);
    for (const Row &row : rows) {
        RunRow(row);
        if (HasFailure()) {
            break; // one failing row says enough; hundreds would bury it
        }
    }
}

// A hook slot emptied while another thread calls through it: each call sees the hook or
// the empty slot, whole, and a prompt still shows its box.
int32_t KVZ_CDECL Three(intptr_t, intptr_t, intptr_t) {
    return 3;
}
int32_t KVZ_CDECL Four(intptr_t, intptr_t, intptr_t, intptr_t) {
    return 4;
}
int32_t KVZ_CDECL One(void *) {
    return 1;
}

TEST_F(BadInput, AHookEmptiedWhileAnotherThreadCallsThroughIt) {
    kvz::recording::Reset();
    kvz::recording::SetObserver(
        [](EventKind, const KVZChar *, const KVZChar *, kvz::platform::BoxButtons) -> int32_t {
            return kvz::platform::kBoxOk;
        });
    constexpr int kCalls = 20000;
    std::atomic<bool> done{false};
    std::thread toggler([&] {
        for (unsigned i = 0; !done.load(); ++i) {
            bool on = i % 2 == 0;
            _SetAssertionFailedHandler(on ? Three : nullptr);
            _SetAssertionFailedExHandler(on ? Four : nullptr);
            _SetEnterSafeModeHandler(on ? One : nullptr);
        }
    });
    int seen[3][2] = {}; // per slot: calls that found it empty, calls that found the hook
    int wrong = 0;
    auto fewest = [&] {
        int least = INT_MAX;
        for (auto &slot : seen) {
            least = std::min({least, slot[0], slot[1]});
        }
        return least;
    };
    // At least kCalls rounds, and on until every slot was seen both ways a few times.
    for (int i = 0; i < kCalls || (fewest() < 10 && i < 100 * kCalls); ++i) {
        int32_t a = _AssertFailed(1, 2, 3);
        int32_t b = _AssertFailedEx(1, 2, 3, 4);
        int32_t c = _EnterSafeMode(nullptr);
        wrong += (a != 0 && a != 3) + (b != 0 && b != 4) + (c != 0 && c != 1);
        ++seen[0][a != 0];
        ++seen[1][b != 0];
        ++seen[2][c != 0];
        wrong += _WarnFinal(u"still shown") != 1;
    }
    done = true;
    toggler.join();
    EXPECT_EQ(wrong, 0) << "a call handed back a result that is neither the hook's nor 0";
    EXPECT_GE(fewest(), 10) << "the slots did not change under the calls";
}

} // namespace
