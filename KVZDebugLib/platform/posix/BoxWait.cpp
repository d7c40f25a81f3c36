#include "KVZDebugLib/platform/posix/BoxWait.h"

#include <errno.h>
#include <poll.h>
#include <time.h>

namespace kvz::platform {

int64_t MonotonicMs() {
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool WaitFor(int fd, short events, int64_t deadline) {
    for (;;) {
        const int64_t left = deadline - MonotonicMs();
        if (left <= 0) {
            return false;
        }
        pollfd wait = {fd, events, 0};
        const int ready = poll(&wait, 1, static_cast<int>(left));
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
}

} // namespace kvz::platform
