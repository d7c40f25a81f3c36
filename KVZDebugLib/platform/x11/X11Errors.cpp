#include "KVZDebugLib/platform/x11/X11Errors.h"

#include <X11/Xproto.h>

#include <algorithm>
#include <errno.h>
#include <time.h>
#include <unistd.h>

namespace kvz::platform {

pthread_mutex_t g_GrabLock = PTHREAD_MUTEX_INITIALIZER;

namespace {

// Guards the slots' claiming and the handlers' swapping; never held while a box waits.
// The handlers themselves read only atomics.
pthread_mutex_t g_SlotLock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t g_SlotFreed = PTHREAD_COND_INITIALIZER;
bool g_HandlersInstalled = false;
BoxSlot g_Slots[kMaxBoxes];
std::atomic<XErrorHandler> g_HostErrorHandler{nullptr};
std::atomic<XIOErrorHandler> g_HostIOErrorHandler{nullptr};

BoxSlot *SlotOf(const Display *display) {
    for (BoxSlot &slot : g_Slots) {
        if (display != nullptr && slot.display.load() == display) {
            return &slot;
        }
    }
    return nullptr;
}

// Errors a box can meet in normal use and goes on from: the focus request races the
// window manager, a full colormap only costs the box its colours, and a client pasting
// the box's text may close its window before the text or the answer reaches it.
bool IsHarmless(const XErrorEvent &error) {
    return error.request_code == X_SetInputFocus || error.request_code == X_AllocColor ||
           (error.error_code == BadWindow &&
            (error.request_code == X_ChangeProperty || error.request_code == X_SendEvent));
}

int OnXError(Display *display, XErrorEvent *error) {
    if (BoxSlot *slot = SlotOf(display)) {
        if (!IsHarmless(*error)) {
            slot->failed.store(true);
        }
        return 0;
    }
    XErrorHandler host = g_HostErrorHandler.load();
    return host != nullptr && host != OnXError ? host(display, error) : 0;
}

int OnXIOError(Display *display) {
    if (BoxSlot *slot = SlotOf(display)) {
        slot->lost.store(true);
        return 0; // Xlib goes on to the connection's exit handler
    }
    XIOErrorHandler host = g_HostIOErrorHandler.load();
    return host != nullptr && host != OnXIOError ? host(display) : 0;
}

// A slot no box of this process holds. Slots held when the process was forked belong to
// threads the child does not have, so they count as free.
BoxSlot *FreeSlot(pid_t self) {
    BoxSlot *const end = g_Slots + kMaxBoxes;
    BoxSlot *const found =
        std::find_if(g_Slots, end, [self](const BoxSlot &slot) { return slot.owner != self; });
    return found != end ? found : nullptr;
}

} // namespace

void OnXIOErrorExit(Display *display, void *) {
    if (BoxSlot *slot = SlotOf(display)) {
        slot->lost.store(true);
    }
}

BoxSlot *ClaimSlot(const XlibFunctions &xlib) {
    const pid_t self = getpid();
    pthread_mutex_lock(&g_SlotLock);
    BoxSlot *claimed = nullptr;
    while ((claimed = FreeSlot(self)) == nullptr) {
        pthread_cond_wait(&g_SlotFreed, &g_SlotLock);
    }
    claimed->failed.store(false);
    claimed->lost.store(false);
    claimed->display.store(nullptr);
    claimed->owner = self;
    if (!g_HandlersInstalled) {
        g_HandlersInstalled = true;
        g_HostErrorHandler.store(xlib.XSetErrorHandler(OnXError));
        g_HostIOErrorHandler.store(xlib.XSetIOErrorHandler(OnXIOError));
    }
    pthread_mutex_unlock(&g_SlotLock);
    return claimed;
}

void LeaveBox(const XlibFunctions &xlib, BoxSlot *slot) {
    const pid_t self = getpid();
    pthread_mutex_lock(&g_SlotLock);
    slot->display.store(nullptr);
    slot->owner = 0;
    bool othersUp = false;
    for (const BoxSlot &other : g_Slots) {
        othersUp = othersUp || other.owner == self;
    }
    if (!othersUp && g_HandlersInstalled) {
        g_HandlersInstalled = false;
        XErrorHandler current = xlib.XSetErrorHandler(g_HostErrorHandler.load());
        if (current != OnXError) {
            xlib.XSetErrorHandler(current);
        }
        XIOErrorHandler currentIO = xlib.XSetIOErrorHandler(g_HostIOErrorHandler.load());
        if (currentIO != OnXIOError) {
            xlib.XSetIOErrorHandler(currentIO);
        }
    }
    pthread_cond_signal(&g_SlotFreed);
    pthread_mutex_unlock(&g_SlotLock);
}

} // namespace kvz::platform
