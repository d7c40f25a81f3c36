// The dialog's windows: made in steps (colours, the top window, its properties for the
// window manager, the buttons), then drawn on each exposure.
#include "KVZDebugLib/platform/x11/X11Dialog.h"
#include "KVZDebugLib/text/Utf.h"

#include <X11/Xatom.h>

#include <unistd.h>

namespace kvz::platform {

// A colour, or white or black where it cannot be had.
unsigned long Dialog::Pixel(unsigned short red, unsigned short green, unsigned short blue,
                            bool light) {
    XColor colour = {};
    colour.red = red;
    colour.green = green;
    colour.blue = blue;
    colour.flags = DoRed | DoGreen | DoBlue;
    if (xlib_.XAllocColor(dpy_, DefaultColormap(dpy_, screen_), &colour) != 0) {
        return colour.pixel;
    }
    return light ? WhitePixel(dpy_, screen_) : BlackPixel(dpy_, screen_);
}

void Dialog::AllocateColours() {
    palette_.background = Pixel(0xF2F2, 0xF2F2, 0xF2F2, true);
    palette_.band = Pixel(0xE0E0, 0xE0E0, 0xE0E0, true);
    palette_.text = Pixel(0x1A1A, 0x1A1A, 0x1A1A, false);
    palette_.face = Pixel(0xFCFC, 0xFCFC, 0xFCFC, true);
    palette_.pressedFace = Pixel(0xC8C8, 0xD4D4, 0xE8E8, true);
    palette_.border = Pixel(0x8C8C, 0x8C8C, 0x8C8C, false);
    palette_.focus = Pixel(0x2626, 0x5E5E, 0xC0C0, false);
}

void Dialog::CreateTopWindow() {
    const Rect &box = geometry_.window;
    top_ = xlib_.XCreateSimpleWindow(
        dpy_, RootWindow(dpy_, screen_), box.x, box.y, static_cast<unsigned>(box.width),
        static_cast<unsigned>(box.height), 0, palette_.border, palette_.background);
    xlib_.XSelectInput(dpy_, top_,
                       ExposureMask | KeyPressMask | KeyReleaseMask | ButtonPressMask |
                           StructureNotifyMask);
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

    const Rect &box = geometry_.window;
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

// The buttons are windows of their own, named by their labels, so that clicks land on
// them directly and tools that look for a window by name can find them.
void Dialog::CreateButtons() {
    for (int i = 0; i < buttonCount_; ++i) {
        DialogButton &button = buttons_[i];
        button.box = geometry_.buttons[i];
        button.window = xlib_.XCreateSimpleWindow(
            dpy_, top_, button.box.x, button.box.y, static_cast<unsigned>(button.box.width),
            static_cast<unsigned>(button.box.height), 0, palette_.border, palette_.face);
        xlib_.XSelectInput(dpy_, button.window,
                           ExposureMask | ButtonPressMask | ButtonReleaseMask | EnterWindowMask |
                               LeaveWindowMask);
        int length = 0;
        while (button.label[length] != 0) {
            ++length;
        }
        xlib_.XChangeProperty(dpy_, button.window, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
                              reinterpret_cast<const unsigned char *>(button.label), length);
    }
}

void Dialog::CreateWindows(const KVZChar *caption) {
    AllocateColours();
    CreateTopWindow();
    SetWindowProperties(caption);
    CreateButtons();
    XGCValues values = {};
    values.foreground = palette_.text;
    values.background = palette_.background;
    gc_ = xlib_.XCreateGC(dpy_, top_, GCForeground | GCBackground, &values);
    xlib_.XMapSubwindows(dpy_, top_);
    xlib_.XMapRaised(dpy_, top_);
}

// A line in the order its levels give; a line of a right-to-left paragraph goes against
// the right margin. Shaped, each run of one level is shaped in its direction (HarfBuzz
// mirrors what a right-to-left run needs); else each character is drawn by itself, one
// at an odd level mirrored.
void Dialog::DrawLine(int index, int baseline) {
    const TextLine &line = lines_[index];
    const bool shaped = typeface_.Shapes();
    const int width = LineWidth(index);
    const int right = geometry_.window.width - space_.margin;
    int x = lineBase_[index] != 0 && right - width > space_.margin ? right - width : space_.margin;
    if (shaped) {
        const int runCount =
            LineRuns(codes_, levels_, line.start, line.count, lineBase_[index], runs_);
        for (int r = 0; r < runCount; ++r) {
            x += typeface_.ShapeRun(top_, x, baseline, codes_ + runs_[r].start, runs_[r].count,
                                    (runs_[r].level & 1) != 0, false);
        }
        return;
    }
    typeface_.Draw(top_, gc_, x, baseline, shown_, line.count); // LineWidth put them in order
}

// The width of a line as drawn. Unshaped, this puts the line in the order it is drawn in
// shown_.
int Dialog::LineWidth(int index) {
    const TextLine &line = lines_[index];
    int width = 0;
    if (typeface_.Shapes()) {
        const int runCount =
            LineRuns(codes_, levels_, line.start, line.count, lineBase_[index], runs_);
        for (int r = 0; r < runCount; ++r) {
            width += typeface_.ShapeRun(top_, 0, 0, codes_ + runs_[r].start, runs_[r].count,
                                        (runs_[r].level & 1) != 0, true);
        }
        return width;
    }
    LineOrder(codes_, levels_, line.start, line.count, lineBase_[index], runs_, order_);
    for (int i = 0; i < line.count; ++i) {
        const uint32_t code = codes_[order_[i]];
        shown_[i] = (levels_[order_[i]] & 1) != 0 ? MirroredCharacter(code) : code;
        width += IsCombiningMark(code) ? 0 : typeface_.Width(shown_[i]);
    }
    return width;
}

// The lines in view, and for a text that scrolls, a bar in the right margin showing where.
void Dialog::DrawBody() {
    const int width = geometry_.window.width, bandTop = geometry_.bandTop;
    xlib_.XSetForeground(dpy_, gc_, palette_.background);
    xlib_.XFillRectangle(dpy_, top_, gc_, 0, 0, static_cast<unsigned>(width),
                         static_cast<unsigned>(bandTop));
    xlib_.XSetForeground(dpy_, gc_, palette_.text);
    for (int i = 0; i < geometry_.shownLines && firstLine_ + i < lineCount_; ++i) {
        const int lineTop = space_.margin + i * lineHeight_;
        DrawLine(firstLine_ + i, lineTop + typeface_.Ascent());
    }
    const Rect thumb = ScrollThumb(geometry_, space_, firstLine_, lineCount_);
    if (thumb.width > 0) {
        xlib_.XSetForeground(dpy_, gc_, palette_.border);
        xlib_.XFillRectangle(dpy_, top_, gc_, thumb.x, thumb.y, static_cast<unsigned>(thumb.width),
                             static_cast<unsigned>(thumb.height));
    }
    xlib_.XSetForeground(dpy_, gc_, palette_.band);
    xlib_.XFillRectangle(dpy_, top_, gc_, 0, bandTop, static_cast<unsigned>(width),
                         static_cast<unsigned>(geometry_.window.height - bandTop));
}

// A face with a grey border; the button Enter answers has a second, coloured border.
void Dialog::DrawButton(const DialogButton &button) {
    const bool down = pressed_ == &button && pressedInside_;
    const auto w = static_cast<unsigned>(button.box.width);
    const auto h = static_cast<unsigned>(button.box.height);
    xlib_.XSetForeground(dpy_, gc_, down ? palette_.pressedFace : palette_.face);
    xlib_.XFillRectangle(dpy_, button.window, gc_, 0, 0, w, h);
    if (&button == &buttons_[focused_]) {
        xlib_.XSetForeground(dpy_, gc_, palette_.focus);
        xlib_.XDrawRectangle(dpy_, button.window, gc_, 0, 0, w - 1, h - 1);
        xlib_.XDrawRectangle(dpy_, button.window, gc_, 1, 1, w - 3, h - 3);
    } else {
        xlib_.XSetForeground(dpy_, gc_, palette_.border);
        xlib_.XDrawRectangle(dpy_, button.window, gc_, 0, 0, w - 1, h - 1);
    }
    xlib_.XSetForeground(dpy_, gc_, palette_.text);
    uint32_t label[8];
    int count = 0, labelWidth = 0;
    for (; count < 8 && button.label[count] != 0; ++count) {
        label[count] = static_cast<unsigned char>(button.label[count]);
        labelWidth += typeface_.Width(label[count]);
    }
    const int fontHeight = typeface_.Ascent() + typeface_.Descent();
    const int baseline = (button.box.height - fontHeight) / 2 + typeface_.Ascent();
    typeface_.Draw(button.window, gc_, (button.box.width - labelWidth) / 2,
                   baseline + (down ? 1 : 0), label, count);
}

} // namespace kvz::platform
