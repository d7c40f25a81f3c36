#include "KVZDebugLib/platform/posix/SigpipeShield.h"

#include <errno.h>
#include <pthread.h>
#include <time.h>

namespace kvz::platform {

SigpipeShield::SigpipeShield() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    pendingBefore_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
}

SigpipeShield::~SigpipeShield() {
    sigset_t pending;
    sigemptyset(&pending);
    if (!pendingBefore_ && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
        const timespec now = {0, 0};
        while (sigtimedwait(&pipe_, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

} // namespace kvz::platform
