// A box's hooks on its caller's thread. A WH_GETMESSAGE hook sees each message the box's
// loop takes out, and turns a WM_QUIT or a thread message into WM_NULL after noting it
// down, so the loop neither ends nor drops it. A WH_CBT hook sees the box made and
// activated.
#include "KVZDebugLib/platform/windows/BoxHooks.h"

#include <atomic>

namespace kvz::platform {

namespace {

// The hook procedure finds its thread's innermost box here: the library has no
// thread-local storage of its own to set up. A thread takes one slot for all its nested
// boxes; beyond kThreadSlots threads with a box up at once, a box keeps only the WM_QUIT
// pending before it, and is left where the system puts it.
struct ThreadSlot {
    std::atomic<DWORD> thread; // 0 while free
    BoxHooks *innermost;       // read and written by that thread only
};
constexpr size_t kThreadSlots = 64;
ThreadSlot g_slots[kThreadSlots];

ThreadSlot *OwnSlot(DWORD thread) {
    for (ThreadSlot &slot : g_slots) {
        if (slot.thread.load(std::memory_order_acquire) == thread) {
            return &slot;
        }
    }
    return nullptr;
}

ThreadSlot *TakeSlot(DWORD thread) {
    if (ThreadSlot *own = OwnSlot(thread)) {
        return own;
    }
    for (ThreadSlot &slot : g_slots) {
        DWORD free = 0;
        if (slot.thread.compare_exchange_strong(free, thread, std::memory_order_acq_rel)) {
            slot.innermost = nullptr;
            return &slot;
        }
    }
    return nullptr;
}

// Posted to the thread, not sent to a window. Timers and input that have no window are
// the system's, and the loop handles them as it always does.
bool IsThreadMessage(const MSG &msg) {
    const UINT m = msg.message;
    return msg.hwnd == nullptr && m != WM_NULL && m != WM_TIMER && m != 0x0118 /* WM_SYSTIMER */ &&
           !(m >= WM_KEYFIRST && m <= WM_KEYLAST) && !(m >= WM_MOUSEFIRST && m <= WM_MOUSELAST);
}

void NoteQuit(BoxHooks &hooks, WPARAM code) {
    if (!hooks.quit) {
        hooks.quit = true;
        hooks.quitCode = code;
    }
}

// Whether the message was taken in hand: a WM_QUIT always (only noted once removed), a
// removed thread message while there is room.
bool Keep(BoxHooks &hooks, const MSG &msg, bool removed) {
    if (msg.message == WM_QUIT) {
        if (removed) {
            NoteQuit(hooks, msg.wParam);
        }
        return true;
    }
    if (!removed || hooks.count == kKeptMessages) {
        return false;
    }
    hooks.messages[hooks.count++] = KeptMessage{msg.message, msg.wParam, msg.lParam};
    return true;
}

BoxHooks *Innermost() {
    ThreadSlot *slot = OwnSlot(GetCurrentThreadId());
    return slot != nullptr ? slot->innermost : nullptr;
}

LRESULT CALLBACK MessageProc(int code, WPARAM removal, LPARAM param) {
    MSG *msg = reinterpret_cast<MSG *>(param);
    if (code == HC_ACTION && msg != nullptr && IsThreadMessage(*msg)) {
        BoxHooks *hooks = Innermost();
        if (hooks != nullptr && Keep(*hooks, *msg, (removal & PM_REMOVE) != 0)) {
            msg->message = WM_NULL;
        }
    }
    return CallNextHookEx(nullptr, code, removal, param);
}

// The first dialog window activated during the call is the box: the host's windows are
// disabled by then, and nothing of the host's runs before the box's loop does.
bool IsBox(HWND window) {
    wchar_t name[8] = {};
    return GetClassNameW(window, name, 8) == 6 && lstrcmpW(name, L"#32770") == 0;
}

// SWP_NOACTIVATE: it is being activated already.
LRESULT CALLBACK WindowProc(int code, WPARAM wParam, LPARAM lParam) {
    HWND window = reinterpret_cast<HWND>(wParam);
    BoxHooks *hooks = code == HCBT_ACTIVATE ? Innermost() : nullptr;
    if (hooks != nullptr && hooks->box == nullptr && IsBox(window)) {
        hooks->box = window;
        if ((GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) == 0) {
            SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Thread messages posted after the box's loop ended, still queued, are taken in hand too,
// so that posting the kept ones again does not put them behind these. (A thread timer due
// just then is taken out with them and fires at its next period.)
void TakeTheRest(BoxHooks &hooks) {
    MSG msg;
    for (size_t i = 0; i < kKeptMessages + 16 && hooks.count < kKeptMessages &&
                       PeekMessageW(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE);
         ++i) {
    }
}

} // namespace

void InstallBoxHooks(BoxHooks &hooks) {
    hooks.quit = false;
    hooks.quitCode = 0;
    hooks.count = 0;
    hooks.box = nullptr;
    hooks.messageHook = nullptr;
    hooks.windowHook = nullptr;
    hooks.outer = nullptr;
    // A WM_QUIT already waiting would end the box the moment it is made. (Inside another
    // box, that box's hook takes it and hands back WM_NULL.)
    MSG msg;
    for (int i = 0; i < 16 && PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE); ++i) {
        if (msg.message == WM_QUIT) {
            NoteQuit(hooks, msg.wParam);
        }
    }
    const DWORD thread = GetCurrentThreadId();
    ThreadSlot *slot = TakeSlot(thread);
    if (slot == nullptr) {
        return;
    }
    hooks.outer = slot->innermost;
    slot->innermost = &hooks;
    hooks.messageHook = SetWindowsHookExW(WH_GETMESSAGE, MessageProc, nullptr, thread);
    hooks.windowHook = SetWindowsHookExW(WH_CBT, WindowProc, nullptr, thread);
}

// What arrived during an inner box is posted again here, and so taken in hand by the box
// around it, whose hook is still in place.
void RemoveBoxHooks(BoxHooks &hooks) {
    const DWORD thread = GetCurrentThreadId();
    if (hooks.messageHook != nullptr) {
        TakeTheRest(hooks);
    }
    for (HHOOK hook : {hooks.messageHook, hooks.windowHook}) {
        if (hook != nullptr) {
            UnhookWindowsHookEx(hook);
        }
    }
    ThreadSlot *slot = OwnSlot(thread);
    if (slot != nullptr && slot->innermost == &hooks) {
        slot->innermost = hooks.outer;
        if (hooks.outer == nullptr) {
            slot->thread.store(0, std::memory_order_release);
        }
    }
    for (size_t i = 0; i < hooks.count; ++i) {
        PostThreadMessageW(thread, hooks.messages[i].message, hooks.messages[i].wParam,
                           hooks.messages[i].lParam);
    }
    if (hooks.quit) {
        PostQuitMessage(static_cast<int>(hooks.quitCode));
    }
}

} // namespace kvz::platform
