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

} // namespace kvz::recording
