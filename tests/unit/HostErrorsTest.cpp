// errno and the last-error value around every export, against the recording platform,
// whose every operation changes both.
#include "RecordingPlatform.h"

#include "KVZDebugLib/KVZDebugLib.h"

#include <gtest/gtest.h>

#include <errno.h>

namespace {

using namespace kvz::recording;
namespace platform = kvz::platform;

constexpr int kHostErrno = 4242;
constexpr uint32_t kHostLastError = 4243;
constexpr int kHookErrno = 5151;
constexpr uint32_t kHookLastError = 5152;

// What the hook found on entry; it leaves values of its own.
struct Seen {
    int calls = 0;
    int errorNumber = 0;
    uint32_t lastError = 0;
};
Seen g_seen;

void Touch() {
    ++g_seen.calls;
    g_seen.errorNumber = errno;
    g_seen.lastError = LastErrorValue();
    errno = kHookErrno;
    SetLastErrorValue(kHookLastError);
}
int32_t KVZ_CDECL Three(intptr_t, intptr_t, intptr_t) {
    Touch();
    return 3;
}
int32_t KVZ_CDECL Four(intptr_t, intptr_t, intptr_t, intptr_t) {
    Touch();
    return 4;
}
int32_t KVZ_CDECL One(void *) {
    Touch();
    return 1;
}

struct ExportRow {
    const char *name;
    void (*install)(); // the hook it calls, if any
    void (*call)();
};

const ExportRow kExports[] = {
    {"_AssertFailed", [] { _SetAssertionFailedHandler(Three); }, [] { _AssertFailed(1, 2, 3); }},
    {"_AssertFailedEx", [] { _SetAssertionFailedExHandler(Four); },
     [] { _AssertFailedEx(1, 2, 3, 4); }},
    {"_EnterSafeMode", [] { _SetEnterSafeModeHandler(One); }, [] { _EnterSafeMode(nullptr); }},
    {"_DebugOutput", nullptr, [] { _DebugOutput(u"%d %s %f %S\n", 1, u"wide", 0.5, "narrow"); }},
    {"_WarnDebug", [] { _SetEnterSafeModeHandler(One); },
     [] { _WarnDebug(u"f.cpp", 1, u"%d", 1); }},
    {"_WarnRelease", [] { _SetEnterSafeModeHandler(One); },
     [] { _WarnRelease(u"f.cpp", 2, u"%s", u"x"); }},
    {"_BreakRelease", [] { _SetEnterSafeModeHandler(One); }, [] { _BreakRelease(u"f.cpp", 3); }},
    {"_WarnFinal", [] { _SetEnterSafeModeHandler(One); }, [] { _WarnFinal(u"%g", 2.5); }},
    {"_SetAssertionFailedHandler", nullptr, [] { _SetAssertionFailedHandler(nullptr); }},
    {"_SetAssertionFailedExHandler", nullptr, [] { _SetAssertionFailedExHandler(nullptr); }},
    {"_SetEnterSafeModeHandler", nullptr, [] { _SetEnterSafeModeHandler(nullptr); }},
};

// Every path a report may take: a debugger attached or not, and each answer a box gives.
struct Situation {
    bool debugger;
    int32_t answer;
};
const Situation kSituations[] = {
    {false, platform::kBoxOk}, {false, platform::kBoxCancel},  {false, platform::kBoxNotShown},
    {true, platform::kBoxOk},  {true, platform::kBoxNotShown},
};

void Prepare(const Situation &situation) {
    Reset();
    g_seen = Seen{};
    SetDebuggerAttached(situation.debugger);
    SetBoxAnswer(situation.answer);
}

void SetHostValues() {
    errno = kHostErrno;
    SetLastErrorValue(kHostLastError);
}

TEST(HostErrors, EveryExportReturnsWithTheHostsValues) {
    for (const ExportRow &row : kExports) {
        for (const Situation &situation : kSituations) {
            Prepare(situation);
            SetHostValues();
            row.call();
            const int errorNumber = errno;
            EXPECT_EQ(errorNumber, kHostErrno)
                << row.name << ", debugger " << situation.debugger << ", box " << situation.answer;
            EXPECT_EQ(LastErrorValue(), kHostLastError)
                << row.name << ", debugger " << situation.debugger << ", box " << situation.answer;
        }
    }
    Reset();
}

TEST(HostErrors, AHookStartsWithTheHostsValuesAndWhatItLeavesIsKept) {
    for (const ExportRow &row : kExports) {
        if (row.install == nullptr) {
            continue;
        }
        for (const Situation &situation : kSituations) {
            Prepare(situation);
            row.install();
            SetHostValues();
            row.call();
            const int errorNumber = errno;
            EXPECT_EQ(g_seen.calls, 1) << row.name;
            EXPECT_EQ(g_seen.errorNumber, kHostErrno) << row.name;
            EXPECT_EQ(g_seen.lastError, kHostLastError) << row.name;
            EXPECT_EQ(errorNumber, kHookErrno) << row.name << ", box " << situation.answer;
            EXPECT_EQ(LastErrorValue(), kHookLastError) << row.name << ", box " << situation.answer;
        }
    }
    Reset();
}

} // namespace
