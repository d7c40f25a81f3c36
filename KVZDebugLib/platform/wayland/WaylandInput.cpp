// The seat's keyboard and pointer, fed to the scene. Keys are read through the keymap the
// compositor sends (xkbcommon), as the unshifted keysym of the key's layout, with Shift and
// Control as the scene's modifier bits: the keys act as on the X11 box. Pointer positions
// come in logical pixels and go to the scene in canvas pixels.
#include "KVZDebugLib/platform/posix/BoxWait.h"
#include "KVZDebugLib/platform/wayland/WaylandBox.h"
#include "KVZDebugLib/platform/wayland/WaylandKeys.h"

#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

namespace kvz::platform {

namespace {

// The primary mouse button, as the kernel numbers it (BTN_LEFT).
constexpr uint32_t kPrimaryButton = 0x110;

// xkbcommon writes its complaints to stderr unless given somewhere else: here, nowhere.
void Silent(xkb_context *, xkb_log_level, const char *, va_list) {}

void DropKeymap(WaylandBox &box) {
    if (box.keyState != nullptr) {
        box.xkb.xkb_state_unref(box.keyState);
        box.keyState = nullptr;
    }
    if (box.keymap != nullptr) {
        box.xkb.xkb_keymap_unref(box.keymap);
        box.keymap = nullptr;
    }
}

void OnKeymap(void *data, wl_keyboard *, uint32_t format, int32_t fd, uint32_t size) {
    auto &box = *static_cast<WaylandBox *>(data);
    DropKeymap(box);
    void *text = MAP_FAILED;
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0 && box.xkbContext != nullptr) {
        text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    }
    close(fd);
    if (text == MAP_FAILED) {
        return;
    }
    // The keymap is text ending at its first zero byte, within the size given.
    const char *keymap = static_cast<const char *>(text);
    if (memchr(keymap, 0, size) != nullptr) {
        box.keymap = box.xkb.xkb_keymap_new_from_string(
            box.xkbContext, keymap, XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    }
    munmap(text, size);
    if (box.keymap != nullptr) {
        box.keyState = box.xkb.xkb_state_new(box.keymap);
    }
}

// The box has the keyboard: screen readers are told its window is active.
void OnKeyboardEnter(void *data, wl_keyboard *, uint32_t, wl_surface *, wl_array *) {
    static_cast<WaylandBox *>(data)->accessible.Activate();
}
void OnKeyboardLeave(void *data, wl_keyboard *, uint32_t, wl_surface *) {
    static_cast<WaylandBox *>(data)->repeatAt = 0;
}

void OnKey(void *data, wl_keyboard *, uint32_t serial, uint32_t, uint32_t key, uint32_t state) {
    auto &box = *static_cast<WaylandBox *>(data);
    if (box.keyState == nullptr) {
        return;
    }
    const bool press = state == WL_KEYBOARD_KEY_STATE_PRESSED;
    if (press) {
        box.inputSerial = serial;
    }
    const KeyInput input = KeyFromXkb(box.xkb, box.keymap, box.keyState, key, press);
    if (press && box.repeatRate > 0 && Repeats(input)) {
        box.repeating = input;
        box.repeatAt = MonotonicMs() + box.repeatDelay;
    } else if (press || input.keycode == box.repeating.keycode) {
        box.repeatAt = 0; // another key pressed, or the one repeating let go
    }
    Respond(box, box.scene.Key(input));
}

void OnModifiers(void *data, wl_keyboard *, uint32_t, uint32_t depressed, uint32_t latched,
                 uint32_t locked, uint32_t group) {
    auto &box = *static_cast<WaylandBox *>(data);
    if (box.keyState != nullptr) {
        box.xkb.xkb_state_update_mask(box.keyState, depressed, latched, locked, 0, 0, group);
    }
}

void OnRepeatInfo(void *data, wl_keyboard *, int32_t rate, int32_t delay) {
    auto &box = *static_cast<WaylandBox *>(data);
    // Within what a person could set: a compositor's nonsense does not flood the box.
    box.repeatRate = rate >= 0 && rate <= 100 ? rate : 25;
    box.repeatDelay = delay >= 0 && delay <= 10000 ? delay : 600;
}

const wl_keyboard_listener kKeyboardListener = {OnKeymap, OnKeyboardEnter, OnKeyboardLeave,
                                                OnKey,    OnModifiers,     OnRepeatInfo};

void Point(WaylandBox &box, PointerKind kind) {
    Respond(box, box.scene.Pointer(PointerInput{kind, box.pointerX, box.pointerY}));
}

void OnPointerEnter(void *data, wl_pointer *, uint32_t, wl_surface *, wl_fixed_t x, wl_fixed_t y) {
    auto &box = *static_cast<WaylandBox *>(data);
    box.pointerX = CanvasPixels(wl_fixed_to_double(x), box.scene.Scale());
    box.pointerY = CanvasPixels(wl_fixed_to_double(y), box.scene.Scale());
    Point(box, PointerKind::Motion);
}

void OnPointerLeave(void *data, wl_pointer *, uint32_t, wl_surface *) {
    Point(*static_cast<WaylandBox *>(data), PointerKind::Leave);
}

void OnMotion(void *data, wl_pointer *, uint32_t, wl_fixed_t x, wl_fixed_t y) {
    OnPointerEnter(data, nullptr, 0, nullptr, x, y);
}

void OnButton(void *data, wl_pointer *, uint32_t serial, uint32_t, uint32_t button,
              uint32_t state) {
    auto &box = *static_cast<WaylandBox *>(data);
    if (button != kPrimaryButton) {
        return;
    }
    const bool press = state == WL_POINTER_BUTTON_STATE_PRESSED;
    if (press) {
        box.inputSerial = serial;
    }
    Point(box, press ? PointerKind::Press : PointerKind::Release);
}

void OnAxis(void *data, wl_pointer *, uint32_t, uint32_t axis, wl_fixed_t value) {
    auto &box = *static_cast<WaylandBox *>(data);
    if (axis != WL_POINTER_AXIS_VERTICAL_SCROLL) {
        return;
    }
    int steps = WheelSteps(&box.wheel, wl_fixed_to_double(value));
    for (; steps > 0; --steps) {
        Point(box, PointerKind::WheelDown);
    }
    for (; steps < 0; ++steps) {
        Point(box, PointerKind::WheelUp);
    }
}

void OnFrame(void *, wl_pointer *) {}
void OnAxisSource(void *, wl_pointer *, uint32_t) {}
void OnAxisStop(void *, wl_pointer *, uint32_t, uint32_t) {}
void OnAxisDiscrete(void *, wl_pointer *, uint32_t, int32_t) {}
void OnAxisValue120(void *, wl_pointer *, uint32_t, int32_t) {}

const wl_pointer_listener kPointerListener = {
    OnPointerEnter, OnPointerLeave, OnMotion,   OnButton,       OnAxis,
    OnFrame,        OnAxisSource,   OnAxisStop, OnAxisDiscrete, OnAxisValue120};

} // namespace

// Takes the keyboard and pointer the seat has, and lets go of those it no longer has.
void UpdateSeat(WaylandBox &box) {
    const bool keys = (box.seatCapabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
    const bool pointer = (box.seatCapabilities & WL_SEAT_CAPABILITY_POINTER) != 0;
    if (keys && box.keyboard == nullptr) {
        if (box.xkbContext == nullptr) {
            box.xkbContext = box.xkb.xkb_context_new(static_cast<xkb_context_flags>(
                XKB_CONTEXT_NO_DEFAULT_INCLUDES | XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
            if (box.xkbContext != nullptr) {
                box.xkb.xkb_context_set_log_fn(box.xkbContext, Silent);
            }
        }
        box.keyboard = wl_seat_get_keyboard(box.seat);
        wl_keyboard_add_listener(box.keyboard, &kKeyboardListener, &box);
    } else if (!keys && box.keyboard != nullptr) {
        Let(box, box.keyboard,
            wl_keyboard_get_version(box.keyboard) >= WL_KEYBOARD_RELEASE_SINCE_VERSION
                ? wl_keyboard_release
                : wl_keyboard_destroy);
    }
    if (pointer && box.pointer == nullptr) {
        box.pointer = wl_seat_get_pointer(box.seat);
        wl_pointer_add_listener(box.pointer, &kPointerListener, &box);
    } else if (!pointer && box.pointer != nullptr) {
        Let(box, box.pointer,
            wl_pointer_get_version(box.pointer) >= WL_POINTER_RELEASE_SINCE_VERSION
                ? wl_pointer_release
                : wl_pointer_destroy);
    }
}

void ReleaseInput(WaylandBox &box) {
    box.seatCapabilities = 0;
    UpdateSeat(box);
    DropKeymap(box);
    if (box.xkbContext != nullptr) {
        box.xkb.xkb_context_unref(box.xkbContext);
        box.xkbContext = nullptr;
    }
}

void RepeatKey(WaylandBox &box, int64_t now) {
    if (box.repeatAt == 0 || now < box.repeatAt || box.repeatRate <= 0) {
        return;
    }
    // One repeat per wake: a box that fell behind does not catch up in a burst.
    box.repeatAt = now + 1000 / box.repeatRate;
    Respond(box, box.scene.Key(box.repeating));
}

void Respond(WaylandBox &box, const SceneResponse &response) {
    if (response.answer != 0 && box.answer == 0) {
        box.answer = response.answer;
    }
    if (response.copy) {
        OfferCopy(box);
    }
    if (response.move && box.seat != nullptr) {
        xdg_toplevel_move(box.toplevel, box.seat, box.inputSerial);
    }
    if (response.redraw) {
        Present(box);
    }
}

} // namespace kvz::platform
