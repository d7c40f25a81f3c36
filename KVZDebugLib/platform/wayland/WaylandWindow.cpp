// The box's window: a surface made an xdg toplevel of fixed size (so tiling compositors
// float it), decorated by the box itself, drawn from shm buffers the scene paints.
//
// Scale: with viewporter the buffer has the scene's pixels at the scale wanted (fractional
// or not) and the viewport maps it to the logical size; without it the buffer scale is the
// integer one, and the buffer is made a whole number of logical pixels.
#include "KVZDebugLib/platform/posix/BoxWait.h"
#include "KVZDebugLib/platform/wayland/WaylandBox.h"
#include "KVZDebugLib/text/Utf.h"

#include <sys/mman.h>
#include <unistd.h>

namespace kvz::platform {

namespace {

// The app id compositors group and match the box's windows by.
constexpr char kAppId[] = "KVZDebugLib";

void OnConfigure(void *data, xdg_surface *surface, uint32_t serial) {
    auto &box = *static_cast<WaylandBox *>(data);
    xdg_surface_ack_configure(surface, serial);
    box.configured = true;
}

const xdg_surface_listener kSurfaceListener = {OnConfigure};

// The size is the box's own; what the compositor suggests is not taken.
void OnToplevelConfigure(void *, xdg_toplevel *, int32_t, int32_t, wl_array *) {}

void OnToplevelClose(void *data, xdg_toplevel *) {
    static_cast<WaylandBox *>(data)->closed = true;
}

void OnBounds(void *, xdg_toplevel *, int32_t, int32_t) {}
void OnCapabilities(void *, xdg_toplevel *, wl_array *) {}

const xdg_toplevel_listener kToplevelListener = {OnToplevelConfigure, OnToplevelClose, OnBounds,
                                                 OnCapabilities};

void OnPreferredScale(void *data, wp_fractional_scale_v1 *, uint32_t scale) {
    // Between a quarter and eight: anything else is not believed.
    if (scale >= kScaleUnit / 4 && scale <= 8 * kScaleUnit) {
        static_cast<WaylandBox *>(data)->preferredScale = static_cast<int>(scale);
    }
}

const wp_fractional_scale_v1_listener kFractionalListener = {OnPreferredScale};

// cppcheck-suppress constParameter ; the listener's type is libwayland's
void OnEnter(void *data, wl_surface *, wl_output *output) {
    auto &box = *static_cast<WaylandBox *>(data);
    for (int i = 0; i < box.outputCount; ++i) {
        box.outputs[i].entered = box.outputs[i].entered || box.outputs[i].output == output;
    }
}

// cppcheck-suppress constParameter ; the listener's type is libwayland's
void OnLeave(void *data, wl_surface *, wl_output *output) {
    auto &box = *static_cast<WaylandBox *>(data);
    for (int i = 0; i < box.outputCount; ++i) {
        box.outputs[i].entered = box.outputs[i].entered && box.outputs[i].output != output;
    }
}

const wl_surface_listener kSurfaceEnterListener = {OnEnter, OnLeave};

void OnRelease(void *data, wl_buffer *) {
    static_cast<WaylandBuffer *>(data)->busy = false;
}

const wl_buffer_listener kBufferListener = {OnRelease};

void DropBuffers(WaylandBox &box) {
    for (WaylandBuffer &buffer : box.buffers) {
        Let(box, buffer.buffer, wl_buffer_destroy);
        buffer = WaylandBuffer{};
    }
    if (box.mapped != nullptr) {
        munmap(box.mapped, box.mappedSize);
        box.mapped = nullptr;
    }
    if (box.memory >= 0) {
        close(box.memory);
        box.memory = -1;
    }
}

// Two buffers of the canvas's size in a memory file of their own; false when the memory
// cannot be had.
bool MakeBuffers(WaylandBox &box) {
    DropBuffers(box);
    const size_t one = static_cast<size_t>(box.canvas.stride) * box.canvas.height * 4;
    box.memory = memfd_create("kvz-box", MFD_CLOEXEC);
    if (box.memory < 0 || ftruncate(box.memory, static_cast<off_t>(2 * one)) != 0) {
        return false;
    }
    void *mapped = mmap(nullptr, 2 * one, PROT_READ | PROT_WRITE, MAP_SHARED, box.memory, 0);
    if (mapped == MAP_FAILED) {
        return false;
    }
    box.mapped = mapped;
    box.mappedSize = 2 * one;
    wl_shm_pool *pool = wl_shm_create_pool(box.shm, box.memory, static_cast<int32_t>(2 * one));
    for (int i = 0; i < 2; ++i) {
        WaylandBuffer &buffer = box.buffers[i];
        buffer.pixels = reinterpret_cast<uint32_t *>(static_cast<char *>(mapped) + i * one);
        buffer.buffer = wl_shm_pool_create_buffer(pool, static_cast<int32_t>(i * one),
                                                  box.canvas.width, box.canvas.height,
                                                  box.canvas.stride * 4, WL_SHM_FORMAT_ARGB8888);
        wl_buffer_add_listener(buffer.buffer, &kBufferListener, &buffer);
    }
    wl_shm_pool_destroy(pool);
    return true;
}

// Sizes the canvas and the window for the scene as laid out now, and makes the buffers.
bool FitToScene(WaylandBox &box) {
    const int scale = box.scene.Scale();
    const Rect window = box.scene.Geometry().window;
    box.bufferScale = box.viewporter != nullptr ? 1 : scale / kScaleUnit;
    box.bufferScale = box.bufferScale >= 1 ? box.bufferScale : 1;
    // Logical pixels round up, so that the whole box shows.
    box.logicalWidth = (window.width * kScaleUnit + scale - 1) / scale;
    box.logicalHeight = (window.height * kScaleUnit + scale - 1) / scale;
    // The buffer is the logical size at the scale, rounded as the compositor rounds it, so
    // that it is shown pixel for pixel: never stretched by the rounding above.
    const int width = (box.logicalWidth * scale + kScaleUnit / 2) / kScaleUnit;
    const int height = (box.logicalHeight * scale + kScaleUnit / 2) / kScaleUnit;
    box.canvas = Canvas{nullptr, width, height, width, scale};
    xdg_toplevel_set_min_size(box.toplevel, box.logicalWidth, box.logicalHeight);
    xdg_toplevel_set_max_size(box.toplevel, box.logicalWidth, box.logicalHeight);
    if (box.viewport != nullptr) {
        wp_viewport_set_destination(box.viewport, box.logicalWidth, box.logicalHeight);
    } else {
        wl_surface_set_buffer_scale(box.surface, box.bufferScale);
    }
    return MakeBuffers(box);
}

void SetTitle(WaylandBox &box, const KVZChar *caption) {
    char title[kMaxCaptionUnits * 3 + 1];
    size_t length = 0;
    for (size_t i = 0; i < kMaxCaptionUnits && caption[i] != 0; ++i) {
        length = i + 1;
    }
    const size_t bytes = Utf16ToUtf8(caption, length, title, sizeof title - 1);
    title[bytes] = 0;
    xdg_toplevel_set_title(box.toplevel, title);
    xdg_toplevel_set_app_id(box.toplevel, kAppId);
}

} // namespace

bool ShowWindow(WaylandBox &box, const KVZChar *caption) {
    box.surface = wl_compositor_create_surface(box.compositor);
    wl_surface_add_listener(box.surface, &kSurfaceEnterListener, &box);
    box.xdgSurface = xdg_wm_base_get_xdg_surface(box.wmBase, box.surface);
    xdg_surface_add_listener(box.xdgSurface, &kSurfaceListener, &box);
    box.toplevel = xdg_surface_get_toplevel(box.xdgSurface);
    xdg_toplevel_add_listener(box.toplevel, &kToplevelListener, &box);
    SetTitle(box, caption);
    if (box.decorations != nullptr) {
        // The box draws its own caption band; a compositor that insists on its own frame
        // shows both, which still works.
        box.decoration =
            zxdg_decoration_manager_v1_get_toplevel_decoration(box.decorations, box.toplevel);
        zxdg_toplevel_decoration_v1_set_mode(box.decoration,
                                             ZXDG_TOPLEVEL_DECORATION_V1_MODE_CLIENT_SIDE);
    }
    if (box.viewporter != nullptr) {
        box.viewport = wp_viewporter_get_viewport(box.viewporter, box.surface);
    }
    if (box.fractional != nullptr && box.viewport != nullptr) {
        box.fractionalScale =
            wp_fractional_scale_manager_v1_get_fractional_scale(box.fractional, box.surface);
        wp_fractional_scale_v1_add_listener(box.fractionalScale, &kFractionalListener, &box);
    }
    if (!FitToScene(box)) {
        return false;
    }
    wl_surface_commit(box.surface);
    if (!RoundTrip(box) || !box.configured) {
        return false;
    }
    // The fractional scale is told once the surface is known; draw at it from the start.
    RescaleIfWanted(box);
    Present(box);
    return !box.lost;
}

// Draws the whole box into a free buffer and shows it. With none free (the compositor still
// reads both) the box is drawn once one is released.
void Present(WaylandBox &box) {
    WaylandBuffer *free = nullptr;
    for (WaylandBuffer &buffer : box.buffers) {
        // cppcheck-suppress useStlAlgorithm ; two buffers: a loop says it plainly
        free = free == nullptr && !buffer.busy && buffer.buffer != nullptr ? &buffer : free;
    }
    if (free == nullptr) {
        box.stale = true;
        return;
    }
    box.stale = false;
    Canvas canvas = box.canvas;
    canvas.pixels = free->pixels;
    FillRect(canvas, 0, 0, canvas.width, canvas.height, kBodyColour);
    box.scene.Draw(canvas);
    wl_surface_attach(box.surface, free->buffer, 0, 0);
    if (wl_surface_get_version(box.surface) >= WL_SURFACE_DAMAGE_BUFFER_SINCE_VERSION) {
        wl_surface_damage_buffer(box.surface, 0, 0, canvas.width, canvas.height);
    } else {
        wl_surface_damage(box.surface, 0, 0, box.logicalWidth, box.logicalHeight);
    }
    wl_surface_commit(box.surface);
    free->busy = true;
    FlushWithin(box, MonotonicMs() + kBoxDeadlineMs);
}

// Lays the box out again when the scale wanted is no longer the one it is drawn at.
void RescaleIfWanted(WaylandBox &box) {
    const int scale = WantedScale(box);
    if (scale == box.scene.Scale() || !box.scene.Rescale(scale)) {
        return;
    }
    if (!FitToScene(box)) {
        box.lost = true; // no memory for the pixels: nothing more can be shown
        return;
    }
    Present(box);
}

void ReleaseWindow(WaylandBox &box) {
    DropBuffers(box);
    Let(box, box.fractionalScale, wp_fractional_scale_v1_destroy);
    Let(box, box.viewport, wp_viewport_destroy);
    Let(box, box.decoration, zxdg_toplevel_decoration_v1_destroy);
    Let(box, box.toplevel, xdg_toplevel_destroy);
    Let(box, box.xdgSurface, xdg_surface_destroy);
    Let(box, box.surface, wl_surface_destroy);
}

} // namespace kvz::platform
