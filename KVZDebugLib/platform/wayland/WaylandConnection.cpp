// Talking to the compositor without ever waiting past a deadline. libwayland's own
// round trip and dispatch wait for the compositor with no time limit; the box waits itself,
// in poll(), and hands libwayland only what has already come.
#include "KVZDebugLib/platform/posix/BoxWait.h"
#include "KVZDebugLib/platform/wayland/WaylandBox.h"

#include <errno.h>
#include <poll.h>

namespace kvz::platform {

namespace {

void OnDone(void *data, wl_callback *callback, uint32_t) {
    auto &box = *static_cast<WaylandBox *>(data);
    if (box.sync == callback) {
        box.sync = nullptr;
        box.synced = true;
    }
    wl_callback_destroy(callback);
}

const wl_callback_listener kDoneListener = {OnDone};

bool Lose(WaylandBox &box) {
    box.lost = true;
    return false;
}

} // namespace

bool FlushWithin(WaylandBox &box, int64_t deadline) {
    while (!box.lost) {
        if (box.wl.wl_display_flush(box.display) >= 0) {
            return true;
        }
        if (errno != EAGAIN || !WaitFor(box.fd, POLLOUT, deadline)) {
            return Lose(box);
        }
    }
    return false;
}

namespace {

// Waits for the compositor's socket to be readable until the deadline; false also as soon as
// the accessibility bus has something to do, so that the loop turns for it.
bool WaitForCompositor(WaylandBox &box, int64_t deadline) {
    for (;;) {
        pollfd wait[2] = {{box.fd, POLLIN, 0}, box.accessible.PollFor()};
        const int64_t left = deadline - MonotonicMs();
        if (left <= 0) {
            return false;
        }
        const int ready = poll(wait, 2, static_cast<int>(left));
        if (ready > 0) {
            return wait[0].revents != 0;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
}

} // namespace

// Reads what the compositor has sent, waiting for it until the deadline, and dispatches
// it. A deadline that passes with nothing read is not yet a loss: the caller decides.
bool ReadWithin(WaylandBox &box, int64_t deadline) {
    if (box.lost) {
        return false;
    }
    while (box.wl.wl_display_prepare_read(box.display) != 0) {
        if (box.wl.wl_display_dispatch_pending(box.display) < 0) {
            return Lose(box);
        }
    }
    if (!FlushWithin(box, deadline)) {
        box.wl.wl_display_cancel_read(box.display);
        return false;
    }
    if (!WaitForCompositor(box, deadline)) {
        box.wl.wl_display_cancel_read(box.display);
        return false;
    }
    if (box.wl.wl_display_read_events(box.display) < 0 ||
        box.wl.wl_display_dispatch_pending(box.display) < 0) {
        return Lose(box);
    }
    return true;
}

bool Sync(WaylandBox &box) {
    box.synced = false;
    Let(box, box.sync, wl_callback_destroy); // one unanswered is not waited for any more
    box.sync = box.lost ? nullptr : wl_display_sync(box.display);
    if (box.sync == nullptr) {
        return Lose(box);
    }
    wl_callback_add_listener(box.sync, &kDoneListener, &box);
    return true;
}

// Asks the compositor for a sync and waits for its answer, dispatching what comes before
// it. One that does not answer within the deadline is taken as lost.
bool RoundTrip(WaylandBox &box) {
    if (!Sync(box)) {
        return false;
    }
    const int64_t deadline = MonotonicMs() + kBoxDeadlineMs;
    while (!box.synced) {
        if (!ReadWithin(box, deadline) && !box.lost) {
            return Lose(box); // the deadline passed
        }
        if (box.lost) {
            return false;
        }
    }
    return box.wl.wl_display_get_error(box.display) == 0 || Lose(box);
}

} // namespace kvz::platform
