// The message box as a window of its own on the Wayland compositor WAYLAND_DISPLAY names.
//
// libwayland-client and libxkbcommon are loaded with dlopen when the first box is wanted
// (WaylandLibrary.cpp), beside the font and text libraries every desktop box shares; the
// module has no link-time Wayland dependency.
//
// Each box makes its own connection (WaylandSocket.h), used by the calling thread alone,
// and closes it once answered: the host's own connections, on any thread, are untouched.
// libwayland waits for its compositor with no time limit, so the box never lets it wait:
// it reads only what poll() says has come, within a deadline (WaylandConnection.cpp). A
// compositor that stops answering or goes is, before the window is up, a box that cannot
// be shown here (the next kind is tried), and after, a box closed.
//
// The box is drawn whole by the scene (dialog/DialogScene.h), at the scale the compositor
// prefers, with its own caption band: many compositors draw no frame for a client.
#include "KVZDebugLib/platform/posix/BoxWait.h"
#include "KVZDebugLib/platform/posix/PosixMessageBox.h"
#include "KVZDebugLib/platform/posix/SigpipeShield.h"
#include "KVZDebugLib/platform/wayland/WaylandBox.h"
#include "KVZDebugLib/platform/wayland/WaylandSocket.h"

#include <stdlib.h>
#include <sys/un.h>

namespace kvz::platform {

namespace {

// A box up asks whether its compositor still answers after this long without an answer.
constexpr int kQuietMs = 1000;

// Text is 10 points at the resolution Wayland assumes; the scale does the rest.
constexpr int kDpi = 96;

// Handles events until the box is answered: its answer, or the closed answer when the
// compositor closes the window, goes, or stops answering.
int32_t Loop(WaylandBox &box) {
    const int32_t closed = box.scene.ClosedAnswer();
    bool probing = false; // a probe is out, sent at probeSent
    int64_t probeSent = 0, lastAnswer = MonotonicMs();
    for (;;) {
        if (box.answer != 0) {
            return box.answer;
        }
        if (box.closed || box.lost) {
            return closed;
        }
        // An assistive client pressing a button answers as a click does.
        if (const int32_t pressed = box.accessible.Turn()) {
            return pressed;
        }
        RescaleIfWanted(box);
        if (box.stale) {
            Present(box);
        }
        const int64_t now = MonotonicMs();
        RepeatKey(box, now);
        if (probing && box.synced) {
            probing = false;
            lastAnswer = now;
        }
        if (!probing && now - lastAnswer >= kQuietMs) {
            probing = Sync(box);
            probeSent = now;
        }
        const int64_t wake = probing ? probeSent + kBoxDeadlineMs : lastAnswer + kQuietMs;
        if (probing && now >= wake) {
            box.lost = true; // the compositor has stopped: as if it had gone
            return closed;
        }
        const bool repeatFirst = box.repeatAt != 0 && box.repeatAt < wake;
        int64_t until = repeatFirst ? box.repeatAt : wake;
        const int soon = box.accessible.TimeoutMs();
        until = soon >= 0 && now + soon < until ? now + soon : until;
        if (ReadWithin(box, until)) {
            lastAnswer = MonotonicMs();
        }
    }
}

int32_t Run(WaylandBox &box, const KVZChar *text, const KVZChar *caption, BoxButtons buttons) {
    if (!BindGlobals(box)) {
        return kNoSuchBox;
    }
    const int scale = WantedScale(box);
    const SceneSetup setup = {kDpi, scale, WorkArea(box, scale), true};
    if (!box.scene.Prepare(text, caption, buttons, setup) || !ShowWindow(box, caption)) {
        return kNoSuchBox;
    }
    // Shown first: screen readers are told of the box after, through the session bus.
    box.accessible.Start(box.scene, text, caption, nullptr);
    const int32_t answer = Loop(box);
    box.accessible.Close();
    return answer;
}

void Release(WaylandBox &box) {
    Let(box, box.sync, wl_callback_destroy);
    ReleaseClipboard(box);
    ReleaseInput(box);
    ReleaseWindow(box);
    ReleaseGlobals(box);
    // What was let go is sent, so the window goes at once; closing the connection would
    // take it away too, a moment later.
    if (!box.lost) {
        FlushWithin(box, MonotonicMs() + kBoxDeadlineMs);
    }
}

} // namespace

int32_t ShowWaylandMessageBox(const KVZChar *text, const KVZChar *caption, BoxButtons buttons) {
    char path[sizeof sockaddr_un::sun_path];
    if (!WaylandSocketPath(getenv("WAYLAND_DISPLAY"), getenv("XDG_RUNTIME_DIR"), path,
                           sizeof path)) {
        return kNoSuchBox;
    }
    const WaylandFunctions *wl = LoadWayland();
    const XkbFunctions *xkb = wl != nullptr ? LoadXkb() : nullptr;
    if (xkb == nullptr) {
        return kNoSuchBox;
    }
    SigpipeShield shield;
    const int fd = ConnectWayland(path, MonotonicMs() + kBoxDeadlineMs);
    if (fd < 0) {
        return kNoSuchBox;
    }
    // The display owns the socket from here, and closes it, even when it cannot be made.
    wl_display *display = wl->wl_display_connect_to_fd(fd);
    if (display == nullptr) {
        return kNoSuchBox;
    }
    static const KVZChar kEmpty[] = {0};
    int32_t result;
    {
        WaylandBox box(*wl, *xkb);
        box.display = display;
        box.fd = fd;
        result = Run(box, text != nullptr ? text : kEmpty, caption != nullptr ? caption : kEmpty,
                     buttons);
        Release(box);
    }
    wl->wl_display_disconnect(display);
    return result;
}

} // namespace kvz::platform
