// A host in trouble, with its box answered by a real click on OK from a watcher: a
// pending or arriving WM_QUIT, thread messages of its own, a window of its own on the
// calling thread (task-modal) or over the whole screen (topmost), a box inside a box, a
// window station no one can see; and what held before (mouse capture, an exception
// handler, a module's entry routine). Each case prints what the host saw: the result, how long the
// call took, whether it returned only after the click, and what was left in its queue.
//
//   kvz_wine_queue quit|messages|windows|nested|station|held
#include "KVZDebugLib/KVZDebugLib.h"

#include "BoxWatcher.h"

#include <string.h>
#include <vector>

using wine_test::BoxAnswer;
using wine_test::BoxWatcher;
using wine_test::SeenBox;

namespace {

constexpr UINT kHostMessage = WM_APP + 10;
constexpr DWORD kWatchMs = 4000;

struct Prompt {
    const char *name;
    int32_t (*show)();
    int32_t ok;       // the result for OK
    int32_t notShown; // the result when no box can be shown
};

const Prompt kPrompts[] = {
    {"_WarnDebug", [] { return _WarnDebug(L"q.cpp", 1, L"%s", L"queue"); }, Continue, Debug},
    {"_WarnRelease", [] { return _WarnRelease(L"q.cpp", 2, L"%s", L"queue"); }, Continue, Report},
    {"_BreakRelease", [] { return _BreakRelease(L"q.cpp", 3); }, Continue, Report},
    {"_WarnFinal", [] { return _WarnFinal(L"%s", L"queue"); }, 1, 0},
};

// What was left in the calling thread's queue after the call: its thread messages in
// order (kHostMessage's wParam), and its WM_QUITs with their codes.
struct Left {
    std::vector<WPARAM> messages;
    std::vector<WPARAM> quits;
};

Left DrainQueue() {
    Left left;
    MSG msg;
    for (int i = 0; i < 1000 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        if (msg.hwnd != nullptr) {
            DispatchMessageW(&msg);
        } else if (msg.message == WM_QUIT) {
            left.quits.push_back(msg.wParam);
        } else if (msg.message == kHostMessage) {
            left.messages.push_back(msg.wParam);
        }
    }
    return left;
}

std::string Numbers(const std::vector<WPARAM> &values) {
    std::string text;
    for (WPARAM value : values) {
        text += (text.empty() ? "" : " ") + std::to_string(value);
    }
    return text.empty() ? "none" : text;
}

// One prompt answered by a click: whileUp runs on the watcher's thread once the box is up.
struct Run {
    int32_t result;
    ULONGLONG ms;
    SeenBox seen;
    bool afterClick; // returned only once the click was given
    Left left;
};

Run PromptOnce(const Prompt &prompt, std::function<void(HWND)> whileUp = {}) {
    BoxWatcher watcher(BoxAnswer::Click, kWatchMs, std::move(whileUp));
    const ULONGLONG start = GetTickCount64();
    Run run{};
    run.result = prompt.show();
    const ULONGLONG end = GetTickCount64();
    run.ms = end - start;
    run.seen = watcher.Wait();
    run.afterClick = run.seen.upWhenAnswered && end >= run.seen.answeredAt;
    run.left = DrainQueue();
    return run;
}

void Print(const char *what, const Prompt &prompt, const Run &run) {
    printf("%s, %s: result %d in %llu ms, box %s, %s; left: WM_QUIT %s, messages %s\n", what,
           prompt.name, run.result, run.ms, run.seen.found ? "seen" : "not seen",
           !run.seen.found        ? "no click"
           : run.seen.clickMissed ? "the click missed it"
           : run.afterClick       ? "returned after the click"
                                  : "gone before the click",
           Numbers(run.left.quits).c_str(), Numbers(run.left.messages).c_str());
    fflush(stdout);
}

void CheckClicked(const Prompt &prompt, const Run &run) {
    CHECK(run.seen.found);
    CHECK(run.seen.gone);
    CHECK(!run.seen.clickMissed);
    CHECK(run.afterClick);
    CHECK_EQ(prompt.ok, run.result);
}

// A WM_QUIT already pending (every prompt), and one posted while the box is up: the box
// waits for the click, and the host's loop then finds exactly one WM_QUIT, with its code.
void RunQuit() {
    for (const Prompt &prompt : kPrompts) {
        PostQuitMessage(7);
        Run run = PromptOnce(prompt);
        Print("WM_QUIT before", prompt, run);
        CheckClicked(prompt, run);
        CHECK(run.left.quits == std::vector<WPARAM>{7});
    }
    const DWORD thread = GetCurrentThreadId();
    bool upAfterQuit = false;
    ULONGLONG goneAfter = 0;
    Run run = PromptOnce(kPrompts[1], [&](HWND box) {
        const ULONGLONG posted = GetTickCount64();
        PostThreadMessageW(thread, WM_QUIT, 9, 0);
        while (IsWindowVisible(box) && GetTickCount64() - posted < 300) {
            Sleep(1);
        }
        upAfterQuit = IsWindowVisible(box) != FALSE;
        goneAfter = upAfterQuit ? 0 : GetTickCount64() - posted;
    });
    Print("WM_QUIT during", kPrompts[1], run);
    printf("    box still up 300 ms after WM_QUIT: %s (gone after %llu ms)\n",
           upAfterQuit ? "yes" : "no", goneAfter);
    CHECK(upAfterQuit);
    CheckClicked(kPrompts[1], run);
    CHECK(run.left.quits == std::vector<WPARAM>{9});
}

// Thread messages posted before the call and while the box is up reach the host after it,
// in order.
void RunMessages() {
    const DWORD thread = GetCurrentThreadId();
    PostThreadMessageW(thread, kHostMessage, 1, 0);
    PostThreadMessageW(thread, kHostMessage, 2, 0);
    Run run = PromptOnce(kPrompts[0], [&](HWND) {
        PostThreadMessageW(thread, kHostMessage, 3, 0);
        PostThreadMessageW(thread, kHostMessage, 4, 0);
        Sleep(100);
    });
    Print("thread messages", kPrompts[0], run);
    CheckClicked(kPrompts[0], run);
    CHECK((run.left.messages == std::vector<WPARAM>{1, 2, 3, 4}));
    CHECK(run.left.quits.empty());
}

// The host's own windows on the calling thread: a plain window is disabled while the box
// is up and enabled after it; a topmost window over the whole screen does not hide the box
// (the click lands on OK, not on the host).
LONG g_hostClicks = 0;

int32_t g_timerResult = -1; // what the prompt made from the host's timer returned

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_LBUTTONDOWN) {
        InterlockedIncrement(&g_hostClicks);
    }
    if (message == WM_TIMER) {
        KillTimer(window, wParam);
        g_timerResult = _WarnDebug(L"timer.cpp", 4, L"%s", L"from the host's timer");
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND MakeHostWindow(bool fullScreen) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = HostWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"KvzQueueHost";
    RegisterClassW(&windowClass);
    HWND window =
        fullScreen
            ? CreateWindowExW(WS_EX_TOPMOST, L"KvzQueueHost", L"host", WS_POPUP | WS_VISIBLE, 0, 0,
                              GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr,
                              nullptr, windowClass.hInstance, nullptr)
            : CreateWindowExW(0, L"KvzQueueHost", L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40,
                              300, 200, nullptr, nullptr, windowClass.hInstance, nullptr);
    DrainQueue();
    return window;
}

void RunWindows() {
    for (bool fullScreen : {false, true}) {
        HWND host = MakeHostWindow(fullScreen);
        g_hostClicks = 0;
        bool enabledDuring = true;
        LONG exStyle = 0;
        Run run = PromptOnce(kPrompts[1], [&](HWND box) {
            enabledDuring = IsWindowEnabled(host) != FALSE;
            exStyle = GetWindowLongW(box, GWL_EXSTYLE);
        });
        const bool enabledAfter = IsWindowEnabled(host) != FALSE;
        Print(fullScreen ? "topmost full-screen host window" : "host window", kPrompts[1], run);
        printf("    host window enabled while the box was up: %s, after: %s; clicks on the "
               "host: %ld; box WS_EX_TOPMOST: %s\n",
               enabledDuring ? "yes" : "no", enabledAfter ? "yes" : "no", g_hostClicks,
               (exStyle & WS_EX_TOPMOST) != 0 ? "yes" : "no");
        CheckClicked(kPrompts[1], run);
        CHECK(!enabledDuring);
        CHECK(enabledAfter);
        CHECK_EQ(0l, static_cast<long>(g_hostClicks));
        CHECK((exStyle & WS_EX_TOPMOST) != 0);
        DestroyWindow(host);
        DrainQueue();
    }
}

// A box inside a box: the host's timer fires in the first box's loop and prompts again.
// What is posted during the inner box is handed to the outer one, and reaches the host
// after both, in order, with the WM_QUIT last.
HWND OtherDialog(HWND known) {
    for (int i = 0; i < 150; ++i) {
        for (HWND box : wine_test::FindOwnDialogs()) {
            if (box != known) {
                return box;
            }
        }
        Sleep(20);
    }
    return nullptr;
}

void RunNested() {
    const DWORD thread = GetCurrentThreadId();
    HWND host = MakeHostWindow(false);
    g_timerResult = -1;
    SetTimer(host, 1, 100, nullptr);
    bool innerGone = false, outerUp = false;
    Run run = PromptOnce(kPrompts[1], [&](HWND outer) {
        PostThreadMessageW(thread, kHostMessage, 1, 0);
        HWND inner = OtherDialog(outer);
        PostThreadMessageW(thread, kHostMessage, 2, 0);
        PostThreadMessageW(thread, WM_QUIT, 11, 0);
        Sleep(200);
        if (inner != nullptr && IsWindowVisible(inner) &&
            wine_test::AnswerBox(inner, BoxAnswer::Click)) {
            for (int i = 0; i < 100 && IsWindowVisible(inner); ++i) {
                Sleep(20);
            }
            innerGone = !IsWindowVisible(inner);
        }
        PostThreadMessageW(thread, kHostMessage, 3, 0);
        Sleep(100);
        outerUp = IsWindowVisible(outer) != FALSE;
    });
    Print("box inside a box", kPrompts[1], run);
    printf("    inner box (from the host's timer): %s, result %d; outer box still up after it: "
           "%s\n",
           innerGone ? "clicked and gone" : "not answered by the click", g_timerResult,
           outerUp ? "yes" : "no");
    CheckClicked(kPrompts[1], run);
    CHECK(innerGone);
    CHECK(outerUp);
    CHECK_EQ(Continue, g_timerResult);
    CHECK((run.left.messages == std::vector<WPARAM>{1, 2, 3}));
    CHECK(run.left.quits == std::vector<WPARAM>{11});
    DestroyWindow(host);
    DrainQueue();
}

// What must keep holding: a prompt while the host holds the mouse capture, one from a
// vectored exception handler, and one from a module's entry routine.
constexpr DWORD kHostException = 0xE0004B56;
Run g_handlerRun;

LONG CALLBACK PromptingHandler(EXCEPTION_POINTERS *info) {
    if (info->ExceptionRecord->ExceptionCode != kHostException) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    g_handlerRun = PromptOnce(kPrompts[1]);
    return EXCEPTION_CONTINUE_EXECUTION;
}

int32_t LeftResult(const wchar_t *name) {
    wchar_t text[16] = {};
    return GetEnvironmentVariableW(name, text, 16) != 0 ? _wtoi(text) : -1;
}

const Prompt kEntryPrompts[] = {
    {"DllMain attach",
     [] {
         return LoadLibraryW(L"kvz_wine_prompting.dll") != nullptr
                    ? LeftResult(L"KVZ_ATTACH_RESULT")
                    : -1;
     },
     Continue, Report},
    {"DllMain detach",
     [] {
         return FreeLibrary(GetModuleHandleW(L"kvz_wine_prompting.dll"))
                    ? LeftResult(L"KVZ_DETACH_RESULT")
                    : -1;
     },
     Continue, Report},
};

void RunHeld() {
    HWND host = MakeHostWindow(false);
    SetCapture(host);
    Run run = PromptOnce(kPrompts[1]);
    Print("mouse capture held", kPrompts[1], run);
    CheckClicked(kPrompts[1], run);
    ReleaseCapture();
    DestroyWindow(host);
    DrainQueue();

    void *handler = AddVectoredExceptionHandler(1, PromptingHandler);
    RaiseException(kHostException, 0, 0, nullptr);
    RemoveVectoredExceptionHandler(handler);
    Print("vectored exception handler", kPrompts[1], g_handlerRun);
    CheckClicked(kPrompts[1], g_handlerRun);

    // From a module's entry routine, under the loader's lock: attach and detach.
    for (const Prompt &entry : kEntryPrompts) {
        Run entryRun = PromptOnce(entry);
        Print("module entry routine", entry, entryRun);
        CheckClicked(entry, entryRun);
    }
}

// A process whose window station is not visible (a service's): no box, at once.
void RunStation() {
    HWINSTA own = GetProcessWindowStation();
    HWINSTA hidden = CreateWindowStationW(L"KvzHidden", 0, WINSTA_ALL_ACCESS, nullptr);
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    CHECK(hidden != nullptr);
    CHECK(GetUserObjectInformationW(hidden, UOI_FLAGS, &flags, sizeof flags, &needed));
    printf("window station KvzHidden: flags 0x%lx\n", static_cast<unsigned long>(flags.dwFlags));
    CHECK((flags.dwFlags & WSF_VISIBLE) == 0);
    CHECK(SetProcessWindowStation(hidden));
    for (const Prompt &prompt : kPrompts) {
        BoxWatcher watcher(BoxAnswer::Click, 1500);
        const ULONGLONG start = GetTickCount64();
        const int32_t result = prompt.show();
        const ULONGLONG ms = GetTickCount64() - start;
        const SeenBox &seen = watcher.Wait();
        printf("window station not visible, %s: result %d in %llu ms, box %s\n", prompt.name,
               result, ms, seen.found ? "seen" : "not seen");
        CHECK(!seen.found);
        CHECK(ms < 1000);
        CHECK_EQ(prompt.notShown, result);
    }
    SetProcessWindowStation(own);
    CloseWindowStation(hidden);
}

} // namespace

int main(int argc, char **argv) {
    const char *which = argc > 1 ? argv[1] : "";
    const struct {
        const char *name;
        void (*run)();
    } kCases[] = {
        {"quit", RunQuit},     {"messages", RunMessages}, {"windows", RunWindows},
        {"nested", RunNested}, {"station", RunStation},   {"held", RunHeld},
    };
    for (const auto &c : kCases) {
        if (strcmp(which, c.name) == 0) {
            c.run();
            return wine_test::Finish(c.name);
        }
    }
    fprintf(stderr, "usage: %s quit|messages|windows|nested|station|held\n", argv[0]);
    return 2;
}
