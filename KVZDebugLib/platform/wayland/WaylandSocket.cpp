#include "KVZDebugLib/platform/wayland/WaylandSocket.h"

#include "KVZDebugLib/platform/posix/BoxWait.h"

#include <errno.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kvz::platform {

namespace {

// A compositor whose queue of connections is full is asked again after this pause.
constexpr int kBusyPauseMs = 10;

// Appends `text` to out[*length], within capacity; false when it does not fit.
bool Append(char *out, size_t capacity, size_t *length, const char *text) {
    const size_t size = strlen(text);
    if (*length + size >= capacity) {
        return false;
    }
    memcpy(out + *length, text, size + 1);
    *length += size;
    return true;
}

// Waits for a connect under way to end; true when it succeeded.
bool Connected(int fd, int64_t deadline) {
    if (!WaitFor(fd, POLLOUT, deadline)) {
        return false;
    }
    int error = 0;
    socklen_t size = sizeof error;
    return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

} // namespace

bool WaylandSocketPath(const char *display, const char *runtimeDir, char *out, size_t capacity) {
    if (capacity == 0) {
        return false;
    }
    out[0] = 0;
    size_t length = 0;
    if (display == nullptr || display[0] == 0) {
        return false;
    }
    if (display[0] == '/') {
        return Append(out, capacity, &length, display);
    }
    if (runtimeDir == nullptr || runtimeDir[0] != '/') {
        return false;
    }
    const bool ok = Append(out, capacity, &length, runtimeDir) &&
                    Append(out, capacity, &length, "/") && Append(out, capacity, &length, display);
    if (!ok) {
        out[0] = 0;
    }
    return ok;
}

int ConnectWayland(const char *path, int64_t deadline) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (strlen(path) >= sizeof address.sun_path) {
        return -1;
    }
    memcpy(address.sun_path, path, strlen(path) + 1);
    for (;;) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return -1;
        }
        int result;
        do {
            result = connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
        } while (result < 0 && errno == EINTR);
        if (result == 0 || (errno == EINPROGRESS && Connected(fd, deadline))) {
            return fd;
        }
        const bool busy = errno == EAGAIN;
        close(fd);
        // A full queue of connections is not a refusal: asked again until the deadline.
        if (!busy || MonotonicMs() + kBusyPauseMs >= deadline) {
            return -1;
        }
        poll(nullptr, 0, kBusyPauseMs);
    }
}

} // namespace kvz::platform
