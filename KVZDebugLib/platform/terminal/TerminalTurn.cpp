// The terminal prompt's turn: one atomic word naming the thread that has it, so taking
// it needs no set-up, allocates nothing and is safe in a signal handler. A waiting thread
// looks again every few hundredths of a second; prompts are answered by people, so the
// wait is theirs, not the lock's.
#include "KVZDebugLib/platform/terminal/TerminalTurn.h"

#include <atomic>
#include <poll.h>
#include <pthread.h>
#include <stdint.h>
#include <string.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif

namespace kvz::platform {

namespace {

constexpr int kWaitStepMs = 20;

// The holder: its process id in the high half, its thread's id in the low half; 0 when
// the turn is free. The process id tells a forked child that a turn its parent's thread
// held at the fork is nobody's now.
std::atomic<uint64_t> g_Holder{0};

uint64_t ThisThread() {
    uint32_t thread = 0;
#if defined(__linux__)
    thread = static_cast<uint32_t>(syscall(SYS_gettid));
#elif defined(__APPLE__)
    uint64_t id = 0;
    pthread_threadid_np(nullptr, &id);
    thread = static_cast<uint32_t>(id);
#else
    const pthread_t self = pthread_self();
    memcpy(&thread, &self, sizeof thread < sizeof self ? sizeof thread : sizeof self);
#endif
    return static_cast<uint64_t>(static_cast<uint32_t>(getpid())) << 32 | thread;
}

} // namespace

bool TakeTerminalTurn() {
    const uint64_t me = ThisThread();
    for (;;) {
        uint64_t holder = g_Holder.load();
        if (holder == me) {
            return false;
        }
        const bool free = holder == 0 || (holder >> 32) != (me >> 32);
        if (free && g_Holder.compare_exchange_weak(holder, me)) {
            return true;
        }
        if (!free) {
            poll(nullptr, 0, kWaitStepMs);
        }
    }
}

void EndTerminalTurn() {
    g_Holder.store(0);
}

} // namespace kvz::platform
