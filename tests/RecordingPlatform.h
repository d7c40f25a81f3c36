// A stand-in for the platform that records what the library asks of it, so the library's
// logic is tested headless, fast, and with no debugger.
#pragma once

#include "KVZDebugLib/platform/Platform.h"

#include <functional>
#include <string>
#include <vector>

namespace kvz::recording {

enum class EventKind { Output, Box, Trap };

struct Event {
    EventKind kind;
    std::u16string text;    // the output or box text
    std::u16string caption; // boxes only
    platform::BoxButtons buttons = platform::BoxOk;
};

// Clears the record, the answers, and the library's state (hooks and buffers).
void Reset();

// What the stand-in reports as the being-debugged flag (default false).
void SetDebuggerAttached(bool attached);
// The answer every box gives (default kBoxOk), or a function that decides.
void SetBoxAnswer(int32_t answer);
void SetBoxAnswerer(std::function<int32_t(const Event &)> answerer);

std::vector<Event> Events();
int FlagReads();

// The calling thread's last-error value, which the stand-in keeps as Windows does. Every
// platform operation the library asks for (output, the flag, a box, a trap) leaves errno
// and this value changed, as the real ones may, so the tests see that the exports put
// the host's values back.
void SetLastErrorValue(uint32_t value);
uint32_t LastErrorValue();
constexpr int kClobberedErrno = 9901;
constexpr uint32_t kClobberedLastError = 9902;

// A lighter mode for tests that make very many reports: while an observer is set, each
// output and box is handed to it on the caller's thread, as the library passes it, and is
// not recorded. The observer's result is the box's answer (ignored for output); caption is
// null for output. Reset() removes the observer.
using Observer = int32_t (*)(EventKind kind, const KVZChar *text, const KVZChar *caption,
                             platform::BoxButtons buttons);
void SetObserver(Observer observer);

} // namespace kvz::recording
