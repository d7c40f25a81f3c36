// The X11 dialog of one box: its connection's probing, its windows and their drawing, and
// its event handling. X11MessageBox.cpp runs it in phases: probe, fonts, text layout,
// window creation, event loop; X11Window.cpp makes and draws the windows.
#pragma once

#include "KVZDebugLib/platform/dialog/DialogBidi.h"
#include "KVZDebugLib/platform/dialog/DialogCopy.h"
#include "KVZDebugLib/platform/dialog/DialogInput.h"
#include "KVZDebugLib/platform/dialog/DialogLayout.h"
#include "KVZDebugLib/platform/posix/PosixMessageBox.h"
#include "KVZDebugLib/platform/x11/X11Errors.h"
#include "KVZDebugLib/platform/x11/X11Text.h"

namespace kvz::platform {

// The text a box shows is at most this many units; more is cut.
constexpr size_t kMaxTextUnits = 1023;
constexpr size_t kMaxCaptionUnits = 255;

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
    kAtomCount
};

struct DialogButton {
    Window window;
    int32_t answer;
    const char *label;
    Rect box;
};

// Pixels of the colours a box draws with.
struct Palette {
    unsigned long background, band, text, face, pressedFace, border, focus;
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
    // Whether Xft has seen the display, so that closing it must take Xft's turn.
    bool TouchedXft() const { return typeface_.TouchedXft(); }

  private:
    // X11MessageBox.cpp: the phases, the probes and the events.
    void StartProbing();
    void SendProbe();
    bool ServerAnswers();
    void CutOff();
    bool InputFree();
    void PrepareText(const KVZChar *text);
    void ResolveLevels();
    bool ReadProperty(Window window, Atom property, Atom type, long length, unsigned char **data,
                      unsigned long *count);
    Rect WorkArea();
    void LayOut(BoxButtons buttons);
    int32_t Handle(XEvent &event, int32_t closedAnswer);
    int32_t OnKey(const XKeyEvent &key, int32_t closedAnswer);
    bool Scrolls() const;
    void Act(KeyAction action, bool wheel, Time time);

    // X11Clipboard.cpp: copying the box.
    void Copy(Time time);
    bool PutSelection(Window requestor, Atom property, Atom target);
    void OnSelectionRequest(const XSelectionRequestEvent &request);
    bool OnSelection(const XEvent &event);
    void HandOver();
    int32_t OnPointer(const XEvent &event);
    DialogButton *ButtonOf(Window window);
    int32_t Loop(int32_t closedAnswer);

    // X11Window.cpp: the windows.
    unsigned long Pixel(unsigned short red, unsigned short green, unsigned short blue, bool light);
    void AllocateColours();
    void CreateTopWindow();
    void SetCaption(const KVZChar *caption);
    void SetWindowProperties(const KVZChar *caption);
    void CreateButtons();
    void CreateWindows(const KVZChar *caption);
    void DrawLine(int index, int baseline);
    int LineWidth(int index);
    void DrawBody();
    void DrawButton(const DialogButton &button);

    const XlibFunctions &xlib_;
    Display *dpy_;
    BoxSlot &slot_;
    int screen_ = 0;
    Typeface typeface_;
    GC gc_ = nullptr;
    Window top_ = 0;
    bool topGone_ = false;
    Window probe_ = 0; // an unmapped window whose property changes answer the probes
    Spacing space_ = {};
    Atom atoms_[kAtomCount] = {};
    Palette palette_ = {};

    uint32_t codes_[kMaxTextUnits] = {};
    int codeCount_ = 0;
    TextLine lines_[kMaxTextUnits + 1] = {};
    int lineCount_ = 0;
    int lineHeight_ = 0;
    int firstLine_ = 0;                        // the first line shown, of a text that scrolls
    uint8_t levels_[kMaxTextUnits] = {};       // the codes' embedding levels
    uint8_t lineBase_[kMaxTextUnits + 1] = {}; // each line's paragraph's base level
    uint32_t shown_[kMaxTextUnits] = {};       // a line in the order it is drawn
    uint16_t order_[kMaxTextUnits] = {};
    LevelRun runs_[kMaxTextUnits] = {};
    DialogGeometry geometry_ = {};

    const KVZChar *caption_ = nullptr;
    char copy_[kCopyCapacity] = {}; // the box as text, once copied
    size_t copyLength_ = 0;
    Time copyTime_ = CurrentTime;
    bool ownsClipboard_ = false;

    DialogButton buttons_[2] = {};
    int buttonCount_ = 0;
    int focused_ = 0;                 // the button Enter answers: OK, or where the keys moved
    DialogButton *pressed_ = nullptr; // the button under a held mouse button
    bool pressedInside_ = false;
    unsigned heldKey_ = 0; // a key pressed in the box, answered on its release
};

} // namespace kvz::platform
