// The X libraries the dialog uses, loaded with dlopen when the first box is wanted: the
// module has no link-time X dependency and loads where X is not installed. Only their
// headers are used at compile time. The font and text libraries every desktop box uses
// are loaded beside the canvas (DialogLibrary.h).
#pragma once

#include "KVZDebugLib/platform/dialog/DialogLibrary.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace kvz::platform {

// The libX11 functions the dialog uses.
#define KVZ_XLIB_FUNCTIONS(X)                                                                      \
    X(XOpenDisplay)                                                                                \
    X(XCloseDisplay)                                                                               \
    X(XSetErrorHandler)                                                                            \
    X(XSetIOErrorHandler)                                                                          \
    X(XSetIOErrorExitHandler)                                                                      \
    X(XInternAtoms)                                                                                \
    X(XResourceManagerString)                                                                      \
    X(XCreateWindow)                                                                               \
    X(XCreateSimpleWindow)                                                                         \
    X(XDestroyWindow)                                                                              \
    X(XChangeProperty)                                                                             \
    X(XGetWindowProperty)                                                                          \
    X(XFree)                                                                                       \
    X(XSetWMNormalHints)                                                                           \
    X(XSetWMHints)                                                                                 \
    X(XSelectInput)                                                                                \
    X(XMapSubwindows)                                                                              \
    X(XMapRaised)                                                                                  \
    X(XUnmapWindow)                                                                                \
    X(XSetSelectionOwner)                                                                          \
    X(XGetSelectionOwner)                                                                          \
    X(XConvertSelection)                                                                           \
    X(XSendEvent)                                                                                  \
    X(XSetInputFocus)                                                                              \
    X(XCreateGC)                                                                                   \
    X(XFreeGC)                                                                                     \
    X(XInitImage)                                                                                  \
    X(XPutImage)                                                                                   \
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

struct XlibFunctions {
    KVZ_XLIB_FUNCTIONS(KVZ_LIBRARY_MEMBER)
};

// libX11's functions, or null when libX11 cannot be loaded whole.
const XlibFunctions *LoadXlib();

} // namespace kvz::platform
