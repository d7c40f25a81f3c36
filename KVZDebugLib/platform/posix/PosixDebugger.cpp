// The being-debugged flag and the trap guard on POSIX systems.
#include "KVZDebugLib/platform/Platform.h"

#include <atomic>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#if defined(__APPLE__)
#include <sys/sysctl.h>
#include <sys/types.h>
#endif

namespace kvz::platform {

namespace {

#if !defined(__APPLE__)
// Finds the TracerPid line in a terminated text. Returns whether the line was
// there whole, so that no further read is needed; *traced tells whether its pid is not 0.
bool FindTracerPid(const char *text, bool *traced) {
    static const char kKey[] = "\nTracerPid:";
    const char *field = strstr(text, kKey);
    if (field == nullptr) {
        return false;
    }
    field += sizeof kKey - 1;
    while (*field == ' ' || *field == '\t') {
        ++field;
    }
    // Any pid other than 0 is a tracer.
    *traced = *field >= '1' && *field <= '9';
    return strchr(field, '\n') != nullptr;
}

// Reads /proc/self/status into a stack buffer: no allocation, no stdio, nothing cached.
// The TracerPid line comes within the first few hundred bytes, so one open, one read and
// one close answer the question; more reads follow only if a read ever stops short of
// that line. The buffer is small enough for a signal handler's stack.
bool ReadTracerPid() {
    int fd;
    do {
        fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return false;
    }
    char buffer[1024];
    buffer[0] = '\0';
    size_t length = 0;
    bool traced = false;
    bool whole = false;
    while (!whole && length < sizeof buffer - 1) {
        ssize_t got = read(fd, buffer + length, sizeof buffer - 1 - length);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        length += static_cast<size_t>(got);
        buffer[length] = '\0';
        whole = FindTracerPid(buffer, &traced);
    }
    close(fd);
    // A line cut short by the end of the text counts for what it shows (found above).
    return traced;
}
#endif

// The trap guard's shared state: how many traps are under way in the process, and the
// disposition the first of them replaced. It is changed only under g_TrapGuardOwner, a
// spin lock held for a few system calls with every signal blocked, so a signal handler on
// the holder's thread can never wait for it. The lock names the holding process: a forked
// child finds its parent's pid there and takes the lock over, with the counts it guarded.
std::atomic<pid_t> g_TrapGuardOwner{0};
unsigned g_TrapsUnderWay = 0;
bool g_StepOverInstalled = false;
struct sigaction g_SavedTrapAction;

void LockTrapGuard() {
    const pid_t self = getpid();
    for (;;) {
        pid_t owner = 0;
        if (g_TrapGuardOwner.compare_exchange_strong(owner, self)) {
            return;
        }
        if (owner != self && g_TrapGuardOwner.compare_exchange_strong(owner, self)) {
            g_TrapsUnderWay = 0; // the parent's traps are not this process's
            return;
        }
        sched_yield();
    }
}

void UnlockTrapGuard() {
    g_TrapGuardOwner.store(0);
}

// Every trap (Trap.h) leaves the program counter past itself, so returning steps over it.
void StepOverTrap(int, siginfo_t *, void *) {}

} // namespace

bool IsDebuggerAttached() {
#if defined(__APPLE__)
    int request[4] = {CTL_KERN, KERN_PROC, KERN_PROC_PID, static_cast<int>(getpid())};
    struct kinfo_proc info;
    size_t size = sizeof info;
    memset(&info, 0, sizeof info);
    if (sysctl(request, 4, &info, &size, nullptr, 0) != 0) {
        return false;
    }
    return (info.kp_proc.p_flag & P_TRACED) != 0;
#else
    return ReadTracerPid();
#endif
}

// A debugger takes the trap and never hands it on. A tracer that is not a debugger
// (strace) hands SIGTRAP back, and its default action would end the process, so while any
// trap runs a handler that steps over it stands in for the default. A host's own handler
// is left in place: the host has chosen what SIGTRAP means to it. A blocked SIGTRAP from
// int3 would end the process whatever the handler (and one sent by the AArch64 trap would
// wait, to strike after the trap's guard is gone), so it is unblocked on this thread for
// the trap's duration.
void BeginTrap(TrapState *state) {
    static_assert(sizeof(sigset_t) <= sizeof state->savedMask);
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    memcpy(state->savedMask, &previous, sizeof previous);

    LockTrapGuard();
    if (g_TrapsUnderWay++ == 0 && !g_StepOverInstalled) {
        struct sigaction current;
        sigaction(SIGTRAP, nullptr, &current);
        bool isDefault = (current.sa_flags & SA_SIGINFO) == 0 &&
                         (current.sa_handler == SIG_DFL || current.sa_handler == SIG_IGN);
        if (isDefault) {
            struct sigaction stepOver;
            memset(&stepOver, 0, sizeof stepOver);
            stepOver.sa_sigaction = StepOverTrap;
            stepOver.sa_flags = SA_SIGINFO;
            sigemptyset(&stepOver.sa_mask);
            g_StepOverInstalled = sigaction(SIGTRAP, &stepOver, &g_SavedTrapAction) == 0;
        }
    }
    UnlockTrapGuard();

    sigset_t during = previous;
    sigdelset(&during, SIGTRAP);
    pthread_sigmask(SIG_SETMASK, &during, nullptr);
}

void EndTrap(const TrapState *state) {
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, nullptr);
    LockTrapGuard();
    if (g_TrapsUnderWay > 0 && --g_TrapsUnderWay == 0 && g_StepOverInstalled) {
        sigaction(SIGTRAP, &g_SavedTrapAction, nullptr);
        g_StepOverInstalled = false;
    }
    UnlockTrapGuard();
    memcpy(&previous, state->savedMask, sizeof previous);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

} // namespace kvz::platform
