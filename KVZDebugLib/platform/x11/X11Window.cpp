// The dialog's windows: made in steps (the top window, its properties for the window
// manager, the buttons), and the canvas's pixels put in the top window on each exposure
// and each change.
#include "KVZDebugLib/platform/x11/X11Dialog.h"
#include "KVZDebugLib/text/Utf.h"

#include <X11/Xatom.h>

#include <sys/mman.h>
#include <unistd.h>

namespace kvz::platform {

// Whether the screen takes the canvas's pixels as they are: a TrueColor default visual of
// depth 24 or 32 with 8 bits each of red, green and blue where the canvas has them, and
// 32 bits to a pixel. Other screens (8-bit colour maps, 16-bit colour) are left to the
// next kind of box.
bool Dialog::CanPresent() const {
    const Visual *visual = DefaultVisual(dpy_, screen_);
    const int depth = DefaultDepth(dpy_, screen_);
    if (visual == nullptr || visual->c_class != TrueColor || (depth != 24 && depth != 32) ||
        visual->red_mask != 0xFF0000 || visual->green_mask != 0xFF00 || visual->blue_mask != 0xFF) {
        return false;
    }
    const auto *display = reinterpret_cast<_XPrivDisplay>(dpy_);
    for (int i = 0; i < display->nformats; ++i) {
        if (display->pixmap_format[i].depth == depth) {
            return display->pixmap_format[i].bits_per_pixel == 32;
        }
    }
    return false;
}

// The canvas the scene draws the box in, mapped for the box alone, and the image that
// describes its pixels to Xlib: 32-bit words in this machine's byte order (Xlib swaps
// them for a server of the other order).
bool Dialog::MakeCanvas() {
    const Rect &box = scene_.Geometry().window;
    constexpr int kMaxSide = 16384;
    if (box.width <= 0 || box.height <= 0 || box.width > kMaxSide || box.height > kMaxSide) {
        return false;
    }
    canvasBytes_ = static_cast<size_t>(box.width) * static_cast<size_t>(box.height) * 4;
    void *pixels =
        mmap(nullptr, canvasBytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pixels == MAP_FAILED) {
        return false;
    }
    canvas_ =
        Canvas{static_cast<uint32_t *>(pixels), box.width, box.height, box.width, scene_.Scale()};
    const Visual *visual = DefaultVisual(dpy_, screen_);
    const uint32_t one = 1;
    const int order = *reinterpret_cast<const unsigned char *>(&one) == 1 ? LSBFirst : MSBFirst;
    image_ = XImage{};
    image_.width = box.width;
    image_.height = box.height;
    image_.format = ZPixmap;
    image_.data = static_cast<char *>(pixels);
    image_.byte_order = order;
    image_.bitmap_unit = 32;
    image_.bitmap_bit_order = order;
    image_.bitmap_pad = 32;
    image_.depth = DefaultDepth(dpy_, screen_);
    image_.bytes_per_line = box.width * 4;
    image_.bits_per_pixel = 32;
    image_.red_mask = visual->red_mask;
    image_.green_mask = visual->green_mask;
    image_.blue_mask = visual->blue_mask;
    return xlib_.XInitImage(&image_) != 0;
}

void Dialog::CreateTopWindow() {
    const Rect &box = scene_.Geometry().window;
    const unsigned long body = kBodyColour & 0xFFFFFF; // a TrueColor pixel (CanPresent)
    top_ = xlib_.XCreateSimpleWindow(dpy_, RootWindow(dpy_, screen_), box.x, box.y,
                                     static_cast<unsigned>(box.width),
                                     static_cast<unsigned>(box.height), 0, body, body);
    xlib_.XSelectInput(dpy_, top_,
                       ExposureMask | KeyPressMask | KeyReleaseMask | ButtonPressMask |
                           StructureNotifyMask | FocusChangeMask);
}

// The caption as the window's title: _NET_WM_NAME in UTF-8 for current window managers,
// and WM_NAME for older ones, as Latin-1 (STRING) when it can be, else in UTF-8.
void Dialog::SetCaption(const KVZChar *caption) {
    size_t units = 0;
    while (units < kMaxCaptionUnits && caption[units] != 0) {
        ++units;
    }
    char utf8[kMaxCaptionUnits * 3];
    const size_t bytes = Utf16ToUtf8(caption, units, utf8, sizeof utf8);
    const auto *data = reinterpret_cast<const unsigned char *>(utf8);
    xlib_.XChangeProperty(dpy_, top_, atoms_[kAtomNetWmName], atoms_[kAtomUtf8String], 8,
                          PropModeReplace, data, static_cast<int>(bytes));
    unsigned char latin1[kMaxCaptionUnits];
    bool isLatin1 = true;
    for (size_t i = 0; i < units; ++i) {
        isLatin1 = isLatin1 && static_cast<uint16_t>(caption[i]) <= 0xFF;
        latin1[i] = static_cast<unsigned char>(caption[i]);
    }
    if (isLatin1) {
        xlib_.XChangeProperty(dpy_, top_, XA_WM_NAME, XA_STRING, 8, PropModeReplace, latin1,
                              static_cast<int>(units));
    } else {
        xlib_.XChangeProperty(dpy_, top_, XA_WM_NAME, atoms_[kAtomUtf8String], 8, PropModeReplace,
                              data, static_cast<int>(bytes));
    }
}

// What window managers read: the title, the class, the close protocol, that this is a
// dialog, whose it is, and its place and fixed size.
void Dialog::SetWindowProperties(const KVZChar *caption) {
    SetCaption(caption);
    static const unsigned char kClass[] = "kvzdebuglib\0KVZDebugLib";
    xlib_.XChangeProperty(dpy_, top_, XA_WM_CLASS, XA_STRING, 8, PropModeReplace, kClass,
                          sizeof kClass);
    long protocols[] = {static_cast<long>(atoms_[kAtomWmDeleteWindow])};
    xlib_.XChangeProperty(dpy_, top_, atoms_[kAtomWmProtocols], XA_ATOM, 32, PropModeReplace,
                          reinterpret_cast<unsigned char *>(protocols), 1);
    long type[] = {static_cast<long>(atoms_[kAtomNetWmWindowTypeDialog])};
    xlib_.XChangeProperty(dpy_, top_, atoms_[kAtomNetWmWindowType], XA_ATOM, 32, PropModeReplace,
                          reinterpret_cast<unsigned char *>(type), 1);
    long pid[] = {static_cast<long>(getpid())};
    xlib_.XChangeProperty(dpy_, top_, atoms_[kAtomNetWmPid], XA_CARDINAL, 32, PropModeReplace,
                          reinterpret_cast<unsigned char *>(pid), 1);

    const Rect &box = scene_.Geometry().window;
    XSizeHints size = {};
    size.flags = USPosition | PPosition | PSize | PMinSize | PMaxSize;
    size.x = box.x;
    size.y = box.y;
    size.width = size.min_width = size.max_width = box.width;
    size.height = size.min_height = size.max_height = box.height;
    xlib_.XSetWMNormalHints(dpy_, top_, &size);
    XWMHints hints = {};
    hints.flags = InputHint | StateHint;
    hints.input = True;
    hints.initial_state = NormalState;
    xlib_.XSetWMHints(dpy_, top_, &hints);
}

// The buttons are input-only windows of their own over the canvas, named by their labels,
// so that clicks land on them directly and tools that look for a window by name can find
// them. Being input-only, they leave the top window's pixels in view.
void Dialog::CreateButtons() {
    for (int i = 0; i < scene_.ButtonCount(); ++i) {
        const Rect box = scene_.ButtonBox(i);
        buttons_[i] = xlib_.XCreateWindow(
            dpy_, top_, box.x, box.y, static_cast<unsigned>(box.width),
            static_cast<unsigned>(box.height), 0, 0, InputOnly, CopyFromParent, 0, nullptr);
        xlib_.XSelectInput(dpy_, buttons_[i],
                           ButtonPressMask | ButtonReleaseMask | EnterWindowMask | LeaveWindowMask);
        const char *label = scene_.ButtonLabel(i);
        int length = 0;
        while (label[length] != 0) {
            ++length;
        }
        xlib_.XChangeProperty(dpy_, buttons_[i], XA_WM_NAME, XA_STRING, 8, PropModeReplace,
                              reinterpret_cast<const unsigned char *>(label), length);
    }
}

void Dialog::CreateWindows(const KVZChar *caption) {
    CreateTopWindow();
    SetWindowProperties(caption);
    CreateButtons();
    gc_ = xlib_.XCreateGC(dpy_, top_, 0, nullptr);
    xlib_.XMapSubwindows(dpy_, top_);
    xlib_.XMapRaised(dpy_, top_);
}

// Puts the canvas's pixels of the area in the top window, at the same place.
void Dialog::Present(const Rect &area) {
    const int left = area.x > 0 ? area.x : 0, top = area.y > 0 ? area.y : 0;
    const int right = area.x + area.width < canvas_.width ? area.x + area.width : canvas_.width;
    const int bottom =
        area.y + area.height < canvas_.height ? area.y + area.height : canvas_.height;
    if (right <= left || bottom <= top || gc_ == nullptr) {
        return;
    }
    xlib_.XPutImage(dpy_, top_, gc_, &image_, left, top, left, top,
                    static_cast<unsigned>(right - left), static_cast<unsigned>(bottom - top));
}

} // namespace kvz::platform
