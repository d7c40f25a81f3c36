// The X11 dialog of one box: its connection's probing, its windows, and its events, which
// it feeds to the box's scene (dialog/DialogScene.h); the scene draws the box into a
// canvas whose pixels the top window shows. X11MessageBox.cpp runs it in phases: probe,
// layout, window creation, event loop; X11Window.cpp makes the windows and presents.
#pragma once

#include "KVZDebugLib/platform/dialog/AccessibleBox.h"
#include "KVZDebugLib/platform/dialog/DialogScene.h"
#include "KVZDebugLib/platform/posix/PosixMessageBox.h"
#include "KVZDebugLib/platform/x11/X11Errors.h"
#include "KVZDebugLib/platform/x11/X11Library.h"

namespace kvz::platform {

enum AtomIndex {
    kAtomWmProtocols,
    kAtomWmDeleteWindow,
    kAtomNetWmName,
    kAtomUtf8String,
    kAtomNetWmWindowType,
    kAtomNetWmWindowTypeDialog,
    kAtomNetWmPid,
    kAtomNetWorkarea,
    kAtomNetCurrentDesktop,
    kAtomClipboard,
    kAtomTargets,
    kAtomTimestamp,
    kAtomClipboardManager,
    kAtomSaveTargets,
    kAtomAtSpiBus,
    kAtomCount
};

class Dialog {
  public:
    Dialog(const XlibFunctions &xlib, Display *display, BoxSlot &slot)
        : xlib_(xlib), dpy_(display), slot_(slot) {}
    ~Dialog();
    Dialog(const Dialog &) = delete;
    Dialog &operator=(const Dialog &) = delete;

    // Shows the box and waits for its answer: kBoxOk or kBoxCancel, or kNoSuchBox when
    // the window could not be put up.
    int32_t Run(const KVZChar *text, const KVZChar *caption, BoxButtons buttons);

  private:
    // X11MessageBox.cpp: the phases, the probes and the events.
    void StartProbing();
    void SendProbe();
    bool ServerAnswers();
    void CutOff();
    bool InputFree();
    bool ReadProperty(Window window, Atom property, Atom type, long length, unsigned char **data,
                      unsigned long *count);
    Rect WorkArea();
    void ReadAccessibilityBus();
    int32_t Handle(XEvent &event, int32_t closedAnswer);
    int32_t OnKey(const XKeyEvent &key);
    int32_t OnPointer(const XEvent &event);
    int32_t Respond(const SceneResponse &response, Time time);
    int32_t Loop(int32_t closedAnswer);

    // X11Clipboard.cpp: copying the box.
    void Copy(Time time);
    bool PutSelection(Window requestor, Atom property, Atom target);
    void OnSelectionRequest(const XSelectionRequestEvent &request);
    bool OnSelection(const XEvent &event);
    void HandOver();

    // X11Window.cpp: the windows and their pixels.
    bool CanPresent() const;
    bool MakeCanvas();
    void CreateTopWindow();
    void SetCaption(const KVZChar *caption);
    void SetWindowProperties(const KVZChar *caption);
    void CreateButtons();
    void CreateWindows(const KVZChar *caption);
    void Present(const Rect &area);

    const XlibFunctions &xlib_;
    Display *dpy_;
    BoxSlot &slot_;
    int screen_ = 0;
    DialogScene scene_;
    GC gc_ = nullptr;
    Window top_ = 0;
    bool topGone_ = false;
    Window probe_ = 0; // an unmapped window whose property changes answer the probes
    Atom atoms_[kAtomCount] = {};

    // The box's pixels, mapped for it (the box allocates nothing from the heap), and the
    // image that puts them in the top window.
    Canvas canvas_ = {};
    size_t canvasBytes_ = 0;
    XImage image_ = {};

    const KVZChar *caption_ = nullptr;
    char copy_[kCopyCapacity] = {}; // the box as text, once copied
    size_t copyLength_ = 0;
    Time copyTime_ = CurrentTime;
    bool ownsClipboard_ = false;

    // The buttons are input-only windows over the canvas, named by their labels.
    Window buttons_[2] = {};

    // The box as screen readers see it, once it is up; and where its bus may be.
    AccessibleBox accessible_;
    char accessibleBus_[1024] = {};
};

} // namespace kvz::platform
