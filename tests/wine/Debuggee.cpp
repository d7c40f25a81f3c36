// The program kvz_wine_debugger runs under the Win32 debug API. It calls each export that
// falls back on the debugger, announcing every step with a debug string that starts with
// '@', so the debugger knows which export should stop next. Its own checks (results, and
// the boxes that must still appear after a trap) end in its exit code.
//
//   kvz_wine_debuggee run                    started as the debugger's child
//   kvz_wine_debuggee late <ready> <attached>  attached to later: event handles, inherited
#include "KVZDebugLib/KVZDebugLib.h"

#include "BoxWatcher.h"

#include <stdlib.h>
#include <string.h>

using wine_test::BoxAnswer;
using wine_test::BoxWatcher;

namespace {

void Marker(const std::wstring &text) {
    OutputDebugStringW((L"@" + text).c_str());
}

void Step(const wchar_t *name) {
    Marker(std::wstring(L"step ") + name);
}

void AnnounceModule() {
    wchar_t text[64];
    _snwprintf(text, 64, L"module %llx",
               static_cast<unsigned long long>(
                   reinterpret_cast<uintptr_t>(GetModuleHandleW(L"KVZDebugLib.dll"))));
    text[63] = 0;
    Marker(text);
}

int32_t KVZ_CDECL Three(intptr_t, intptr_t, intptr_t) {
    return 3;
}
int32_t KVZ_CDECL Four(intptr_t, intptr_t, intptr_t, intptr_t) {
    return 4;
}
int32_t KVZ_CDECL One(void *) {
    return 1;
}

// A prompt stops in the debugger before its box; once continued, the box is still shown.
template <class Call>
void PromptAfterTrap(const wchar_t *name, Call call, const std::wstring &text, int32_t okResult) {
    Step(name);
    BoxWatcher watcher(BoxAnswer::Ok);
    int32_t result = call();
    const wine_test::SeenBox &seen = watcher.Wait();
    CHECK(seen.found);
    CHECK_TEXT(text, seen.text);
    CHECK_EQ(okResult, result);
    if (seen.text != text) {
        fprintf(stderr, "    box %p: caption \"%s\", buttons %s, gone %d\n",
                static_cast<void *>(seen.window), wine_test::Show(seen.caption).c_str(),
                wine_test::Show(seen.ButtonNames()).c_str(), seen.gone);
    }
}

void Run() {
    AnnounceModule();
    CHECK(IsDebuggerPresent());

    // Each forwarding entry point with an empty slot stops once, then returns 0.
    Step(L"_AssertFailed");
    CHECK_EQ(0, _AssertFailed(1, 2, 3));
    Step(L"_AssertFailedEx");
    CHECK_EQ(0, _AssertFailedEx(1, 2, 3, 4));
    Step(L"_EnterSafeMode");
    CHECK_EQ(0, _EnterSafeMode(nullptr));

    PromptAfterTrap(
        L"_WarnDebug", [] { return _WarnDebug(L"d.cpp", 1, L"%d", 10); },
        L"d.cpp, line 1 : 10\n Press OK to continue or CANCEL to debug.", Continue);
    PromptAfterTrap(
        L"_WarnRelease", [] { return _WarnRelease(L"r.cpp", 2, L"%d", 20); },
        L"r.cpp, line 2 : 20\n Press OK to continue or CANCEL to report this error.", Continue);
    PromptAfterTrap(
        L"_BreakRelease", [] { return _BreakRelease(L"b.cpp", 3); },
        L"A debug breakpoint was hit in b.cpp, line 3.\nThis indicates a condition that should "
        L"not occur.\nPlease notify a programmer of this. Press OK to continue or CANCEL to "
        L"report.",
        Continue);
    PromptAfterTrap(
        L"_WarnFinal", [] { return _WarnFinal(L"%d", 40); }, L"40\n Press OK to continue.", IDOK);

    // With hooks installed nothing stops, debugger or not.
    Step(L"-hooks");
    _SetAssertionFailedHandler(Three);
    _SetAssertionFailedExHandler(Four);
    _SetEnterSafeModeHandler(One);
    CHECK_EQ(3, _AssertFailed(1, 2, 3));
    CHECK_EQ(4, _AssertFailedEx(1, 2, 3, 4));
    CHECK_EQ(1, _EnterSafeMode(nullptr));
    {
        BoxWatcher watcher(BoxAnswer::Cancel);
        CHECK_EQ(Report, _WarnRelease(L"h.cpp", 5, L"hooked"));
        CHECK(watcher.Wait().found);
    }
    _SetAssertionFailedHandler(nullptr);
    _SetAssertionFailedExHandler(nullptr);
    _SetEnterSafeModeHandler(nullptr);

    // Debugger output: exactly the formatted text, cut at 1023 units.
    Step(L"-output");
    _DebugOutput(L"plain text, no line feed");
    _DebugOutput(L"%d apples and %s, 0x%04X\n", 3, L"pears", 0xBEEFu);
    std::wstring digits;
    for (int i = 0; i < 1500; ++i) {
        digits += static_cast<wchar_t>(L'0' + i % 10);
    }
    _DebugOutput(L"%s", digits.c_str());
    Marker(L"done");
}

// Attached to after the module was loaded: the flag is read at every call, so the very next
// report stops, where the one before (no debugger yet) left no trace.
void RunLate(HANDLE ready, HANDLE attached) {
    CHECK(!IsDebuggerPresent());
    CHECK_EQ(0, _AssertFailed(1, 2, 3)); // no debugger: no trap, or this process would end
    SetEvent(ready);
    CHECK(WaitForSingleObject(attached, 30000) == WAIT_OBJECT_0);
    CHECK(IsDebuggerPresent());
    AnnounceModule();
    Step(L"_AssertFailed");
    CHECK_EQ(0, _AssertFailed(1, 2, 3));
    Marker(L"done");
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 2 && strcmp(argv[1], "run") == 0) {
        Run();
    } else if (argc == 4 && strcmp(argv[1], "late") == 0) {
        HANDLE ready = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(_strtoui64(argv[2], 0, 10)));
        HANDLE attached =
            reinterpret_cast<HANDLE>(static_cast<uintptr_t>(_strtoui64(argv[3], 0, 10)));
        RunLate(ready, attached);
    } else {
        fprintf(stderr, "usage: %s run | late <ready-event> <attached-event>\n", argv[0]);
        return 2;
    }
    return wine_test::Finish("debuggee");
}
