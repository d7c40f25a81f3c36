// Answers the next message box of this process the way a person would, from a thread of
// its own, and records what the box showed: caption, text, buttons, icon.
#pragma once

#include "WineTest.h"

#include <functional>
#include <string>
#include <vector>

namespace wine_test {

enum class BoxAnswer {
    Ok,       // click OK
    Cancel,   // click CANCEL
    Enter,    // press Enter (the default button)
    Escape,   // press Escape
    Close,    // WM_CLOSE, as when the window is closed
    SysClose, // SC_CLOSE, the close box of the title bar
    Click,    // the mouse pressed and released over OK, through the system's input
};

const char *AnswerName(BoxAnswer answer);

struct SeenBox {
    bool found = false;
    HWND window = nullptr;
    std::wstring caption;
    std::wstring text;        // the static text control, ID 0xFFFF
    std::vector<int> buttons; // IDs of the visible buttons, left to right
    bool icon = false;        // a visible icon
    int defaultButton = 0;    // the ID that Enter chooses
    LONG style = 0;           // window styles, which the box's own styles set
    LONG exStyle = 0;
    bool gone = false;           // the window went away after the answer
    ULONGLONG answeredAt = 0;    // GetTickCount64 when the answer was given
    bool upWhenAnswered = false; // the box was still up then
    bool clickMissed = false;    // a Click did not end the box, and OK was pressed instead
    std::wstring ButtonNames() const;
};

class BoxWatcher {
  public:
    // Starts watching; the box may appear any time within timeoutMs. Once the box is read,
    // whileUp (if any) is called with it on the watcher's thread, before the answer.
    explicit BoxWatcher(BoxAnswer answer, DWORD timeoutMs = 20000,
                        std::function<void(HWND)> whileUp = {});
    ~BoxWatcher();
    BoxWatcher(const BoxWatcher &) = delete;
    BoxWatcher &operator=(const BoxWatcher &) = delete;

    // Waits for the watcher to finish and returns what it saw.
    const SeenBox &Wait();

  private:
    static DWORD WINAPI Run(void *self);
    void Watch();

    BoxAnswer answer_;
    DWORD timeoutMs_;
    std::function<void(HWND)> whileUp_;
    SeenBox seen_;
    HANDLE thread_ = nullptr;
    HANDLE started_ = nullptr;
};

// The visible top-level dialog windows of this process.
std::vector<HWND> FindOwnDialogs();

// Reads a box as SeenBox does, without answering it.
SeenBox ReadBox(HWND box);

// Answers a box; returns false when the answer could not be given.
bool AnswerBox(HWND box, BoxAnswer answer);

} // namespace wine_test
