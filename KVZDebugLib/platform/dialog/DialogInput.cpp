#include "KVZDebugLib/platform/dialog/DialogInput.h"

#include <X11/keysym.h>

namespace kvz::platform {

namespace {

// Lines a wheel step scrolls, as most toolkits do.
constexpr int kWheelLines = 3;

KeyAction ControlAction(uint32_t keysym) {
    return keysym == XK_c || keysym == XK_C || keysym == XK_Insert || keysym == XK_KP_Insert
               ? KeyAction::Copy
               : KeyAction::None;
}

// Up/Down scroll a text that scrolls; otherwise they move between the buttons as
// Left/Right do.
KeyAction VerticalAction(bool up, bool scrolls) {
    if (scrolls) {
        return up ? KeyAction::LineUp : KeyAction::LineDown;
    }
    return up ? KeyAction::Previous : KeyAction::Next;
}

} // namespace

KeyAction ActionForKey(uint32_t keysym, unsigned modifiers, bool scrolls) {
    if ((modifiers & kControlBit) != 0) {
        return ControlAction(keysym);
    }
    switch (keysym) {
    case XK_Return:
    case XK_KP_Enter:
    case XK_space:
    case XK_KP_Space:
        return KeyAction::Press;
    case XK_Escape:
        return KeyAction::Close;
    case XK_Tab:
        return (modifiers & kShiftBit) != 0 ? KeyAction::Previous : KeyAction::Next;
    case XK_ISO_Left_Tab:
    case XK_Left:
    case XK_KP_Left:
        return KeyAction::Previous;
    case XK_Right:
    case XK_KP_Right:
        return KeyAction::Next;
    case XK_Up:
    case XK_KP_Up:
        return VerticalAction(true, scrolls);
    case XK_Down:
    case XK_KP_Down:
        return VerticalAction(false, scrolls);
    case XK_Page_Up:
    case XK_KP_Page_Up:
        return scrolls ? KeyAction::PageUp : KeyAction::None;
    case XK_Page_Down:
    case XK_KP_Page_Down:
        return scrolls ? KeyAction::PageDown : KeyAction::None;
    case XK_Home:
    case XK_KP_Home:
        return scrolls ? KeyAction::Top : KeyAction::None;
    case XK_End:
    case XK_KP_End:
        return scrolls ? KeyAction::End : KeyAction::None;
    default:
        return KeyAction::None;
    }
}

bool ActsOnRelease(KeyAction action) {
    return action == KeyAction::Press || action == KeyAction::Close;
}

int FocusAfter(KeyAction action, int focused, int count) {
    if (count <= 0) {
        return 0;
    }
    if (action == KeyAction::Next) {
        return (focused + 1) % count;
    }
    if (action == KeyAction::Previous) {
        return (focused + count - 1) % count;
    }
    return focused;
}

int FirstLineAfter(KeyAction action, bool wheel, int first, int shown, int total) {
    const int page = shown > 1 ? shown - 1 : 1; // a page keeps one line of the last in view
    const int step = wheel ? kWheelLines : 1;
    switch (action) {
    case KeyAction::LineUp:
        first -= step;
        break;
    case KeyAction::LineDown:
        first += step;
        break;
    case KeyAction::PageUp:
        first -= page;
        break;
    case KeyAction::PageDown:
        first += page;
        break;
    case KeyAction::Top:
        first = 0;
        break;
    case KeyAction::End:
        first = total;
        break;
    default:
        break;
    }
    const int last = total > shown ? total - shown : 0;
    return first < 0 ? 0 : first > last ? last : first;
}

} // namespace kvz::platform
