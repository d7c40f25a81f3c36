#include "BoxWatcher.h"

#include <algorithm>
#include <utility>

namespace wine_test {

namespace {

BOOL CALLBACK CollectDialog(HWND window, LPARAM param) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t className[32] = {};
    GetClassNameW(window, className, 32);
    if (process == GetCurrentProcessId() && IsWindowVisible(window) &&
        lstrcmpW(className, L"#32770") == 0) {
        reinterpret_cast<std::vector<HWND> *>(param)->push_back(window);
    }
    return TRUE;
}

struct Controls {
    std::vector<std::pair<int, HWND>> buttons;
    bool icon = false;
};

BOOL CALLBACK CollectControl(HWND control, LPARAM param) {
    Controls &controls = *reinterpret_cast<Controls *>(param);
    if (!IsWindowVisible(control)) {
        return TRUE;
    }
    wchar_t className[32] = {};
    GetClassNameW(control, className, 32);
    LONG style = GetWindowLongW(control, GWL_STYLE);
    if (lstrcmpiW(className, L"Button") == 0) {
        controls.buttons.emplace_back(GetDlgCtrlID(control), control);
    } else if (lstrcmpiW(className, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON &&
               SendMessageW(control, STM_GETICON, 0, 0) != 0) {
        controls.icon = true; // a place for an icon that holds none is no icon
    }
    return TRUE;
}

// Moves the pointer to the middle of the control and presses and releases the left
// button there, as the mouse would: the window under the pointer gets the click.
bool ClickOn(HWND control) {
    RECT rect;
    if (control == nullptr || !GetWindowRect(control, &rect) ||
        !SetCursorPos((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2)) {
        return false;
    }
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_MOUSE;
    input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    return SendInput(2, input, sizeof(INPUT)) == 2;
}

bool WaitGone(HWND box, ULONGLONG deadline) {
    while (GetTickCount64() < deadline) {
        if (!IsWindow(box) || !IsWindowVisible(box)) {
            return true;
        }
        Sleep(20);
    }
    return false;
}

std::wstring WindowText(HWND window) {
    wchar_t text[4096] = {};
    GetWindowTextW(window, text, 4096);
    return text;
}

} // namespace

const char *AnswerName(BoxAnswer answer) {
    switch (answer) {
    case BoxAnswer::Ok:
        return "OK";
    case BoxAnswer::Cancel:
        return "CANCEL";
    case BoxAnswer::Enter:
        return "Enter";
    case BoxAnswer::Escape:
        return "Escape";
    case BoxAnswer::Close:
        return "WM_CLOSE";
    case BoxAnswer::SysClose:
        return "SC_CLOSE";
    case BoxAnswer::Click:
        return "click";
    }
    return "?";
}

std::wstring SeenBox::ButtonNames() const {
    std::wstring names;
    for (int id : buttons) {
        names += names.empty() ? L"" : L" ";
        names += id == IDOK ? L"IDOK" : id == IDCANCEL ? L"IDCANCEL" : std::to_wstring(id);
    }
    return names;
}

std::vector<HWND> FindOwnDialogs() {
    std::vector<HWND> dialogs;
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&dialogs));
    return dialogs;
}

SeenBox ReadBox(HWND box) {
    SeenBox seen;
    seen.found = true;
    seen.window = box;
    seen.caption = WindowText(box);
    wchar_t text[4096] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 4096);
    seen.text = text;
    Controls controls;
    EnumChildWindows(box, CollectControl, reinterpret_cast<LPARAM>(&controls));
    // Left to right, as a person reads them.
    std::vector<std::pair<LONG, int>> placed;
    for (auto &[id, control] : controls.buttons) {
        RECT rect;
        GetWindowRect(control, &rect);
        placed.emplace_back(rect.left, id);
    }
    std::sort(placed.begin(), placed.end());
    for (auto &[left, id] : placed) {
        seen.buttons.push_back(id);
    }
    seen.icon = controls.icon;
    LRESULT defaultId = SendMessageW(box, DM_GETDEFID, 0, 0);
    seen.defaultButton = HIWORD(defaultId) == DC_HASDEFID ? LOWORD(defaultId) : 0;
    seen.style = GetWindowLongW(box, GWL_STYLE);
    seen.exStyle = GetWindowLongW(box, GWL_EXSTYLE);
    return seen;
}

bool AnswerBox(HWND box, BoxAnswer answer) {
    switch (answer) {
    case BoxAnswer::Ok:
    case BoxAnswer::Cancel: {
        HWND button = GetDlgItem(box, answer == BoxAnswer::Ok ? IDOK : IDCANCEL);
        return button != nullptr && PostMessageW(button, BM_CLICK, 0, 0);
    }
    case BoxAnswer::Enter:
    case BoxAnswer::Escape: {
        // Keys go to the control with the focus; the dialog's own loop reads them.
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(GetWindowThreadProcessId(box, nullptr), &info);
        HWND target = info.hwndFocus != nullptr ? info.hwndFocus : box;
        WPARAM key = answer == BoxAnswer::Enter ? VK_RETURN : VK_ESCAPE;
        return PostMessageW(target, WM_KEYDOWN, key, 1) && PostMessageW(target, WM_KEYUP, key, 1);
    }
    case BoxAnswer::Close:
        return PostMessageW(box, WM_CLOSE, 0, 0);
    case BoxAnswer::SysClose:
        return PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0);
    case BoxAnswer::Click:
        return ClickOn(GetDlgItem(box, IDOK));
    }
    return false;
}

BoxWatcher::BoxWatcher(BoxAnswer answer, DWORD timeoutMs, std::function<void(HWND)> whileUp)
    : answer_(answer), timeoutMs_(timeoutMs), whileUp_(std::move(whileUp)) {
    // Running before the constructor returns: a thread still starting needs the loader's
    // lock, which a prompt from a module's entry routine holds.
    started_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    WaitForSingleObject(started_, 10000);
    CloseHandle(started_);
}

BoxWatcher::~BoxWatcher() {
    Wait();
}

const SeenBox &BoxWatcher::Wait() {
    if (thread_ != nullptr) {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    return seen_;
}

DWORD WINAPI BoxWatcher::Run(void *self) {
    static_cast<BoxWatcher *>(self)->Watch();
    return 0;
}

void BoxWatcher::Watch() {
    SetEvent(started_);
    const ULONGLONG deadline = GetTickCount64() + timeoutMs_;
    HWND box = nullptr;
    while (box == nullptr && GetTickCount64() < deadline) {
        std::vector<HWND> dialogs = FindOwnDialogs();
        if (!dialogs.empty()) {
            box = dialogs.front();
            break;
        }
        Sleep(20);
    }
    if (box == nullptr) {
        return;
    }
    // Read the box once it has its text and buttons, and give it a moment to take the
    // focus before keys are pressed.
    do {
        Sleep(50);
        seen_ = ReadBox(box);
    } while ((seen_.text.empty() || seen_.buttons.empty()) && IsWindow(box) &&
             GetTickCount64() < deadline);
    Sleep(50);
    if (whileUp_) {
        whileUp_(box);
    }
    seen_.answeredAt = GetTickCount64();
    seen_.upWhenAnswered = IsWindow(box) && IsWindowVisible(box);
    if (!AnswerBox(box, answer_)) {
        return;
    }
    // A click that went elsewhere (the box hidden under another window) leaves the box up:
    // it is then answered with OK, so the host goes on and can report what it saw.
    if (answer_ == BoxAnswer::Click && !WaitGone(box, GetTickCount64() + 1500)) {
        seen_.clickMissed = true;
        AnswerBox(box, BoxAnswer::Ok);
    }
    seen_.gone = WaitGone(box, deadline);
}

} // namespace wine_test
