// Real message boxes, answered from a thread of this process as a person would answer
// them: what each prompt shows (caption, text, buttons, no icon) and what it returns.
//
//   kvz_wine_boxes warn-debug|warn-release|break-release|warn-final   every answer
//   kvz_wine_boxes safe-mode     the hook's moment before the box
//   kvz_wine_boxes long          a detail cut to fit, in a real box
//   kvz_wine_boxes threads       prompts from several threads at once
#include "KVZDebugLib/KVZDebugLib.h"

#include "BoxWatcher.h"

#include <iterator>
#include <map>
#include <string.h>
#include <vector>

using wine_test::BoxAnswer;
using wine_test::BoxWatcher;
using wine_test::SeenBox;

namespace {

const wchar_t kAssertionCaption[] = L"Assertion Failure";
const wchar_t kBreakpointCaption[] = L"Debug Breakpoint";

struct Prompt {
    const char *name;
    const wchar_t *caption;
    bool okOnly;
    int32_t otherwise; // the result for any answer but OK
    int32_t (*show)(int32_t line);
    std::wstring (*expected)(int32_t line);
};

const Prompt kPrompts[] = {
    {"warn-debug", kAssertionCaption, false, Debug,
     [](int32_t line) { return _WarnDebug(L"f.cpp", line, L"x=%d", 5); },
     [](int32_t line) {
         return L"f.cpp, line " + std::to_wstring(line) +
                L" : x=5\n Press OK to continue or CANCEL to debug.";
     }},
    {"warn-release", kAssertionCaption, false, Report,
     [](int32_t line) { return _WarnRelease(L"f.cpp", line, L"x=%d", 5); },
     [](int32_t line) {
         return L"f.cpp, line " + std::to_wstring(line) +
                L" : x=5\n Press OK to continue or CANCEL to report this error.";
     }},
    {"break-release", kBreakpointCaption, false, Report,
     [](int32_t line) { return _BreakRelease(L"g.cpp", line); },
     [](int32_t line) {
         return L"A debug breakpoint was hit in g.cpp, line " + std::to_wstring(line) +
                L".\nThis indicates a condition that should not occur.\nPlease notify a "
                L"programmer of this. Press OK to continue or CANCEL to report.";
     }},
    {"warn-final", kAssertionCaption, true, 0,
     [](int32_t line) { return _WarnFinal(L"disk %s is %d%% full", L"C:", line); },
     [](int32_t line) {
         return L"disk C: is " + std::to_wstring(line) + L"% full\n Press OK to continue.";
     }},
};

// What the system's own box looks like and makes of an answer: MessageBoxW with no owner,
// no icon, the buttons, task-modal, brought to the front and topmost.
SeenBox g_reference;
int32_t ShowReference(const Prompt &prompt, BoxAnswer answer) {
    BoxWatcher watcher(answer);
    int32_t result = MessageBoxW(nullptr, L"reference", prompt.caption,
                                 (prompt.okOnly ? MB_OK : MB_OKCANCEL) | MB_TASKMODAL |
                                     MB_SETFOREGROUND | MB_TOPMOST);
    g_reference = watcher.Wait();
    return result;
}

void CheckShape(const SeenBox &seen, const wchar_t *caption, bool okOnly) {
    CHECK(seen.found);
    CHECK_TEXT(caption, seen.caption);
    CHECK_TEXT(okOnly ? L"IDOK" : L"IDOK IDCANCEL", seen.ButtonNames());
    CHECK_EQ(IDOK, seen.defaultButton);
    CHECK(!seen.icon);
    CHECK((seen.exStyle & WS_EX_TOPMOST) != 0);
    CHECK(seen.gone);
}

void Report(const char *prompt, BoxAnswer answer, const SeenBox &seen, int32_t result) {
    printf("%s / %s: caption \"%s\", buttons %s (default %d)%s, %s, result %d\n    text "
           "\"%s\"\n",
           prompt, wine_test::AnswerName(answer), wine_test::Show(seen.caption).c_str(),
           wine_test::Show(seen.ButtonNames()).c_str(), seen.defaultButton,
           seen.icon ? ", an icon" : ", no icon",
           (seen.exStyle & WS_EX_TOPMOST) != 0 ? "topmost" : "not topmost", result,
           wine_test::Show(seen.text).c_str());
    fflush(stdout);
}

// Every way of answering. OK and Enter (the default button) continue; CANCEL, Escape and
// closing the window are the prompt's other answer. Any answer acknowledges _WarnFinal's
// box (1), whatever the system makes of Escape or closing an OK-only box (Windows
// documents IDOK; Wine returns IDCANCEL).
void RunPrompt(const Prompt &prompt) {
    const BoxAnswer answers[] = {BoxAnswer::Ok,     BoxAnswer::Cancel, BoxAnswer::Enter,
                                 BoxAnswer::Escape, BoxAnswer::Close,  BoxAnswer::SysClose};
    int32_t line = 100;
    for (BoxAnswer answer : answers) {
        if (prompt.okOnly && answer == BoxAnswer::Cancel) {
            continue; // there is no CANCEL button to press
        }
        int32_t reference = ShowReference(prompt, answer);
        bool ok = answer == BoxAnswer::Ok || answer == BoxAnswer::Enter;
        if (ok || !prompt.okOnly) {
            CHECK_EQ(ok ? IDOK : IDCANCEL, reference);
        }

        ++line; // a new text for every box, so a stale box cannot pass
        BoxWatcher watcher(answer);
        int32_t result = prompt.show(line);
        const SeenBox &seen = watcher.Wait();
        Report(prompt.name, answer, seen, result);
        CheckShape(seen, prompt.caption, prompt.okOnly);
        CHECK_TEXT(prompt.expected(line), seen.text);
        CHECK_EQ(g_reference.style, seen.style);
        // Topmost even where the system's own box is not (Wine honours MB_TOPMOST only for
        // system-modal boxes).
        CHECK_EQ(g_reference.exStyle | WS_EX_TOPMOST, seen.exStyle);
        int32_t expected = prompt.okOnly ? IDOK : reference == IDOK ? Continue : prompt.otherwise;
        CHECK_EQ(expected, result);
        if (prompt.okOnly && !ok) {
            printf("    (MessageBoxW itself returned %d for this answer)\n", reference);
        }
    }
}

// The safe-mode hook runs before the box, once, with the composed message, and the box
// shows what the buffer holds when the hook returns; a hook may call back into the
// library on the same thread.
std::wstring g_handed;
int g_hookCalls = 0;
enum class HookDoes { Rewrite, DebugOutput } g_hookDoes;

int32_t KVZ_CDECL SafeModeHook(void *message) {
    ++g_hookCalls;
    wchar_t *text = static_cast<wchar_t *>(message);
    g_handed = text;
    if (!wine_test::FindOwnDialogs().empty()) {
        g_handed = L"(a box was already up)";
    }
    if (g_hookDoes == HookDoes::Rewrite) {
        wcscpy(text, L"rewritten by the hook");
    } else {
        _DebugOutput(L"output %d from the hook", 3); // composes into the same buffer
    }
    return 99;
}

void RunSafeMode() {
    _SetEnterSafeModeHandler(SafeModeHook);
    struct {
        HookDoes does;
        const wchar_t *shown;
    } cases[] = {{HookDoes::Rewrite, L"rewritten by the hook"},
                 {HookDoes::DebugOutput, L"output 3 from the hook"}};
    for (const auto &c : cases) {
        g_hookDoes = c.does;
        g_hookCalls = 0;
        BoxWatcher watcher(BoxAnswer::Ok);
        int32_t result = _WarnRelease(L"h.cpp", 9, L"%s", L"hooked");
        const SeenBox &seen = watcher.Wait();
        Report("safe-mode", BoxAnswer::Ok, seen, result);
        CHECK_EQ(1, g_hookCalls);
        CHECK_TEXT(L"h.cpp, line 9 : hooked\n Press OK to continue or CANCEL to report this error.",
                   g_handed);
        CheckShape(seen, kAssertionCaption, false);
        CHECK_TEXT(c.shown, seen.text);
        CHECK_EQ(Continue, result);
    }
    _SetEnterSafeModeHandler(nullptr);
}

// An 800-unit detail reaches the box cut to its first 763 units, with the whole closing
// sentence of the frame after it.
void RunLong() {
    std::wstring detail;
    for (int i = 0; i < 800; ++i) {
        detail += static_cast<wchar_t>(L'a' + i % 26);
    }
    BoxWatcher watcher(BoxAnswer::Ok);
    int32_t result = _WarnDebug(L"l.cpp", 1, L"%s", detail.c_str());
    const SeenBox &seen = watcher.Wait();
    Report("long", BoxAnswer::Ok, seen, result);
    CheckShape(seen, kAssertionCaption, false);
    CHECK_TEXT(L"l.cpp, line 1 : " + detail.substr(0, 763) +
                   L"\n Press OK to continue or CANCEL to debug.",
               seen.text);
    CHECK_EQ(Continue, result);
}

// Prompts from several threads at once: each report composes, meets its hook and copies
// its text under the report lock, so a hook always sees its own thread's message, and
// every box shows one whole message. The boxes themselves are up together, each answered
// by a click on its own OK.
constexpr int kThreads = 10;
constexpr int kPromptsPerThread = 2;
volatile LONG g_mixedUp = 0;
thread_local std::wstring t_expected;

int32_t KVZ_CDECL CheckOwnMessage(void *message) {
    if (t_expected != static_cast<const wchar_t *>(message)) {
        InterlockedIncrement(&g_mixedUp);
    }
    Sleep(10); // a wide window for another thread to slip in, were there no lock
    if (t_expected != static_cast<const wchar_t *>(message)) {
        InterlockedIncrement(&g_mixedUp);
    }
    return 0;
}

DWORD WINAPI PromptThread(void *param) {
    int id = static_cast<int>(reinterpret_cast<intptr_t>(param));
    int32_t failures = 0;
    for (int i = 0; i < kPromptsPerThread; ++i) {
        std::wstring detail = L"thread " + std::to_wstring(id) + L" prompt " + std::to_wstring(i);
        t_expected = L"t.cpp, line " + std::to_wstring(id) + L" : " + detail +
                     L"\n Press OK to continue or CANCEL to report this error.";
        if (_WarnRelease(L"t.cpp", id, L"%s", detail.c_str()) != Continue) {
            ++failures;
        }
    }
    return static_cast<DWORD>(failures);
}

void RunThreads() {
    _SetEnterSafeModeHandler(CheckOwnMessage);
    HANDLE threads[kThreads];
    for (int i = 0; i < kThreads; ++i) {
        threads[i] = CreateThread(nullptr, 0, PromptThread,
                                  reinterpret_cast<void *>(static_cast<intptr_t>(i)), 0, nullptr);
    }
    // Press each box's own OK until all the prompts have returned; each box that goes away
    // is counted with the text it showed.
    std::vector<std::wstring> texts;
    std::map<HWND, std::wstring> up;
    const ULONGLONG deadline = GetTickCount64() + 60000;
    while (WaitForMultipleObjects(kThreads, threads, TRUE, 0) == WAIT_TIMEOUT &&
           GetTickCount64() < deadline) {
        Sleep(50); // let the boxes settle, as a person's eye would
        for (HWND box : wine_test::FindOwnDialogs()) {
            up.try_emplace(box, wine_test::ReadBox(box).text);
        }
        if (!up.empty() && wine_test::AnswerBox(up.begin()->first, BoxAnswer::Ok)) {
            for (int i = 0; i < 100 && IsWindowVisible(up.begin()->first); ++i) {
                Sleep(20);
            }
        }
        for (auto it = up.begin(); it != up.end();) {
            bool gone = !IsWindow(it->first) || !IsWindowVisible(it->first);
            if (gone) {
                texts.push_back(it->second);
            }
            it = gone ? up.erase(it) : std::next(it);
        }
    }
    for (HANDLE thread : threads) {
        DWORD failures = 1;
        CHECK(WaitForSingleObject(thread, 0) == WAIT_OBJECT_0);
        GetExitCodeThread(thread, &failures);
        CHECK_EQ(0ul, static_cast<unsigned long>(failures));
        CloseHandle(thread);
    }
    _SetEnterSafeModeHandler(nullptr);
    CHECK_EQ(0l, static_cast<long>(g_mixedUp));
    CHECK_EQ(static_cast<size_t>(kThreads * kPromptsPerThread), texts.size());
    for (const std::wstring &text : texts) {
        bool whole = text.rfind(L"t.cpp, line ", 0) == 0 &&
                     text.find(L"\n Press OK to continue or CANCEL to report this error.") !=
                         std::wstring::npos;
        CHECK(whole);
    }
    printf("threads: %d threads x %d prompts, %zu boxes answered, %ld mixed-up messages\n",
           kThreads, kPromptsPerThread, texts.size(), static_cast<long>(g_mixedUp));
}

} // namespace

int main(int argc, char **argv) {
    const char *which = argc > 1 ? argv[1] : "";
    for (const Prompt &prompt : kPrompts) {
        if (strcmp(which, prompt.name) == 0) {
            RunPrompt(prompt);
            return wine_test::Finish(prompt.name);
        }
    }
    if (strcmp(which, "safe-mode") == 0) {
        RunSafeMode();
    } else if (strcmp(which, "long") == 0) {
        RunLong();
    } else if (strcmp(which, "threads") == 0) {
        RunThreads();
    } else {
        fprintf(stderr,
                "usage: %s warn-debug|warn-release|break-release|warn-final|safe-mode|"
                "long|threads\n",
                argv[0]);
        return 2;
    }
    return wine_test::Finish(which);
}
