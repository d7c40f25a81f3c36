// What a box sets up on its caller's thread while it waits.
//
// The host's queue is kept: the box's modal loop would end at a WM_QUIT (answering for
// nobody) and would take the host's thread messages and drop them. Between Install and
// Remove a WM_QUIT, pending or arriving, is held back and thread messages are set aside;
// Remove posts them again, in their order, and the WM_QUIT last, with its exit code.
//
// The box is put in front: the first dialog window activated in that span is the box,
// and is made topmost then, where the system left it behind a topmost window of the host
// (some systems honour MB_TOPMOST only for system-modal boxes).
#pragma once

#if !defined(WIN32_LEAN_AND_MEAN)
#define WIN32_LEAN_AND_MEAN
#endif
#if !defined(NOMINMAX)
#define NOMINMAX
#endif
#include <windows.h>

#include <stddef.h>

namespace kvz::platform {

// Thread messages set aside per box. Past this many the rest go to the box's loop, which
// drops them, as any modal loop does.
constexpr size_t kKeptMessages = 64;

struct KeptMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// On the box's stack; nested boxes of one thread (a host's timer that prompts again) each
// keep what arrives during their own loop and hand it to the box around them at Remove.
struct BoxHooks {
    bool quit;
    WPARAM quitCode;
    size_t count;
    KeptMessage messages[kKeptMessages];
    HWND box;
    HHOOK messageHook;
    HHOOK windowHook;
    BoxHooks *outer;
};

void InstallBoxHooks(BoxHooks &hooks);
void RemoveBoxHooks(BoxHooks &hooks);

} // namespace kvz::platform
