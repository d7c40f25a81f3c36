#include "KVZDebugLib/ReportState.h"

namespace kvz {

// Constant-initialised: no constructor runs at load, so the record is usable from the
// first call whatever the order of static initialisation in the host.
constinit ReportState g_ReportState{};

namespace {

// The holder's thread, 0 when the buffers are free. Taking them is one compare-and-swap,
// so a signal handler can never find the claim half made.
std::atomic<uintptr_t> g_Holder{0};
// Touched only on the holder's thread, where its signal handlers may read them too: how
// many reports on it hold the buffers, and whether the innermost is calling a hook, which
// is when the thread may take them again. One thread needs no ordering between threads,
// only in program order as its handlers see it, which the signal fences keep.
std::atomic<unsigned> g_Depth{0};
std::atomic<bool> g_InHook{false};

void SetInHook(bool inHook) {
    std::atomic_signal_fence(std::memory_order_seq_cst);
    g_InHook.store(inHook, std::memory_order_relaxed);
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

} // namespace

SharedBuffers::SharedBuffers() : held(false) {
    const uintptr_t self = platform::CurrentThreadId();
    uintptr_t expected = 0;
    if (g_Holder.compare_exchange_strong(expected, self, std::memory_order_acquire,
                                         std::memory_order_relaxed)) {
        g_Depth.store(1, std::memory_order_relaxed);
        held = true;
    } else if (expected == self && g_InHook.load(std::memory_order_relaxed)) {
        // A hook re-entering, or a signal handler that interrupted one: the report it
        // came from is waiting for the hook and does not touch the buffers meanwhile.
        SetInHook(false);
        g_Depth.store(g_Depth.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        held = true;
    }
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

SharedBuffers::~SharedBuffers() {
    if (!held) {
        return;
    }
    std::atomic_signal_fence(std::memory_order_seq_cst);
    const unsigned depth = g_Depth.load(std::memory_order_relaxed) - 1;
    g_Depth.store(depth, std::memory_order_relaxed);
    if (depth == 0) {
        g_Holder.store(0, std::memory_order_release);
    } else {
        SetInHook(true); // back inside the outer hook
    }
}

void BeginHookCall() {
    SetInHook(true);
}

void EndHookCall() {
    SetInHook(false);
}

} // namespace kvz
