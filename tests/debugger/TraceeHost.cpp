// A host for the debugger tests. It calls exports whose hook slots are empty, so each
// call applies the debugger-break rule, and prints what the calls returned.
//
//   kvz-tracee forward   _AssertFailed, _AssertFailedEx, _EnterSafeMode, empty slots
//   kvz-tracee hooked    the same with hooks installed (never a stop)
//   kvz-tracee late      prints "loaded", waits for a line on stdin, then _AssertFailed
//   kvz-tracee prompts   the four prompts with no safe-mode hook
//   kvz-tracee blocked   as forward, on a thread that blocks every signal
#include "KVZDebugLib/KVZDebugLib.h"

#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

namespace {

int32_t KVZ_CDECL Three(intptr_t, intptr_t, intptr_t) {
    return 11;
}
int32_t KVZ_CDECL Four(intptr_t, intptr_t, intptr_t, intptr_t) {
    return 12;
}
int32_t KVZ_CDECL One(void *) {
    return 13;
}

void Forward() {
    int32_t a = _AssertFailed(1, 2, 3);
    int32_t b = _AssertFailedEx(1, 2, 3, 4);
    int32_t c = _EnterSafeMode(nullptr);
    printf("results: %d %d %d\n", a, b, c);
}

// Hosts that collect signals with sigwait block them all on their other threads.
void ForwardWithEverySignalBlocked() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    pthread_t thread;
    pthread_create(
        &thread, nullptr,
        [](void *) -> void * {
            Forward();
            return nullptr;
        },
        nullptr);
    pthread_join(thread, nullptr);
}

} // namespace

int main(int argc, char **argv) {
    const char *mode = argc > 1 ? argv[1] : "";
    if (strcmp(mode, "forward") == 0) {
        Forward();
    } else if (strcmp(mode, "hooked") == 0) {
        _SetAssertionFailedHandler(Three);
        _SetAssertionFailedExHandler(Four);
        _SetEnterSafeModeHandler(One);
        Forward();
    } else if (strcmp(mode, "late") == 0) {
        printf("loaded\n");
        fflush(stdout);
        char line[16];
        if (fgets(line, sizeof line, stdin) == nullptr) {
            return 3;
        }
        printf("results: %d\n", _AssertFailed(1, 2, 3));
    } else if (strcmp(mode, "prompts") == 0) {
        int32_t a = _WarnDebug(KVZ_TEXT("t.cpp"), 1, KVZ_TEXT("%d"), 1);
        int32_t b = _WarnRelease(KVZ_TEXT("t.cpp"), 2, KVZ_TEXT("%d"), 2);
        int32_t c = _BreakRelease(KVZ_TEXT("t.cpp"), 3);
        int32_t d = _WarnFinal(KVZ_TEXT("%d"), 4);
        printf("results: %d %d %d %d\n", a, b, c, d);
    } else if (strcmp(mode, "blocked") == 0) {
        ForwardWithEverySignalBlocked();
    } else {
        fprintf(stderr, "usage: %s forward|hooked|late|prompts|blocked\n", argv[0]);
        return 2;
    }
    return 0;
}
