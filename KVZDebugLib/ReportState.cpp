#include "KVZDebugLib/ReportState.h"

namespace kvz {

// Constant-initialised: no constructor runs at load, so the record is usable from the
// first call whatever the order of static initialisation in the host.
constinit ReportState g_ReportState{};

namespace {

// The holder's thread, 0 when the buffers are free. Taking them is one compare-and-swap,
// so a signal handler can never find the claim half made.
std::atomic<uintptr_t> g_Holder{0};
// Touched only on the holder's thread, but its signal handlers read them too, so they are
// atomics in program order: how many reports on it hold the buffers, and whether the
// innermost is calling a hook, which is when the thread may take them again.
std::atomic<unsigned> g_Depth{0};
std::atomic<bool> g_InHook{false};

} // namespace

SharedBuffers::SharedBuffers() : held(false) {
    const uintptr_t self = platform::CurrentThreadId();
    uintptr_t expected = 0;
    if (g_Holder.compare_exchange_strong(expected, self)) {
        g_Depth.store(1);
        held = true;
    } else if (expected == self && g_InHook.load()) {
        // A hook re-entering, or a signal handler that interrupted one: the report it
        // came from is waiting for the hook and does not touch the buffers meanwhile.
        g_InHook.store(false);
        g_Depth.fetch_add(1);
        held = true;
    }
}

SharedBuffers::~SharedBuffers() {
    if (!held) {
        return;
    }
    if (g_Depth.fetch_sub(1) == 1) {
        g_Holder.store(0);
    } else {
        g_InHook.store(true); // back inside the outer hook
    }
}

void BeginHookCall() {
    g_InHook.store(true);
}

void EndHookCall() {
    g_InHook.store(false);
}

} // namespace kvz
