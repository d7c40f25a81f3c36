// The message box as a dialog window on the X display named by DISPLAY.
//
// libX11, fontconfig, FreeType, HarfBuzz and FriBidi are loaded with dlopen when the first
// box is wanted (X11Library.cpp, and dialog/DialogLibrary.cpp for the libraries every
// desktop box shares), so the module has no link-time X dependency and loads where X is
// not installed. Only their headers are used at compile time.
//
// Each box opens a private connection, used by the calling thread alone, and closes it
// once answered. Nothing is shared with the host's own connections, so XInitThreads
// (which is process-wide and must come before any other Xlib call) is neither needed
// nor called.
//
// The box is drawn by its scene (dialog/DialogScene.h) into a canvas in memory, text and
// all, without the locale: the host's locale is never read or changed. The top window
// shows the canvas's pixels (XPutImage); the buttons are input-only windows over it. Where
// the text cannot be drawn (no fontconfig, FreeType or font) or the screen's pixels are
// not 24-bit TrueColor, the next kind of box is tried.
//
// Xlib's error handlers are process-wide; X11Errors.h says how the box shares them. An
// older libX11 that cannot keep a lost server from ending the process is not used.
//
// Xlib waits for its server with no time limit, so the box never lets it wait on a
// server that has not just answered: the server is probed before the connection is
// opened (X11Open.cpp, X11Probe.cpp), the probe kept open until it is, and each group of round
// trips after that follows a request whose answer the box waits for itself, in poll() with a
// deadline. A server that misses a deadline is cut off (the socket shut down), so that
// closing the connection cannot wait on it either; before the window is up the next kind
// of box is then tried, after it the box ends as closing it would. A box up polls the
// server whenever it is quiet.
//
// A box that another client's keyboard or pointer grab would leave unanswerable is not
// put up: the next kind of box is tried.
//
// Nothing is allocated from the heap here beyond what the libraries allocate themselves:
// the text is laid out in fixed buffers on the stack, a box keeps at most kMaxFaces fonts,
// and its pixels are mapped for it alone.
#include "KVZDebugLib/platform/x11/X11Dialog.h"
#include "KVZDebugLib/platform/x11/X11Open.h"
#include "KVZDebugLib/platform/x11/X11Probe.h"

#include <X11/Xatom.h>
#include <X11/keysym.h>

#include <errno.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <time.h>

namespace kvz::platform {

namespace {

// A box up asks whether its server still answers after this long without an answer.
constexpr int kQuietMs = 1000;

const char *const kAtomNames[kAtomCount] = {
    "WM_PROTOCOLS",
    "WM_DELETE_WINDOW",
    "_NET_WM_NAME",
    "UTF8_STRING",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_DIALOG",
    "_NET_WM_PID",
    "_NET_WORKAREA",
    "_NET_CURRENT_DESKTOP",
    "CLIPBOARD",
    "TARGETS",
    "TIMESTAMP",
    "CLIPBOARD_MANAGER",
    "SAVE_TARGETS",
    "AT_SPI_BUS",
};

} // namespace

// Frees what Xlib allocated for the box. On a lost connection this still frees the
// client's side: Xlib drops the requests, as XCloseDisplay's own do.
Dialog::~Dialog() {
    if (canvas_.pixels != nullptr) {
        munmap(canvas_.pixels, canvasBytes_);
    }
    if (gc_ != nullptr) {
        xlib_.XFreeGC(dpy_, gc_);
    }
    if (top_ != 0 && !topGone_) {
        xlib_.XDestroyWindow(dpy_, top_);
    }
    if (probe_ != 0) {
        xlib_.XDestroyWindow(dpy_, probe_);
    }
}

void Dialog::StartProbing() {
    const unsigned long black = BlackPixel(dpy_, screen_);
    probe_ =
        xlib_.XCreateSimpleWindow(dpy_, RootWindow(dpy_, screen_), 0, 0, 1, 1, 0, black, black);
    xlib_.XSelectInput(dpy_, probe_, PropertyChangeMask);
}

// Appends nothing to a property of the probe window: the server answers with an event,
// and nothing changes.
void Dialog::SendProbe() {
    static const unsigned char kNothing[1] = {0};
    xlib_.XChangeProperty(dpy_, probe_, XA_NOTICE, XA_STRING, 8, PropModeAppend, kNothing, 0);
    xlib_.XFlush(dpy_);
}

// Whether the server answers a probe before the deadline. One that does not is cut off,
// so that nothing after waits on it. A server grabbed by another client answers nothing.
bool Dialog::ServerAnswers() {
    SendProbe();
    const int64_t deadline = MonotonicMs() + kX11DeadlineMs;
    XEvent event;
    while (!slot_.lost.load()) {
        if (xlib_.XCheckTypedWindowEvent(dpy_, probe_, PropertyNotify, &event)) {
            return true;
        }
        if (!WaitReadable(ConnectionNumber(dpy_), deadline)) {
            break;
        }
    }
    CutOff();
    return false;
}

// Shuts the connection down, so that every later Xlib call on it, closing included,
// meets a lost connection at once instead of waiting.
void Dialog::CutOff() {
    shutdown(ConnectionNumber(dpy_), SHUT_RDWR);
    slot_.lost.store(true);
}

// Whether the box could have the keyboard and the pointer: not while another client holds
// a grab on either (an open menu, a drag), which no answer could get past. Each is
// grabbed for a moment and let go at once.
bool Dialog::InputFree() {
    timespec deadline = {};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += kX11DeadlineMs / 1000;
    if (pthread_mutex_timedlock(&g_GrabLock, &deadline) != 0) {
        return false;
    }
    const Window root = RootWindow(dpy_, screen_);
    bool free = xlib_.XGrabKeyboard(dpy_, root, False, GrabModeAsync, GrabModeAsync, CurrentTime) ==
                GrabSuccess;
    if (free) {
        xlib_.XUngrabKeyboard(dpy_, CurrentTime);
        free = xlib_.XGrabPointer(dpy_, root, False, 0, GrabModeAsync, GrabModeAsync, None, None,
                                  CurrentTime) == GrabSuccess;
    }
    if (free) {
        xlib_.XUngrabPointer(dpy_, CurrentTime);
    }
    // The grabs are let go before another box tries its own.
    xlib_.XSync(dpy_, False);
    pthread_mutex_unlock(&g_GrabLock);
    return free;
}

// The window manager's work area (_NET_WORKAREA of the current desktop: the screen less
// its panels), or the whole screen where there is none or it makes no sense.
Rect Dialog::WorkArea() {
    const Rect screen = {0, 0, DisplayWidth(dpy_, screen_), DisplayHeight(dpy_, screen_)};
    Rect area = screen;
    long desktop = 0;
    unsigned char *data = nullptr;
    unsigned long count = 0;
    if (ReadProperty(RootWindow(dpy_, screen_), atoms_[kAtomNetCurrentDesktop], XA_CARDINAL, 1,
                     &data, &count) &&
        count == 1) {
        desktop = reinterpret_cast<long *>(data)[0];
    }
    if (data != nullptr) {
        xlib_.XFree(data);
        data = nullptr;
    }
    if (desktop >= 0 && desktop < 64 &&
        ReadProperty(RootWindow(dpy_, screen_), atoms_[kAtomNetWorkarea], XA_CARDINAL,
                     4 * (desktop + 1), &data, &count) &&
        count == static_cast<unsigned long>(4 * (desktop + 1))) {
        const long *at = reinterpret_cast<long *>(data) + 4 * desktop;
        const Rect given = {static_cast<int>(at[0]), static_cast<int>(at[1]),
                            static_cast<int>(at[2]), static_cast<int>(at[3])};
        if (given.x >= 0 && given.y >= 0 && given.width >= screen.width / 2 &&
            given.height >= screen.height / 2 && given.x + given.width <= screen.width &&
            given.y + given.height <= screen.height) {
            area = given;
        }
    }
    if (data != nullptr) {
        xlib_.XFree(data);
    }
    return area;
}

// The accessibility bus's address, which its launcher leaves on the root window (STRING);
// empty when there is none or it does not fit.
void Dialog::ReadAccessibilityBus() {
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    if (xlib_.XGetWindowProperty(dpy_, RootWindow(dpy_, screen_), atoms_[kAtomAtSpiBus], 0,
                                 sizeof accessibleBus_ / 4, False, XA_STRING, &actualType, &format,
                                 &count, &after, &data) == Success &&
        actualType == XA_STRING && format == 8 && after == 0 && count < sizeof accessibleBus_) {
        memcpy(accessibleBus_, data, count);
        accessibleBus_[count] = 0;
    }
    if (data != nullptr) {
        xlib_.XFree(data);
    }
}

// Reads up to `length` 32-bit items of a window's property of the given type; *data (to be
// freed with XFree when not null) and *count are what came. False when there is none.
bool Dialog::ReadProperty(Window window, Atom property, Atom type, long length,
                          unsigned char **data, unsigned long *count) {
    Atom actualType = None;
    int format = 0;
    unsigned long after = 0;
    *data = nullptr;
    *count = 0;
    return xlib_.XGetWindowProperty(dpy_, window, property, 0, length, False, type, &actualType,
                                    &format, count, &after, data) == Success &&
           actualType == type && format == 32;
}

// The pointer's events as the scene takes them, in canvas pixels: a press or release of the
// first button or a wheel step on the top window or a button, and the pointer crossing a
// button's edge (while a button is held, its window has the pointer, so the crossing
// says whether it is still over it).
int32_t Dialog::OnPointer(const XEvent &event) {
    const bool crossing = event.type == EnterNotify || event.type == LeaveNotify;
    const Window window = crossing ? event.xcrossing.window : event.xbutton.window;
    int left = 0, top = 0;
    for (int i = 0; i < scene_.ButtonCount(); ++i) {
        if (buttons_[i] == window) {
            left = scene_.ButtonBox(i).x;
            top = scene_.ButtonBox(i).y;
        }
    }
    if (crossing) {
        const PointerInput input = {PointerKind::Motion, left + event.xcrossing.x,
                                    top + event.xcrossing.y};
        return Respond(scene_.Pointer(input), event.xcrossing.time);
    }
    const XButtonEvent &at = event.xbutton;
    PointerInput input = {PointerKind::Motion, left + at.x, top + at.y};
    if ((at.button == Button4 || at.button == Button5) && event.type == ButtonPress) {
        input.kind = at.button == Button4 ? PointerKind::WheelUp : PointerKind::WheelDown;
    } else if (at.button == Button1) {
        input.kind = event.type == ButtonPress ? PointerKind::Press : PointerKind::Release;
    } else {
        return 0;
    }
    return Respond(scene_.Pointer(input), at.time);
}

// A key as the scene takes it: its keysym unshifted, the modifiers, and its keycode.
int32_t Dialog::OnKey(const XKeyEvent &key) {
    XKeyEvent copy = key;
    const KeySym sym = xlib_.XLookupKeysym(&copy, 0);
    const KeyInput input = {static_cast<uint32_t>(sym), key.state, key.keycode,
                            key.type == KeyPress};
    return Respond(scene_.Key(input), key.time);
}

// Does what the scene asks: draws and shows what changed, takes the clipboard. Returns its
// answer.
int32_t Dialog::Respond(const SceneResponse &response, Time time) {
    if (response.redraw) {
        scene_.Draw(canvas_, response.changed);
        Present(response.changed);
    }
    if (response.copy) {
        Copy(time);
    }
    return response.answer;
}

// What an event answers: kBoxOk, kBoxCancel, closedAnswer when the window is closed or
// destroyed, or 0 for none.
int32_t Dialog::Handle(XEvent &event, int32_t closedAnswer) {
    switch (event.type) {
    case Expose:
        if (event.xexpose.window == top_) {
            Present(
                Rect{event.xexpose.x, event.xexpose.y, event.xexpose.width, event.xexpose.height});
        }
        return 0;
    case MapNotify:
        if (event.xmap.window == top_) {
            xlib_.XSetInputFocus(dpy_, top_, RevertToParent, CurrentTime);
        }
        return 0;
    case FocusIn:
        if (event.xfocus.window == top_) {
            accessible_.Activate();
        }
        return 0;
    case KeyPress:
    case KeyRelease:
        return OnKey(event.xkey);
    case ButtonPress:
    case ButtonRelease:
    case EnterNotify:
    case LeaveNotify:
        return OnPointer(event);
    case ClientMessage:
        return event.xclient.message_type == atoms_[kAtomWmProtocols] &&
                       event.xclient.format == 32 &&
                       static_cast<Atom>(event.xclient.data.l[0]) == atoms_[kAtomWmDeleteWindow]
                   ? closedAnswer
                   : 0;
    case DestroyNotify:
        topGone_ = topGone_ || event.xdestroywindow.window == top_;
        return event.xdestroywindow.window == top_ ? closedAnswer : 0;
    case SelectionRequest:
    case SelectionClear:
        OnSelection(event);
        return 0;
    case MappingNotify:
        xlib_.XRefreshKeyboardMapping(&event.xmapping);
        return 0;
    default:
        return 0;
    }
}

// Handles events until the box is answered: kBoxOk, kBoxCancel, or closedAnswer when the
// window is closed or destroyed, or the connection fails or stops answering.
int32_t Dialog::Loop(int32_t closedAnswer) {
    const int fd = ConnectionNumber(dpy_);
    bool probing = false; // a probe is out, sent at probeSent
    int64_t probeSent = 0, lastAnswer = MonotonicMs();
    for (;;) {
        while (!slot_.lost.load() && !slot_.failed.load() && xlib_.XPending(dpy_) > 0) {
            XEvent event;
            xlib_.XNextEvent(dpy_, &event);
            if (event.type == PropertyNotify && event.xproperty.window == probe_) {
                probing = false;
                lastAnswer = MonotonicMs();
            } else if (const int32_t answer = Handle(event, closedAnswer)) {
                return answer;
            }
        }
        if (slot_.lost.load() || slot_.failed.load()) {
            return closedAnswer;
        }
        // An assistive client pressing a button answers as a click does.
        if (const int32_t answer = accessible_.Turn()) {
            return answer;
        }
        const int64_t now = MonotonicMs();
        if (!probing && now - lastAnswer >= kQuietMs) {
            SendProbe();
            probing = true;
            probeSent = now;
        }
        const int64_t wake = probing ? probeSent + kX11DeadlineMs : lastAnswer + kQuietMs;
        if (probing && now >= wake) {
            CutOff(); // the server has stopped: as if it had gone
            return closedAnswer;
        }
        // A hang-up is noticed by the next XPending; should it not be, the box ends
        // rather than spin.
        pollfd wait[2] = {{fd, POLLIN, 0}, accessible_.PollFor()};
        const int soon = accessible_.TimeoutMs();
        const int timeout = static_cast<int>(wake - now);
        const int ready = poll(wait, 2, soon >= 0 && soon < timeout ? soon : timeout);
        if (ready < 0 && errno != EINTR) {
            return closedAnswer;
        }
        if (ready > 0 && (wait[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 &&
            (wait[0].revents & POLLIN) == 0) {
            return closedAnswer;
        }
    }
}

// The phases: atoms and the grab check, then the fonts, then the windows, each group of
// round trips just after the server has answered, so that Xlib's own waits for replies
// are short; then the events.
int32_t Dialog::Run(const KVZChar *text, const KVZChar *caption, BoxButtons buttons) {
    caption_ = caption;
    screen_ = DefaultScreen(dpy_);
    StartProbing();
    if (!ServerAnswers() ||
        xlib_.XInternAtoms(dpy_, const_cast<char **>(kAtomNames), kAtomCount, False, atoms_) == 0 ||
        !InputFree()) {
        return kNoSuchBox;
    }
    // The resolution comes with the connection; the work area takes round trips.
    const int dpi = DpiFromResources(xlib_.XResourceManagerString(dpy_));
    if (!CanPresent() || !ServerAnswers()) {
        return kNoSuchBox;
    }
    ReadAccessibilityBus();
    const SceneSetup setup = {dpi, kScaleUnit, WorkArea(), false};
    if (!scene_.Prepare(text, caption, buttons, setup) || !MakeCanvas() || !ServerAnswers()) {
        return kNoSuchBox;
    }
    scene_.Draw(canvas_);
    CreateWindows(caption);
    // Until the window is up, a failure leaves the way open for the next kind of box.
    if (slot_.lost.load() || slot_.failed.load()) {
        return kNoSuchBox;
    }
    // Drawn and mapped first: screen readers are told of the box after.
    xlib_.XFlush(dpy_);
    accessible_.Start(scene_, text, caption, accessibleBus_);
    accessible_.SetOrigin(scene_.Geometry().window.x, scene_.Geometry().window.y);
    const int32_t answer = Loop(scene_.ClosedAnswer());
    accessible_.Close();
    // Closing waits on the server: it must answer first, or be cut off. So does asking who the
    // clipboard manager is.
    if (!slot_.lost.load() && ServerAnswers() && ownsClipboard_) {
        HandOver();
        if (!slot_.lost.load()) {
            ServerAnswers();
        }
    }
    return answer;
}

namespace {

// Opens the display and shows the box, in the slot claimed for it.
int32_t ShowOnDisplay(const XlibFunctions &xlib, BoxSlot &slot, const char *name,
                      const KVZChar *text, const KVZChar *caption, BoxButtons buttons) {
    Display *display = OpenDisplay(xlib, name);
    if (display == nullptr) {
        return kNoSuchBox;
    }
    xlib.XSetIOErrorExitHandler(display, OnXIOErrorExit, nullptr);
    slot.display.store(display);
    static const KVZChar kEmpty[] = {0};
    int32_t result;
    {
        Dialog dialog(xlib, display, slot);
        result = dialog.Run(text != nullptr ? text : kEmpty, caption != nullptr ? caption : kEmpty,
                            buttons);
    }
    xlib.XCloseDisplay(display);
    return result;
}

} // namespace

int32_t ShowX11MessageBox(const KVZChar *text, const KVZChar *caption, BoxButtons buttons) {
    const char *name = getenv("DISPLAY");
    if (name == nullptr || name[0] == 0) {
        return kNoSuchBox;
    }
    const XlibFunctions *xlib = LoadXlib();
    if (xlib == nullptr) {
        return kNoSuchBox;
    }
    SigpipeShield shield;
    BoxSlot *slot = ClaimSlot(*xlib);
    const int32_t result = ShowOnDisplay(*xlib, *slot, name, text, caption, buttons);
    LeaveBox(*xlib, slot);
    return result;
}

} // namespace kvz::platform
