// The message box as a dialog window on the X display named by DISPLAY.
//
// libX11 is loaded with dlopen when the first box is wanted, so the module has no
// link-time X dependency and loads where X is not installed. Only its headers are used
// at compile time.
//
// Each box opens a private connection, used by the calling thread alone, and closes it
// once answered. Nothing is shared with the host's own connections, so XInitThreads
// (which is process-wide and must come before any other Xlib call) is neither needed
// nor called.
//
// Text is drawn with a core font and 16-bit text (XDrawString16 on an iso10646-1 font),
// which needs no locale: the host's locale is never read or changed. Core fonts reach
// only the Basic Multilingual Plane, so a character beyond it (a surrogate pair) is drawn
// as one U+FFFD, like an unpaired surrogate; a character the font lacks is drawn as
// U+FFFD too, or as '?' where the font has no U+FFFD either.
//
// Xlib's error handlers are process-wide. While any box is up ours are installed: an
// error on a box's connection ends that box as closing it would, and an error on any
// other connection goes on to the handler the host had. The host's handlers are put back
// when the last box closes. Xlib exits the process when a connection is lost unless the
// connection has an exit handler (XSetIOErrorExitHandler, libX11 1.7 and later); a box
// sets one that simply returns, so a lost server ends the box, not the host. An older
// libX11 offers no way back, so there the dialog is not used and the next kind of box
// is tried.
//
// Xlib waits for its server with no time limit, so the box never lets it wait on a
// server that has not just answered: the server is probed before the connection is
// opened (X11Probe.cpp), and each group of round trips after that follows a request
// whose answer the box waits for itself, in poll() with a deadline. A server that misses
// a deadline is cut off (the socket shut down), so that closing the connection cannot
// wait on it either; before the window is up the next kind of box is then tried, after
// it the box ends as closing it would. A box up polls the server whenever it is quiet.
//
// A box that another client's keyboard or pointer grab would leave unanswerable is not
// put up: the next kind of box is tried.
//
// Nothing is allocated here beyond what Xlib itself allocates: the text is laid out in
// fixed buffers on the stack.
#include "KVZDebugLib/platform/PosixMessageBox.h"
#include "KVZDebugLib/platform/ShownText.h"
#include "KVZDebugLib/platform/X11Probe.h"
#include "KVZDebugLib/text/Utf.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <atomic>
#include <dlfcn.h>
#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace kvz::platform {

namespace {

// The libX11 functions the dialog uses, resolved once with dlsym.
#define KVZ_X11_FUNCTIONS(X)                                                                       \
    X(XOpenDisplay)                                                                                \
    X(XCloseDisplay)                                                                               \
    X(XSetErrorHandler)                                                                            \
    X(XSetIOErrorHandler)                                                                          \
    X(XSetIOErrorExitHandler)                                                                      \
    X(XInternAtoms)                                                                                \
    X(XLoadQueryFont)                                                                              \
    X(XFreeFont)                                                                                   \
    X(XTextExtents16)                                                                              \
    X(XAllocColor)                                                                                 \
    X(XCreateSimpleWindow)                                                                         \
    X(XDestroyWindow)                                                                              \
    X(XChangeProperty)                                                                             \
    X(XSetWMNormalHints)                                                                           \
    X(XSetWMHints)                                                                                 \
    X(XSelectInput)                                                                                \
    X(XMapSubwindows)                                                                              \
    X(XMapRaised)                                                                                  \
    X(XSetInputFocus)                                                                              \
    X(XCreateGC)                                                                                   \
    X(XFreeGC)                                                                                     \
    X(XSetForeground)                                                                              \
    X(XFillRectangle)                                                                              \
    X(XDrawRectangle)                                                                              \
    X(XDrawString16)                                                                               \
    X(XPending)                                                                                    \
    X(XFlush)                                                                                      \
    X(XSync)                                                                                       \
    X(XCheckTypedWindowEvent)                                                                      \
    X(XGrabKeyboard)                                                                               \
    X(XUngrabKeyboard)                                                                             \
    X(XGrabPointer)                                                                                \
    X(XUngrabPointer)                                                                              \
    X(XNextEvent)                                                                                  \
    X(XLookupKeysym)                                                                               \
    X(XRefreshKeyboardMapping)

struct X11Api {
// The argument is a name declared, which parentheses would not allow.
// NOLINTNEXTLINE(bugprone-macro-parentheses)
#define KVZ_X11_MEMBER(name) decltype(&::name) name;
    KVZ_X11_FUNCTIONS(KVZ_X11_MEMBER)
#undef KVZ_X11_MEMBER
};

// The text a box shows is at most this many units; more is cut.
constexpr size_t kMaxTextUnits = 1023;
constexpr size_t kMaxCaptionUnits = 255;
// Boxes up at once on different threads; one more waits for one of them to close.
constexpr int kMaxBoxes = 8;
// A box up asks whether its server still answers after this long without an answer.
constexpr int kQuietMs = 1000;

// One box that is up: its connection and what the error handlers saw on it.
struct BoxSlot {
    std::atomic<Display *> display;
    std::atomic<bool> failed; // a protocol error
    std::atomic<bool> lost;   // the connection is gone
    pid_t owner;              // the process whose box holds the slot, 0 if none; g_Lock
};

enum class LoadState { NotTried, Ready, Unusable };

// Guards the loading of libX11, the slots' claiming and the handlers' swapping; never
// held while a box waits. The handlers themselves read only atomics.
pthread_mutex_t g_Lock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t g_SlotFreed = PTHREAD_COND_INITIALIZER;
LoadState g_LoadState = LoadState::NotTried;
X11Api g_X;
bool g_HandlersInstalled = false;
// Taken while a box tries the grabs, so that the boxes of one process do not see each
// other's grab for a moment as a grab held by another client.
pthread_mutex_t g_GrabLock = PTHREAD_MUTEX_INITIALIZER;
BoxSlot g_Slots[kMaxBoxes];
std::atomic<XErrorHandler> g_HostErrorHandler{nullptr};
std::atomic<XIOErrorHandler> g_HostIOErrorHandler{nullptr};

// libX11 stays loaded once loaded: the host may be using it too, and unloading a library
// that keeps process-wide state is not worth the risk.
const X11Api *LoadX11() {
    pthread_mutex_lock(&g_Lock);
    if (g_LoadState == LoadState::NotTried) {
        g_LoadState = LoadState::Unusable;
        if (void *lib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL)) {
            bool all = true;
#define KVZ_X11_RESOLVE(name)                                                                      \
    g_X.name = reinterpret_cast<decltype(&::name)>(dlsym(lib, #name));                             \
    all = all && g_X.name != nullptr;
            KVZ_X11_FUNCTIONS(KVZ_X11_RESOLVE)
#undef KVZ_X11_RESOLVE
            if (all) {
                g_LoadState = LoadState::Ready;
            } else {
                dlclose(lib);
            }
        }
    }
    const X11Api *api = g_LoadState == LoadState::Ready ? &g_X : nullptr;
    pthread_mutex_unlock(&g_Lock);
    return api;
}

BoxSlot *SlotOf(const Display *display) {
    for (BoxSlot &slot : g_Slots) {
        if (display != nullptr && slot.display.load() == display) {
            return &slot;
        }
    }
    return nullptr;
}

// Errors a box can meet in normal use and goes on from: the focus request races the
// window manager, and a full colormap only costs the box its colours.
bool IsHarmless(const XErrorEvent &error) {
    return error.request_code == X_SetInputFocus || error.request_code == X_AllocColor;
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
        return 0; // Xlib goes on to the connection's exit handler, below
    }
    XIOErrorHandler host = g_HostIOErrorHandler.load();
    return host != nullptr && host != OnXIOError ? host(display) : 0;
}

// The exit handler of a box's connection: Xlib would exit the process, this returns, and
// the box ends instead.
void OnXIOErrorExit(Display *display, void *) {
    if (BoxSlot *slot = SlotOf(display)) {
        slot->lost.store(true);
    }
}

// A slot no box of this process holds. Slots held when the process was forked belong to
// threads the child does not have, so they count as free.
BoxSlot *FreeSlot(pid_t self) {
    BoxSlot *const end = g_Slots + kMaxBoxes;
    BoxSlot *const found =
        std::find_if(g_Slots, end, [self](const BoxSlot &slot) { return slot.owner != self; });
    return found != end ? found : nullptr;
}

// Claims a slot for a box, waiting while every slot is taken: a box beyond the limit is
// shown once another closes, never answered unseen. The first box up installs the
// handlers.
BoxSlot *ClaimSlot(const X11Api &x) {
    const pid_t self = getpid();
    pthread_mutex_lock(&g_Lock);
    BoxSlot *claimed = nullptr;
    while ((claimed = FreeSlot(self)) == nullptr) {
        pthread_cond_wait(&g_SlotFreed, &g_Lock);
    }
    claimed->failed.store(false);
    claimed->lost.store(false);
    claimed->display.store(nullptr);
    claimed->owner = self;
    if (!g_HandlersInstalled) {
        g_HandlersInstalled = true;
        g_HostErrorHandler.store(x.XSetErrorHandler(OnXError));
        g_HostIOErrorHandler.store(x.XSetIOErrorHandler(OnXIOError));
    }
    pthread_mutex_unlock(&g_Lock);
    return claimed;
}

// Releases a box's slot; the last box out puts back the host's handlers, unless the host
// has set handlers of its own meanwhile, which are then left in place.
void LeaveBox(const X11Api &x, BoxSlot *slot) {
    const pid_t self = getpid();
    pthread_mutex_lock(&g_Lock);
    slot->display.store(nullptr);
    slot->owner = 0;
    bool othersUp = false;
    for (const BoxSlot &other : g_Slots) {
        othersUp = othersUp || other.owner == self;
    }
    if (!othersUp && g_HandlersInstalled) {
        g_HandlersInstalled = false;
        XErrorHandler current = x.XSetErrorHandler(g_HostErrorHandler.load());
        if (current != OnXError) {
            x.XSetErrorHandler(current);
        }
        XIOErrorHandler currentIO = x.XSetIOErrorHandler(g_HostIOErrorHandler.load());
        if (currentIO != OnXIOError) {
            x.XSetIOErrorHandler(currentIO);
        }
    }
    pthread_cond_signal(&g_SlotFreed);
    pthread_mutex_unlock(&g_Lock);
}

// Writing to a connection whose server has gone raises SIGPIPE, which would end a host
// that has not ignored it. The signal is blocked on this thread while the box is up, and
// one raised meanwhile is taken off before the mask is put back.
class SigpipeShield {
  public:
    SigpipeShield() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        pendingBefore_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
    }
    ~SigpipeShield() {
        sigset_t pending;
        sigemptyset(&pending);
        if (!pendingBefore_ && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
            const timespec now = {0, 0};
            while (sigtimedwait(&pipe_, nullptr, &now) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeShield(const SigpipeShield &) = delete;
    SigpipeShield &operator=(const SigpipeShield &) = delete;

  private:
    sigset_t pipe_;
    sigset_t previous_;
    bool pendingBefore_ = false;
};

// Fonts tried in order, from the size that suits the screen down: the misc-fixed Unicode
// fonts of a plain X installation (10x20, 9x15 and 7x13 in Debian xfonts-base), then any
// Unicode fixed font, then "fixed", which every X server has (built in, if need be),
// though it may cover only Latin-1.
const char *const kFonts[] = {
    "-misc-fixed-medium-r-normal--20-200-75-75-c-100-iso10646-1",
    "-misc-fixed-medium-r-normal--15-140-75-75-c-90-iso10646-1",
    "-misc-fixed-medium-r-normal--13-120-75-75-c-70-iso10646-1",
    "-misc-fixed-medium-r-normal--13-*-*-*-*-*-iso10646-1",
    "-misc-fixed-medium-r-semicondensed--13-*-*-*-*-*-iso10646-1",
    "-*-fixed-medium-r-*--*-*-*-*-*-*-iso10646-1",
    "fixed",
};
constexpr int kFontCount = sizeof kFonts / sizeof kFonts[0];

// The first font to try on a screen of the given height in pixels.
int FirstFont(int screenHeight) {
    if (screenHeight >= 1400) {
        return 0;
    }
    return screenHeight >= 900 ? 1 : 2;
}

enum AtomIndex {
    kAtomWmProtocols,
    kAtomWmDeleteWindow,
    kAtomNetWmName,
    kAtomUtf8String,
    kAtomNetWmWindowType,
    kAtomNetWmWindowTypeDialog,
    kAtomNetWmPid,
    kAtomCount
};
const char *const kAtomNames[kAtomCount] = {
    "WM_PROTOCOLS",        "WM_DELETE_WINDOW",           "_NET_WM_NAME", "UTF8_STRING",
    "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DIALOG", "_NET_WM_PID",
};

// Colours as 16-bit RGB; white or black stands in when one cannot be had.
struct Rgb {
    unsigned short red, green, blue;
    bool light;
};
constexpr Rgb kBackgroundRgb = {0xF2F2, 0xF2F2, 0xF2F2, true};
constexpr Rgb kBandRgb = {0xE0E0, 0xE0E0, 0xE0E0, true};
constexpr Rgb kTextRgb = {0x1A1A, 0x1A1A, 0x1A1A, false};
constexpr Rgb kFaceRgb = {0xFCFC, 0xFCFC, 0xFCFC, true};
constexpr Rgb kPressedRgb = {0xC8C8, 0xD4D4, 0xE8E8, true};
constexpr Rgb kBorderRgb = {0x8C8C, 0x8C8C, 0x8C8C, false};
constexpr Rgb kDefaultRgb = {0x2626, 0x5E5E, 0xC0C0, false};

// Lines wrap at about this many average characters.
constexpr int kWrapColumns = 72;

// Spacing in pixels, in proportion to the font's height (13 pixels: 16, 8, 10, 13, 78, 260).
struct Spacing {
    int margin;       // around the text
    int gap;          // between buttons
    int bandPadding;  // around the buttons, inside the band along the bottom
    int labelPadding; // either side of a label
    int minButtonWidth;
    int minWindowWidth;
};

Spacing SpacingFor(int fontHeight) {
    return Spacing{fontHeight + fontHeight / 4,
                   (fontHeight * 5 + 4) / 8,
                   (fontHeight * 3 + 3) / 4,
                   fontHeight,
                   fontHeight * 6,
                   fontHeight * 20};
}

struct Line {
    uint16_t start;
    uint16_t count;
};

struct Button {
    Window window;
    int32_t answer;
    XChar2b label[8];
    int labelCount;
    int x, y, width, height;
};

class Dialog {
  public:
    Dialog(const X11Api &x, Display *display, BoxSlot &slot) : x_(x), dpy_(display), slot_(slot) {}
    ~Dialog();
    Dialog(const Dialog &) = delete;
    Dialog &operator=(const Dialog &) = delete;

    // Shows the box and waits for its answer: kBoxOk or kBoxCancel, or kNoSuchBox when
    // the window could not be put up.
    int32_t Run(const KVZChar *text, const KVZChar *caption, BoxButtons buttons);

  private:
    void StartProbing();
    void SendProbe();
    bool ServerAnswers();
    void CutOff();
    bool InputFree();
    bool LoadFont();
    bool HasGlyph(unsigned code) const;
    XChar2b Glyph(unsigned code) const;
    int WidthOf(const XChar2b *glyphs, int count) const;
    void PrepareText(const KVZChar *text);
    void WrapText(int limit);
    unsigned long Pixel(const Rgb &rgb);
    void SetCaption(Window window, const KVZChar *caption, size_t units);
    void CreateWindows(const KVZChar *caption, BoxButtons buttons);
    void DrawBody();
    void DrawButton(const Button &button);
    Button *ButtonOf(Window window);
    int32_t OnPointer(const XEvent &event);
    int32_t Handle(XEvent &event, int32_t closedAnswer);
    int32_t Loop(int32_t closedAnswer);

    const X11Api &x_;
    Display *dpy_;
    BoxSlot &slot_;
    int screen_ = 0;
    XFontStruct *font_ = nullptr;
    GC gc_ = nullptr;
    Window top_ = 0;
    bool topGone_ = false;
    Window probe_ = 0; // an unmapped window whose property changes answer the probes
    Spacing space_ = {};
    Atom atoms_[kAtomCount] = {};

    XChar2b glyphs_[kMaxTextUnits] = {};
    int glyphCount_ = 0;
    Line lines_[kMaxTextUnits + 1] = {};
    int lineCount_ = 0;
    int textWidth_ = 0;
    int lineHeight_ = 0;

    Button buttons_[2] = {};
    int buttonCount_ = 0;
    Button *pressed_ = nullptr; // the button under a held mouse button
    bool pressedInside_ = false;
    unsigned heldKey_ = 0; // a key pressed in the box, answered on its release

    int width_ = 0, height_ = 0, bandTop_ = 0;
    unsigned long background_ = 0, band_ = 0, textColour_ = 0, face_ = 0, pressedFace_ = 0,
                  border_ = 0, defaultColour_ = 0;
};

// Frees what Xlib allocated for the box. On a lost connection this still frees the
// client's side: Xlib drops the requests, as XCloseDisplay's own do.
Dialog::~Dialog() {
    if (gc_ != nullptr) {
        x_.XFreeGC(dpy_, gc_);
    }
    if (top_ != 0 && !topGone_) {
        x_.XDestroyWindow(dpy_, top_);
    }
    if (font_ != nullptr) {
        x_.XFreeFont(dpy_, font_);
    }
    if (probe_ != 0) {
        x_.XDestroyWindow(dpy_, probe_);
    }
}

void Dialog::StartProbing() {
    const unsigned long black = BlackPixel(dpy_, screen_);
    probe_ = x_.XCreateSimpleWindow(dpy_, RootWindow(dpy_, screen_), 0, 0, 1, 1, 0, black, black);
    x_.XSelectInput(dpy_, probe_, PropertyChangeMask);
}

// Appends nothing to a property of the probe window: the server answers with an event,
// and nothing changes.
void Dialog::SendProbe() {
    static const unsigned char kNothing[1] = {0};
    x_.XChangeProperty(dpy_, probe_, XA_NOTICE, XA_STRING, 8, PropModeAppend, kNothing, 0);
    x_.XFlush(dpy_);
}

// Whether the server answers a probe before the deadline. One that does not is cut off,
// so that nothing after waits on it. A server grabbed by another client answers nothing.
bool Dialog::ServerAnswers() {
    SendProbe();
    const int64_t deadline = MonotonicMs() + kX11DeadlineMs;
    XEvent event;
    while (!slot_.lost.load()) {
        if (x_.XCheckTypedWindowEvent(dpy_, probe_, PropertyNotify, &event)) {
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
    bool free = x_.XGrabKeyboard(dpy_, root, False, GrabModeAsync, GrabModeAsync, CurrentTime) ==
                GrabSuccess;
    if (free) {
        x_.XUngrabKeyboard(dpy_, CurrentTime);
        free = x_.XGrabPointer(dpy_, root, False, 0, GrabModeAsync, GrabModeAsync, None, None,
                               CurrentTime) == GrabSuccess;
    }
    if (free) {
        x_.XUngrabPointer(dpy_, CurrentTime);
    }
    // The grabs are let go before another box tries its own.
    x_.XSync(dpy_, False);
    pthread_mutex_unlock(&g_GrabLock);
    return free;
}

bool Dialog::LoadFont() {
    for (int i = FirstFont(DisplayHeight(dpy_, screen_)); i < kFontCount; ++i) {
        font_ = x_.XLoadQueryFont(dpy_, kFonts[i]);
        if (font_ != nullptr) {
            space_ = SpacingFor(font_->ascent + font_->descent);
            return true;
        }
    }
    return false;
}

// Whether the font has a glyph of its own for the character: one outside the font's range,
// or whose metrics are all zero, does not exist and would be drawn as the font's default.
bool Dialog::HasGlyph(unsigned code) const {
    const unsigned byte1 = code >> 8, byte2 = code & 0xFF;
    const unsigned columns = font_->max_char_or_byte2 - font_->min_char_or_byte2 + 1;
    unsigned index = 0;
    if (font_->min_byte1 == 0 && font_->max_byte1 == 0) {
        if (code < font_->min_char_or_byte2 || code > font_->max_char_or_byte2) {
            return false;
        }
        index = code - font_->min_char_or_byte2;
    } else {
        if (byte1 < font_->min_byte1 || byte1 > font_->max_byte1 ||
            byte2 < font_->min_char_or_byte2 || byte2 > font_->max_char_or_byte2) {
            return false;
        }
        index = (byte1 - font_->min_byte1) * columns + (byte2 - font_->min_char_or_byte2);
    }
    if (font_->per_char == nullptr) {
        return true;
    }
    const XCharStruct &metrics = font_->per_char[index];
    return metrics.width != 0 || metrics.lbearing != 0 || metrics.rbearing != 0 ||
           metrics.ascent != 0 || metrics.descent != 0;
}

XChar2b Dialog::Glyph(unsigned code) const {
    if (!HasGlyph(code)) {
        code = HasGlyph(0xFFFD) ? 0xFFFD : '?';
    }
    XChar2b glyph;
    glyph.byte1 = static_cast<unsigned char>(code >> 8);
    glyph.byte2 = static_cast<unsigned char>(code & 0xFF);
    return glyph;
}

int Dialog::WidthOf(const XChar2b *glyphs, int count) const {
    if (count <= 0) {
        return 0;
    }
    int direction = 0, ascent = 0, descent = 0;
    XCharStruct overall = {};
    x_.XTextExtents16(font_, glyphs, count, &direction, &ascent, &descent, &overall);
    return overall.width;
}

// The text as glyphs, with line feeds kept as line feeds. A carriage return (alone or
// before a line feed) also ends a line, a tab is a space, other characters follow
// ShownCharacter, and characters the font lacks become U+FFFD.
void Dialog::PrepareText(const KVZChar *text) {
    glyphCount_ = 0;
    for (size_t i = 0; i < kMaxTextUnits && text[i] != 0; ++i) {
        unsigned code = static_cast<uint16_t>(text[i]);
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < kMaxTextUnits && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            ++i; // a pair: one character outside the reach of core fonts
            code = 0xFFFD;
        } else if (code == '\r') {
            if (text[i + 1] == '\n') {
                continue;
            }
            code = '\n';
        } else if (code == '\t') {
            code = ' ';
        } else {
            code = ShownCharacter(code); // the rule the terminal prompt follows too
        }
        if (code == '\n') {
            glyphs_[glyphCount_++] = XChar2b{0, '\n'};
        } else {
            glyphs_[glyphCount_++] = Glyph(code);
        }
    }
}

bool IsLineFeed(const XChar2b &glyph) {
    return glyph.byte1 == 0 && glyph.byte2 == '\n';
}
bool IsSpace(const XChar2b &glyph) {
    return glyph.byte1 == 0 && glyph.byte2 == ' ';
}

// Splits the glyphs into lines: at each line feed, and wherever a line would pass the
// limit, after its last space or, in a word longer than the limit, before the glyph that
// does not fit. The spaces at a wrap are dropped; every line holds at least one glyph
// unless it is empty in the text itself, so there are never more lines than glyphs + 1.
void Dialog::WrapText(int limit) {
    lineCount_ = 0;
    textWidth_ = 0;
    auto emit = [this](int start, int end) {
        const int width = WidthOf(glyphs_ + start, end - start);
        textWidth_ = width > textWidth_ ? width : textWidth_;
        lines_[lineCount_++] =
            Line{static_cast<uint16_t>(start), static_cast<uint16_t>(end - start)};
    };
    int start = 0;
    for (;;) {
        int end = start;
        while (end < glyphCount_ && !IsLineFeed(glyphs_[end])) {
            ++end;
        }
        // The paragraph glyphs_[start, end).
        int from = start;
        for (;;) {
            int width = 0, at = from, lastSpace = -1;
            while (at < end) {
                const int w = WidthOf(glyphs_ + at, 1);
                if (width + w > limit && at > from) {
                    break;
                }
                if (IsSpace(glyphs_[at])) {
                    lastSpace = at;
                }
                width += w;
                ++at;
            }
            if (at == end) {
                emit(from, end);
                break;
            }
            if (lastSpace > from) {
                emit(from, lastSpace);
                from = lastSpace;
            } else {
                emit(from, at);
                from = at;
            }
            while (from < end && IsSpace(glyphs_[from])) {
                ++from;
            }
            if (from == end) {
                break;
            }
        }
        if (end == glyphCount_) {
            return;
        }
        start = end + 1;
    }
}

unsigned long Dialog::Pixel(const Rgb &rgb) {
    XColor colour = {};
    colour.red = rgb.red;
    colour.green = rgb.green;
    colour.blue = rgb.blue;
    colour.flags = DoRed | DoGreen | DoBlue;
    if (x_.XAllocColor(dpy_, DefaultColormap(dpy_, screen_), &colour) != 0) {
        return colour.pixel;
    }
    return rgb.light ? WhitePixel(dpy_, screen_) : BlackPixel(dpy_, screen_);
}

// The caption as the window's title: _NET_WM_NAME in UTF-8 for current window managers,
// and WM_NAME for older ones, as Latin-1 (STRING) when it can be, else in UTF-8.
void Dialog::SetCaption(Window window, const KVZChar *caption, size_t units) {
    char utf8[kMaxCaptionUnits * 3];
    const size_t bytes = Utf16ToUtf8(caption, units, utf8, sizeof utf8);
    const auto *data = reinterpret_cast<const unsigned char *>(utf8);
    x_.XChangeProperty(dpy_, window, atoms_[kAtomNetWmName], atoms_[kAtomUtf8String], 8,
                       PropModeReplace, data, static_cast<int>(bytes));
    unsigned char latin1[kMaxCaptionUnits];
    bool isLatin1 = true;
    for (size_t i = 0; i < units; ++i) {
        isLatin1 = isLatin1 && static_cast<uint16_t>(caption[i]) <= 0xFF;
        latin1[i] = static_cast<unsigned char>(caption[i]);
    }
    if (isLatin1) {
        x_.XChangeProperty(dpy_, window, XA_WM_NAME, XA_STRING, 8, PropModeReplace, latin1,
                           static_cast<int>(units));
    } else {
        x_.XChangeProperty(dpy_, window, XA_WM_NAME, atoms_[kAtomUtf8String], 8, PropModeReplace,
                           data, static_cast<int>(bytes));
    }
}

void SetLabel(Button &button, const char *label) {
    button.labelCount = 0;
    for (; *label != 0 && button.labelCount < 8; ++label) {
        button.label[button.labelCount++] = XChar2b{0, static_cast<unsigned char>(*label)};
    }
}

void Dialog::CreateWindows(const KVZChar *caption, BoxButtons buttons) {
    const int screenWidth = DisplayWidth(dpy_, screen_);
    const int screenHeight = DisplayHeight(dpy_, screen_);

    // Text: wrapped at about kWrapColumns characters, less on a narrow screen.
    const XChar2b zero = {0, '0'};
    int limit = kWrapColumns * WidthOf(&zero, 1);
    if (limit > screenWidth - 4 * space_.margin) {
        limit = screenWidth - 4 * space_.margin;
    }
    WrapText(limit > 0 ? limit : 1);
    lineHeight_ = font_->ascent + font_->descent + 2;

    // Buttons: OK, then Cancel, alike in size, at the right of a band along the bottom.
    buttonCount_ = 0;
    SetLabel(buttons_[buttonCount_], "OK");
    buttons_[buttonCount_++].answer = kBoxOk;
    if (buttons == BoxOkCancel) {
        SetLabel(buttons_[buttonCount_], "Cancel");
        buttons_[buttonCount_++].answer = kBoxCancel;
    }
    int buttonWidth = space_.minButtonWidth;
    for (int i = 0; i < buttonCount_; ++i) {
        const int w = WidthOf(buttons_[i].label, buttons_[i].labelCount) + 2 * space_.labelPadding;
        buttonWidth = w > buttonWidth ? w : buttonWidth;
    }
    const int buttonHeight = 2 * (font_->ascent + font_->descent);
    const int buttonsWidth = buttonCount_ * buttonWidth + (buttonCount_ - 1) * space_.gap;
    const int bandHeight = buttonHeight + 2 * space_.bandPadding;

    width_ = textWidth_ + 2 * space_.margin;
    width_ = width_ < buttonsWidth + 2 * space_.bandPadding ? buttonsWidth + 2 * space_.bandPadding
                                                            : width_;
    width_ = width_ < space_.minWindowWidth ? space_.minWindowWidth : width_;
    bandTop_ = 2 * space_.margin + lineCount_ * lineHeight_;
    height_ = bandTop_ + bandHeight;
    // A text too long for the screen is shown as far as it goes, with the buttons kept.
    if (height_ > screenHeight - 2 * space_.margin) {
        const int least = bandHeight + 2 * space_.margin + lineHeight_;
        height_ = screenHeight - 2 * space_.margin;
        height_ = height_ < least ? least : height_;
        bandTop_ = height_ - bandHeight;
    }
    const int left = (screenWidth - width_) / 2;
    const int top = (screenHeight - height_) / 2;

    background_ = Pixel(kBackgroundRgb);
    band_ = Pixel(kBandRgb);
    textColour_ = Pixel(kTextRgb);
    face_ = Pixel(kFaceRgb);
    pressedFace_ = Pixel(kPressedRgb);
    border_ = Pixel(kBorderRgb);
    defaultColour_ = Pixel(kDefaultRgb);

    const Window root = RootWindow(dpy_, screen_);
    top_ = x_.XCreateSimpleWindow(dpy_, root, left < 0 ? 0 : left, top < 0 ? 0 : top,
                                  static_cast<unsigned>(width_), static_cast<unsigned>(height_), 0,
                                  border_, background_);
    x_.XSelectInput(dpy_, top_, ExposureMask | KeyPressMask | KeyReleaseMask | StructureNotifyMask);

    SetCaption(top_, caption, [caption] {
        size_t units = 0;
        while (units < kMaxCaptionUnits && caption[units] != 0) {
            ++units;
        }
        return units;
    }());
    static const unsigned char kClass[] = "kvzdebuglib\0KVZDebugLib";
    x_.XChangeProperty(dpy_, top_, XA_WM_CLASS, XA_STRING, 8, PropModeReplace, kClass,
                       sizeof kClass);
    long protocols[] = {static_cast<long>(atoms_[kAtomWmDeleteWindow])};
    x_.XChangeProperty(dpy_, top_, atoms_[kAtomWmProtocols], XA_ATOM, 32, PropModeReplace,
                       reinterpret_cast<unsigned char *>(protocols), 1);
    long type[] = {static_cast<long>(atoms_[kAtomNetWmWindowTypeDialog])};
    x_.XChangeProperty(dpy_, top_, atoms_[kAtomNetWmWindowType], XA_ATOM, 32, PropModeReplace,
                       reinterpret_cast<unsigned char *>(type), 1);
    long pid[] = {static_cast<long>(getpid())};
    x_.XChangeProperty(dpy_, top_, atoms_[kAtomNetWmPid], XA_CARDINAL, 32, PropModeReplace,
                       reinterpret_cast<unsigned char *>(pid), 1);

    XSizeHints size = {};
    size.flags = USPosition | PPosition | PSize | PMinSize | PMaxSize;
    size.x = left;
    size.y = top;
    size.width = size.min_width = size.max_width = width_;
    size.height = size.min_height = size.max_height = height_;
    x_.XSetWMNormalHints(dpy_, top_, &size);
    XWMHints hints = {};
    hints.flags = InputHint | StateHint;
    hints.input = True;
    hints.initial_state = NormalState;
    x_.XSetWMHints(dpy_, top_, &hints);

    // The buttons are windows of their own, named by their labels, so that clicks land on
    // them directly and tools that look for a window by name can find them.
    int buttonLeft = width_ - space_.bandPadding - buttonsWidth;
    for (int i = 0; i < buttonCount_; ++i) {
        Button &button = buttons_[i];
        button.x = buttonLeft;
        button.y = bandTop_ + space_.bandPadding;
        button.width = buttonWidth;
        button.height = buttonHeight;
        buttonLeft += buttonWidth + space_.gap;
        button.window = x_.XCreateSimpleWindow(
            dpy_, top_, button.x, button.y, static_cast<unsigned>(button.width),
            static_cast<unsigned>(button.height), 0, border_, face_);
        x_.XSelectInput(dpy_, button.window,
                        ExposureMask | ButtonPressMask | ButtonReleaseMask | EnterWindowMask |
                            LeaveWindowMask);
        unsigned char name[8];
        for (int c = 0; c < button.labelCount; ++c) {
            name[c] = button.label[c].byte2;
        }
        x_.XChangeProperty(dpy_, button.window, XA_WM_NAME, XA_STRING, 8, PropModeReplace, name,
                           button.labelCount);
    }

    XGCValues values = {};
    values.font = font_->fid;
    values.foreground = textColour_;
    values.background = background_;
    gc_ = x_.XCreateGC(dpy_, top_, GCFont | GCForeground | GCBackground, &values);

    x_.XMapSubwindows(dpy_, top_);
    x_.XMapRaised(dpy_, top_);
}

void Dialog::DrawBody() {
    x_.XSetForeground(dpy_, gc_, background_);
    x_.XFillRectangle(dpy_, top_, gc_, 0, 0, static_cast<unsigned>(width_),
                      static_cast<unsigned>(bandTop_));
    x_.XSetForeground(dpy_, gc_, textColour_);
    for (int i = 0; i < lineCount_; ++i) {
        const int baseline = space_.margin + i * lineHeight_ + font_->ascent;
        if (baseline - font_->ascent >= bandTop_) {
            break;
        }
        if (lines_[i].count > 0) {
            x_.XDrawString16(dpy_, top_, gc_, space_.margin, baseline, glyphs_ + lines_[i].start,
                             lines_[i].count);
        }
    }
    // The band last, over a line that a cut-off text leaves half in it.
    x_.XSetForeground(dpy_, gc_, band_);
    x_.XFillRectangle(dpy_, top_, gc_, 0, bandTop_, static_cast<unsigned>(width_),
                      static_cast<unsigned>(height_ - bandTop_));
}

// A face with a grey border; the default button (OK) has a second, coloured border.
void Dialog::DrawButton(const Button &button) {
    const bool down = pressed_ == &button && pressedInside_;
    const auto w = static_cast<unsigned>(button.width), h = static_cast<unsigned>(button.height);
    x_.XSetForeground(dpy_, gc_, down ? pressedFace_ : face_);
    x_.XFillRectangle(dpy_, button.window, gc_, 0, 0, w, h);
    if (button.answer == kBoxOk) {
        x_.XSetForeground(dpy_, gc_, defaultColour_);
        x_.XDrawRectangle(dpy_, button.window, gc_, 0, 0, w - 1, h - 1);
        x_.XDrawRectangle(dpy_, button.window, gc_, 1, 1, w - 3, h - 3);
    } else {
        x_.XSetForeground(dpy_, gc_, border_);
        x_.XDrawRectangle(dpy_, button.window, gc_, 0, 0, w - 1, h - 1);
    }
    x_.XSetForeground(dpy_, gc_, textColour_);
    const int labelWidth = WidthOf(button.label, button.labelCount);
    const int baseline = (button.height - font_->ascent - font_->descent) / 2 + font_->ascent;
    x_.XDrawString16(dpy_, button.window, gc_, (button.width - labelWidth) / 2,
                     baseline + (down ? 1 : 0), button.label, button.labelCount);
}

Button *Dialog::ButtonOf(Window window) {
    for (int i = 0; i < buttonCount_; ++i) {
        if (buttons_[i].window == window) {
            return &buttons_[i];
        }
    }
    return nullptr;
}

// What a pointer event answers: the answer of a button clicked, or 0 for none. A button
// answers when the mouse button is let go over it.
int32_t Dialog::OnPointer(const XEvent &event) {
    switch (event.type) {
    case ButtonPress:
        if (event.xbutton.button == Button1 && pressed_ == nullptr) {
            pressed_ = ButtonOf(event.xbutton.window);
            pressedInside_ = pressed_ != nullptr;
            if (pressed_ != nullptr) {
                DrawButton(*pressed_);
            }
        }
        break;
    case ButtonRelease:
        if (event.xbutton.button == Button1 && pressed_ != nullptr) {
            Button *released = pressed_;
            const bool inside = event.xbutton.window == released->window && event.xbutton.x >= 0 &&
                                event.xbutton.y >= 0 && event.xbutton.x < released->width &&
                                event.xbutton.y < released->height;
            pressed_ = nullptr;
            pressedInside_ = false;
            if (inside) {
                return released->answer;
            }
            DrawButton(*released);
        }
        break;
    case EnterNotify:
    case LeaveNotify:
        // Dragging off a held button lets it up; coming back presses it again.
        if (pressed_ != nullptr && event.xcrossing.window == pressed_->window) {
            pressedInside_ = event.type == EnterNotify;
            DrawButton(*pressed_);
        }
        break;
    default:
        break;
    }
    return 0;
}

// What an event answers: kBoxOk, kBoxCancel, closedAnswer when the window is closed or
// destroyed, or 0 for none.
int32_t Dialog::Handle(XEvent &event, int32_t closedAnswer) {
    switch (event.type) {
    case Expose:
        if (event.xexpose.count != 0) {
            break;
        }
        if (event.xexpose.window == top_) {
            DrawBody();
        } else if (Button *button = ButtonOf(event.xexpose.window)) {
            DrawButton(*button);
        }
        break;
    case MapNotify:
        if (event.xmap.window == top_) {
            x_.XSetInputFocus(dpy_, top_, RevertToParent, CurrentTime);
        }
        break;
    case KeyPress:
        heldKey_ = event.xkey.keycode;
        break;
    case KeyRelease: {
        // A key held down when the box came up (Enter, say, still held from what
        // the person was doing) answers nothing: only a press in the box counts.
        if (event.xkey.keycode != heldKey_) {
            break;
        }
        heldKey_ = 0;
        const KeySym key = x_.XLookupKeysym(&event.xkey, 0);
        if (key == XK_Return || key == XK_KP_Enter) {
            return kBoxOk;
        }
        if (key == XK_Escape) {
            return closedAnswer;
        }
        break;
    }
    case ButtonPress:
    case ButtonRelease:
    case EnterNotify:
    case LeaveNotify:
        return OnPointer(event);
    case ClientMessage:
        if (event.xclient.message_type == atoms_[kAtomWmProtocols] && event.xclient.format == 32 &&
            static_cast<Atom>(event.xclient.data.l[0]) == atoms_[kAtomWmDeleteWindow]) {
            return closedAnswer;
        }
        break;
    case DestroyNotify:
        if (event.xdestroywindow.window == top_) {
            topGone_ = true;
            return closedAnswer;
        }
        break;
    case MappingNotify:
        x_.XRefreshKeyboardMapping(&event.xmapping);
        break;
    default:
        break;
    }
    return 0;
}

// Handles events until the box is answered: kBoxOk, kBoxCancel, or closedAnswer when the
// window is closed or destroyed, or the connection fails or stops answering.
int32_t Dialog::Loop(int32_t closedAnswer) {
    const int fd = ConnectionNumber(dpy_);
    bool probing = false; // a probe is out, sent at probeSent
    int64_t probeSent = 0, lastAnswer = MonotonicMs();
    for (;;) {
        while (!slot_.lost.load() && !slot_.failed.load() && x_.XPending(dpy_) > 0) {
            XEvent event;
            x_.XNextEvent(dpy_, &event);
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
        pollfd wait = {fd, POLLIN, 0};
        const int ready = poll(&wait, 1, static_cast<int>(wake - now));
        if (ready < 0 && errno != EINTR) {
            return closedAnswer;
        }
        if (ready > 0 && (wait.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 &&
            (wait.revents & POLLIN) == 0) {
            return closedAnswer;
        }
    }
}

int32_t Dialog::Run(const KVZChar *text, const KVZChar *caption, BoxButtons buttons) {
    const int32_t closedAnswer = buttons == BoxOkCancel ? kBoxCancel : kBoxOk;
    screen_ = DefaultScreen(dpy_);
    StartProbing();
    // Each group of round trips starts just after the server has answered, so Xlib's own
    // waits for replies are short.
    if (!ServerAnswers() ||
        x_.XInternAtoms(dpy_, const_cast<char **>(kAtomNames), kAtomCount, False, atoms_) == 0 ||
        !LoadFont() || !InputFree()) {
        return kNoSuchBox;
    }
    PrepareText(text);
    if (!ServerAnswers()) {
        return kNoSuchBox;
    }
    CreateWindows(caption, buttons);
    // Until the window is up, a failure leaves the way open for the next kind of box.
    if (slot_.lost.load() || slot_.failed.load()) {
        return kNoSuchBox;
    }
    return Loop(closedAnswer);
}

// Probes the display, then opens it and shows the box, in the slot claimed for it.
int32_t ShowOnDisplay(const X11Api &x, BoxSlot &slot, const char *name, const KVZChar *text,
                      const KVZChar *caption, BoxButtons buttons) {
    // Opening the display waits on the server with no deadline: it must answer first.
    if (ProbeDisplay(name, MonotonicMs() + kX11DeadlineMs) != ProbeResult::Answered) {
        return kNoSuchBox;
    }
    Display *display = x.XOpenDisplay(name);
    if (display == nullptr) {
        return kNoSuchBox;
    }
    x.XSetIOErrorExitHandler(display, OnXIOErrorExit, nullptr);
    slot.display.store(display);
    static const KVZChar kEmpty[] = {0};
    int32_t result;
    {
        Dialog dialog(x, display, slot);
        result = dialog.Run(text != nullptr ? text : kEmpty, caption != nullptr ? caption : kEmpty,
                            buttons);
    }
    x.XCloseDisplay(display);
    return result;
}

} // namespace

int32_t ShowX11MessageBox(const KVZChar *text, const KVZChar *caption, BoxButtons buttons) {
    const char *name = getenv("DISPLAY");
    if (name == nullptr || name[0] == 0) {
        return kNoSuchBox;
    }
    const X11Api *x = LoadX11();
    if (x == nullptr) {
        return kNoSuchBox;
    }
    SigpipeShield shield;
    BoxSlot *slot = ClaimSlot(*x);
    const int32_t result = ShowOnDisplay(*x, *slot, name, text, caption, buttons);
    LeaveBox(*x, slot);
    return result;
}

} // namespace kvz::platform
