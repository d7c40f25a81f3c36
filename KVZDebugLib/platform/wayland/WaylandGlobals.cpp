// The compositor's globals the box uses, bound at the versions it speaks, and what they say
// about themselves: outputs their scale and size, the seat what input it has.
#include "KVZDebugLib/platform/wayland/WaylandBox.h"

#include <string.h>

namespace kvz::platform {

namespace {

// The logical size assumed for the work area where no output tells its own.
constexpr int kDefaultAreaWidth = 1280;
constexpr int kDefaultAreaHeight = 720;

uint32_t Lesser(uint32_t a, uint32_t b) {
    return a < b ? a : b;
}

template <typename T>
T *Bind(WaylandBox &box, uint32_t name, const wl_interface &interface, uint32_t offered,
        uint32_t wanted) {
    return static_cast<T *>(
        wl_registry_bind(box.registry, name, &interface, Lesser(offered, wanted)));
}

void OnOutputGeometry(void *, wl_output *, int32_t, int32_t, int32_t, int32_t, int32_t,
                      const char *, const char *, int32_t) {}

void OnOutputMode(void *data, wl_output *, uint32_t flags, int32_t width, int32_t height, int32_t) {
    auto *output = static_cast<WaylandOutput *>(data);
    if ((flags & WL_OUTPUT_MODE_CURRENT) != 0 && width > 0 && height > 0) {
        output->width = width;
        output->height = height;
    }
}

void OnOutputDone(void *, wl_output *) {}
void OnOutputText(void *, wl_output *, const char *) {}

void OnOutputScale(void *data, wl_output *, int32_t factor) {
    // A scale beyond any screen made is not believed.
    static_cast<WaylandOutput *>(data)->scale = factor >= 1 && factor <= 8 ? factor : 1;
}

const wl_output_listener kOutputListener = {OnOutputGeometry, OnOutputMode, OnOutputDone,
                                            OnOutputScale,    OnOutputText, OnOutputText};

void OnSeatCapabilities(void *data, wl_seat *, uint32_t capabilities) {
    auto &box = *static_cast<WaylandBox *>(data);
    box.seatCapabilities = capabilities;
    UpdateSeat(box);
}

void OnSeatName(void *, wl_seat *, const char *) {}

const wl_seat_listener kSeatListener = {OnSeatCapabilities, OnSeatName};

void OnPing(void *data, xdg_wm_base *base, uint32_t serial) {
    (void)data;
    xdg_wm_base_pong(base, serial);
}

const xdg_wm_base_listener kWmBaseListener = {OnPing};

void AddOutput(WaylandBox &box, uint32_t name, uint32_t version) {
    if (box.outputCount == kMaxOutputs) {
        return;
    }
    WaylandOutput &output = box.outputs[box.outputCount++];
    output = WaylandOutput{nullptr, name, 1, 0, 0, false};
    output.output = Bind<wl_output>(box, name, wl_output_interface, version, 2);
    wl_output_add_listener(output.output, &kOutputListener, &output);
}

void OnGlobal(void *data, wl_registry *, uint32_t name, const char *interface, uint32_t version) {
    auto &box = *static_cast<WaylandBox *>(data);
    if (strcmp(interface, wl_compositor_interface.name) == 0 && box.compositor == nullptr) {
        box.compositor = Bind<wl_compositor>(box, name, wl_compositor_interface, version, 4);
    } else if (strcmp(interface, wl_shm_interface.name) == 0 && box.shm == nullptr) {
        box.shm = Bind<wl_shm>(box, name, wl_shm_interface, version, 1);
    } else if (strcmp(interface, wl_seat_interface.name) == 0 && box.seat == nullptr) {
        // The first seat is the one the box listens to: there is one in nearly every
        // session, and a second would need a box of its own to answer from.
        box.seat = Bind<wl_seat>(box, name, wl_seat_interface, version, 5);
        wl_seat_add_listener(box.seat, &kSeatListener, &box);
    } else if (strcmp(interface, xdg_wm_base_interface.name) == 0 && box.wmBase == nullptr) {
        box.wmBase = Bind<xdg_wm_base>(box, name, xdg_wm_base_interface, version, 1);
        xdg_wm_base_add_listener(box.wmBase, &kWmBaseListener, &box);
    } else if (strcmp(interface, zxdg_decoration_manager_v1_interface.name) == 0) {
        box.decorations = Bind<zxdg_decoration_manager_v1>(
            box, name, zxdg_decoration_manager_v1_interface, version, 1);
    } else if (strcmp(interface, wp_viewporter_interface.name) == 0) {
        box.viewporter = Bind<wp_viewporter>(box, name, wp_viewporter_interface, version, 1);
    } else if (strcmp(interface, wp_fractional_scale_manager_v1_interface.name) == 0) {
        box.fractional = Bind<wp_fractional_scale_manager_v1>(
            box, name, wp_fractional_scale_manager_v1_interface, version, 1);
    } else if (strcmp(interface, wl_data_device_manager_interface.name) == 0) {
        box.dataManager =
            Bind<wl_data_device_manager>(box, name, wl_data_device_manager_interface, version, 3);
    } else if (strcmp(interface, wl_output_interface.name) == 0) {
        AddOutput(box, name, version);
    }
}

void OnGlobalRemove(void *data, wl_registry *, uint32_t name) {
    auto &box = *static_cast<WaylandBox *>(data);
    for (int i = 0; i < box.outputCount; ++i) {
        if (box.outputs[i].name == name) {
            box.outputs[i].entered = false;
            box.outputs[i].scale = 0; // gone: no longer counted
        }
    }
}

const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

} // namespace

bool BindGlobals(WaylandBox &box) {
    box.registry = wl_display_get_registry(box.display);
    if (box.registry == nullptr) {
        return false;
    }
    wl_registry_add_listener(box.registry, &kRegistryListener, &box);
    // The first round trip hears the globals, the second what the bound ones say.
    if (!RoundTrip(box) || box.compositor == nullptr || box.shm == nullptr ||
        box.wmBase == nullptr || box.seat == nullptr || !RoundTrip(box)) {
        return false;
    }
    // A seat with neither a keyboard nor a pointer leaves nobody a way to answer.
    return (box.seatCapabilities & (WL_SEAT_CAPABILITY_KEYBOARD | WL_SEAT_CAPABILITY_POINTER)) != 0;
}

// The fractional scale the compositor prefers where it says one; else the greatest
// integer scale of the outputs the box is on, or of all of them before it is on any.
int WantedScale(const WaylandBox &box) {
    if (box.preferredScale > 0) {
        return box.preferredScale;
    }
    int any = 1, entered = 0;
    for (int i = 0; i < box.outputCount; ++i) {
        const WaylandOutput &output = box.outputs[i];
        any = output.scale > any ? output.scale : any;
        if (output.entered && output.scale > entered) {
            entered = output.scale;
        }
    }
    return (entered > 0 ? entered : any) * kScaleUnit;
}

// The first output's size, in logical pixels, at the scale; Wayland says nothing of panels
// or of where the window goes, so the box only has to fit.
Rect WorkArea(const WaylandBox &box, int scale) {
    int width = kDefaultAreaWidth, height = kDefaultAreaHeight;
    for (int i = 0; i < box.outputCount; ++i) {
        const WaylandOutput &output = box.outputs[i];
        if (output.width > 0 && output.scale > 0) {
            width = output.width / output.scale;
            height = output.height / output.scale;
            break;
        }
    }
    return Rect{0, 0, width * scale / kScaleUnit, height * scale / kScaleUnit};
}

void ReleaseGlobals(WaylandBox &box) {
    for (int i = 0; i < box.outputCount; ++i) {
        Let(box, box.outputs[i].output, wl_output_destroy);
    }
    Let(box, box.dataManager, wl_data_device_manager_destroy);
    Let(box, box.fractional, wp_fractional_scale_manager_v1_destroy);
    Let(box, box.viewporter, wp_viewporter_destroy);
    Let(box, box.decorations, zxdg_decoration_manager_v1_destroy);
    Let(box, box.wmBase, xdg_wm_base_destroy);
    Let(box, box.seat, wl_seat_destroy);
    Let(box, box.shm, wl_shm_destroy);
    Let(box, box.compositor, wl_compositor_destroy);
    Let(box, box.registry, wl_registry_destroy);
}

} // namespace kvz::platform
