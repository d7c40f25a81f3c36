// Ctrl+C in the box: the box owns the CLIPBOARD selection and answers requests for it
// (TARGETS, TIMESTAMP, UTF8_STRING and STRING) from its event loop. When the box closes,
// the text is handed to a clipboard manager if one runs (the freedesktop convention: the
// owner of CLIPBOARD_MANAGER is asked to convert SAVE_TARGETS, and takes the text before
// it answers), so it can still be pasted; with none, the text goes with the box.
#include "KVZDebugLib/platform/x11/X11Dialog.h"
#include "KVZDebugLib/platform/x11/X11Probe.h"

#include <X11/Xatom.h>

#include <poll.h>

namespace kvz::platform {

namespace {

// How long a closing box waits for the clipboard manager to take its text.
constexpr int kHandOverMs = 1000;

} // namespace

// Takes the clipboard with the box's text, at the time of the key that asked.
void Dialog::Copy(Time time) {
    copyLength_ = scene_.CopyText(copy_, sizeof copy_);
    copyTime_ = time;
    xlib_.XSetSelectionOwner(dpy_, atoms_[kAtomClipboard], top_, time);
    ownsClipboard_ = true;
}

// Writes the text as the target asks into the property; false for a target not offered.
bool Dialog::PutSelection(Window requestor, Atom property, Atom target) {
    if (target == atoms_[kAtomTargets]) {
        long targets[] = {static_cast<long>(atoms_[kAtomTargets]),
                          static_cast<long>(atoms_[kAtomTimestamp]),
                          static_cast<long>(atoms_[kAtomUtf8String]), static_cast<long>(XA_STRING)};
        xlib_.XChangeProperty(dpy_, requestor, property, XA_ATOM, 32, PropModeReplace,
                              reinterpret_cast<unsigned char *>(targets), 4);
    } else if (target == atoms_[kAtomTimestamp]) {
        long time[] = {static_cast<long>(copyTime_)};
        xlib_.XChangeProperty(dpy_, requestor, property, XA_INTEGER, 32, PropModeReplace,
                              reinterpret_cast<unsigned char *>(time), 1);
    } else if (target == atoms_[kAtomUtf8String]) {
        xlib_.XChangeProperty(dpy_, requestor, property, target, 8, PropModeReplace,
                              reinterpret_cast<unsigned char *>(copy_),
                              static_cast<int>(copyLength_));
    } else if (target == XA_STRING) {
        // In parts, appended, so that no second copy of the text is kept.
        char part[256];
        size_t from = 0;
        int mode = PropModeReplace;
        do {
            const size_t bytes = Utf8ToLatin1(copy_, copyLength_, &from, part, sizeof part);
            xlib_.XChangeProperty(dpy_, requestor, property, XA_STRING, 8, mode,
                                  reinterpret_cast<unsigned char *>(part), static_cast<int>(bytes));
            mode = PropModeAppend;
        } while (from < copyLength_);
    } else {
        return false;
    }
    return true;
}

// Answers a request for the clipboard: the text in the property asked for (the target's
// name, for an old client that names none), or a refusal.
void Dialog::OnSelectionRequest(const XSelectionRequestEvent &request) {
    XEvent reply = {};
    reply.xselection.type = SelectionNotify;
    reply.xselection.requestor = request.requestor;
    reply.xselection.selection = request.selection;
    reply.xselection.target = request.target;
    reply.xselection.time = request.time;
    reply.xselection.property = None;
    const Atom property = request.property != None ? request.property : request.target;
    const bool ours = ownsClipboard_ && request.selection == atoms_[kAtomClipboard] &&
                      (request.time == CurrentTime || request.time >= copyTime_);
    if (ours && PutSelection(request.requestor, property, request.target)) {
        reply.xselection.property = property;
    }
    xlib_.XSendEvent(dpy_, request.requestor, False, NoEventMask, &reply);
}

// Handles the clipboard's events; false for any other event.
bool Dialog::OnSelection(const XEvent &event) {
    if (event.type == SelectionRequest) {
        OnSelectionRequest(event.xselectionrequest);
        return true;
    }
    if (event.type == SelectionClear) {
        ownsClipboard_ =
            ownsClipboard_ && event.xselectionclear.selection != atoms_[kAtomClipboard];
        return true;
    }
    return false;
}

// Hands the copied text to the clipboard manager, if one runs, and serves its requests
// until it says it has the text, or for a second at most. The window is taken off the
// screen first: the box has been answered. The server has just answered.
void Dialog::HandOver() {
    if (!ownsClipboard_ || topGone_ || slot_.lost.load() || slot_.failed.load() ||
        xlib_.XGetSelectionOwner(dpy_, atoms_[kAtomClipboardManager]) == None) {
        return;
    }
    xlib_.XUnmapWindow(dpy_, top_);
    long targets[] = {static_cast<long>(atoms_[kAtomUtf8String]), static_cast<long>(XA_STRING)};
    xlib_.XChangeProperty(dpy_, top_, atoms_[kAtomSaveTargets], XA_ATOM, 32, PropModeReplace,
                          reinterpret_cast<unsigned char *>(targets), 2);
    xlib_.XConvertSelection(dpy_, atoms_[kAtomClipboardManager], atoms_[kAtomSaveTargets],
                            atoms_[kAtomSaveTargets], top_, copyTime_);
    xlib_.XFlush(dpy_);
    const int64_t deadline = MonotonicMs() + kHandOverMs;
    while (!slot_.lost.load() && !slot_.failed.load()) {
        while (xlib_.XPending(dpy_) > 0) {
            XEvent event;
            xlib_.XNextEvent(dpy_, &event);
            if (event.type == SelectionNotify &&
                event.xselection.selection == atoms_[kAtomClipboardManager]) {
                return;
            }
            OnSelection(event);
        }
        if (!WaitReadable(ConnectionNumber(dpy_), deadline)) {
            return;
        }
    }
}

} // namespace kvz::platform
