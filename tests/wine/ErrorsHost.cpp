// The host's errno and last-error value around every export, in a real Windows process:
// no debug monitor (OutputDebugStringW fails), boxes answered by a watcher with OK and
// with Escape, and hooks that find the host's values and leave values of their own.
#include "KVZDebugLib/KVZDebugLib.h"

#include "BoxWatcher.h"

#include <errno.h>
#include <optional>

using wine_test::BoxAnswer;
using wine_test::BoxWatcher;

namespace {

constexpr DWORD kHostLastError = 4242;
constexpr int kHostErrno = 4243;
constexpr DWORD kHookLastError = 5151;
constexpr int kHookErrno = 5152;

struct ExportRow {
    const char *name;
    bool box;
    void (*install)(); // the hook it calls, if any
    void (*call)();
};

struct Seen {
    int calls = 0;
    DWORD lastError = 0;
    int errorNumber = 0;
} g_seen;

void Touch() {
    ++g_seen.calls;
    g_seen.lastError = GetLastError();
    g_seen.errorNumber = errno;
    errno = kHookErrno;
    SetLastError(kHookLastError);
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

const ExportRow kExports[] = {
    {"_AssertFailed", false, [] { _SetAssertionFailedHandler(Three); },
     [] { _AssertFailed(1, 2, 3); }},
    {"_AssertFailedEx", false, [] { _SetAssertionFailedExHandler(Four); },
     [] { _AssertFailedEx(1, 2, 3, 4); }},
    {"_EnterSafeMode", false, [] { _SetEnterSafeModeHandler(One); },
     [] { _EnterSafeMode(nullptr); }},
    {"_DebugOutput", false, nullptr, [] { _DebugOutput(L"%d %s %f %S\n", 1, L"w", 0.5, "n"); }},
    {"_WarnDebug", true, [] { _SetEnterSafeModeHandler(One); },
     [] { _WarnDebug(L"f.cpp", 1, L"%d", 1); }},
    {"_WarnRelease", true, [] { _SetEnterSafeModeHandler(One); },
     [] { _WarnRelease(L"f.cpp", 2, L"%s", L"x"); }},
    {"_BreakRelease", true, [] { _SetEnterSafeModeHandler(One); },
     [] { _BreakRelease(L"f.cpp", 3); }},
    {"_WarnFinal", true, [] { _SetEnterSafeModeHandler(One); }, [] { _WarnFinal(L"%g", 2.5); }},
    {"_SetAssertionFailedHandler", false, nullptr, [] { _SetAssertionFailedHandler(nullptr); }},
    {"_SetAssertionFailedExHandler", false, nullptr, [] { _SetAssertionFailedExHandler(nullptr); }},
    {"_SetEnterSafeModeHandler", false, nullptr, [] { _SetEnterSafeModeHandler(nullptr); }},
};

void ClearHooks() {
    _SetAssertionFailedHandler(nullptr);
    _SetAssertionFailedExHandler(nullptr);
    _SetEnterSafeModeHandler(nullptr);
}

// Calls the export with the host's values set and reads both back at once, before the
// watcher (if any) is waited for.
void CallWithHostValues(const ExportRow &row, BoxAnswer answer, DWORD *lastError,
                        int *errorNumber) {
    std::optional<BoxWatcher> watcher;
    if (row.box) {
        watcher.emplace(answer);
    }
    errno = kHostErrno;
    SetLastError(kHostLastError);
    row.call();
    *lastError = GetLastError();
    *errorNumber = errno;
    if (watcher) {
        CHECK(watcher->Wait().found);
    }
}

void Check(const ExportRow &row, const char *answer, bool hooked, DWORD lastError,
           int errorNumber) {
    const DWORD expectedLast = hooked ? kHookLastError : kHostLastError;
    const int expectedErrno = hooked ? kHookErrno : kHostErrno;
    if (lastError != expectedLast || errorNumber != expectedErrno) {
        wine_test::Fail(__FILE__, __LINE__,
                        std::string(row.name) + (hooked ? " with its hook" : "") + ", " + answer +
                            ": last error " + std::to_string(lastError) + ", errno " +
                            std::to_string(errorNumber) + "; expected " +
                            std::to_string(expectedLast) + ", " + std::to_string(expectedErrno));
    }
}

} // namespace

int main() {
    const BoxAnswer answers[] = {BoxAnswer::Ok, BoxAnswer::Escape}; // Escape: OK-only too
    int calls = 0;
    for (const ExportRow &row : kExports) {
        for (BoxAnswer answer : answers) {
            for (bool hooked : {false, true}) {
                if ((hooked && row.install == nullptr) || (!row.box && answer != BoxAnswer::Ok)) {
                    continue;
                }
                ClearHooks();
                if (hooked) {
                    row.install();
                }
                g_seen = Seen{};
                DWORD lastError = 0;
                int errorNumber = 0;
                CallWithHostValues(row, answer, &lastError, &errorNumber);
                ++calls;
                Check(row, wine_test::AnswerName(answer), hooked, lastError, errorNumber);
                if (hooked) {
                    CHECK_EQ(1, g_seen.calls);
                    CHECK_EQ(kHostLastError, g_seen.lastError);
                    CHECK_EQ(kHostErrno, g_seen.errorNumber);
                }
            }
        }
    }
    ClearHooks();
    printf("%d calls, each with last error %lu and errno %d set first\n", calls,
           static_cast<unsigned long>(kHostLastError), kHostErrno);
    return wine_test::Finish("errors");
}
