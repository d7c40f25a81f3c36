// The Wayland box of one prompt: its connection, the compositor's objects it uses, its
// window and buffers, and its input. WaylandMessageBox.cpp runs it in phases: connect,
// globals, window, events; WaylandGlobals.cpp binds what the compositor offers,
// WaylandWindow.cpp makes the window and presents the scene's pixels, WaylandInput.cpp
// feeds the scene the keyboard and the pointer, WaylandClipboard.cpp offers the copy text.
//
// Every object here belongs to the box's own connection and its calling thread alone.
#pragma once

#include "KVZDebugLib/platform/dialog/AccessibleBox.h"
#include "KVZDebugLib/platform/dialog/DialogScene.h"
#include "KVZDebugLib/platform/wayland/WaylandProtocol.h"

#include <stddef.h>
#include <stdint.h>

namespace kvz::platform {

// Outputs a box keeps track of (for their scales); more are not looked at.
constexpr int kMaxOutputs = 8;

struct WaylandOutput {
    wl_output *output;
    uint32_t name;     // the registry's
    int scale;         // integer, as the output gives it
    int width, height; // its current mode, in its pixels; 0 until known
    bool entered;      // the box's surface is on it
};

// One shm buffer the canvas is drawn into: both live in one memory file, side by side.
struct WaylandBuffer {
    wl_buffer *buffer;
    uint32_t *pixels;
    bool busy; // attached, and not yet released by the compositor
};

struct WaylandBox {
    const WaylandFunctions &wl;
    const XkbFunctions &xkb;
    wl_display *display = nullptr;
    int fd = -1;
    bool lost = false; // the connection failed; nothing more is sent or read

    wl_registry *registry = nullptr;
    wl_compositor *compositor = nullptr;
    wl_shm *shm = nullptr;
    wl_seat *seat = nullptr;
    uint32_t seatCapabilities = 0;
    xdg_wm_base *wmBase = nullptr;
    zxdg_decoration_manager_v1 *decorations = nullptr;
    wp_viewporter *viewporter = nullptr;
    wp_fractional_scale_manager_v1 *fractional = nullptr;
    wl_data_device_manager *dataManager = nullptr;
    WaylandOutput outputs[kMaxOutputs] = {};
    int outputCount = 0;

    wl_surface *surface = nullptr;
    xdg_surface *xdgSurface = nullptr;
    xdg_toplevel *toplevel = nullptr;
    zxdg_toplevel_decoration_v1 *decoration = nullptr;
    wp_viewport *viewport = nullptr;
    wp_fractional_scale_v1 *fractionalScale = nullptr;
    bool configured = false; // the first configure came and was acknowledged
    bool closed = false;     // the compositor asked the box to close
    int preferredScale = 0;  // kScaleUnit units, from fractional-scale; 0 until told
    int bufferScale = 1;     // the integer buffer scale, without a viewport
    int logicalWidth = 0, logicalHeight = 0;

    int memory = -1; // the memory file of the buffers
    void *mapped = nullptr;
    size_t mappedSize = 0;
    WaylandBuffer buffers[2] = {};
    Canvas canvas = {}; // the size and scale the buffers have
    bool stale = false; // the scene changed while no buffer was free

    wl_keyboard *keyboard = nullptr;
    wl_pointer *pointer = nullptr;
    xkb_context *xkbContext = nullptr;
    xkb_keymap *keymap = nullptr;
    xkb_state *keyState = nullptr;
    uint32_t inputSerial = 0; // the last key or button press's, for a move or the clipboard
    KeyInput repeating = {};  // the key held that repeats, due at repeatAt (0: none)
    int64_t repeatAt = 0;
    int repeatDelay = 600, repeatRate = 25; // ms, and repeats a second (0: none)
    int pointerX = 0, pointerY = 0;         // in canvas pixels
    double wheel = 0;                       // scrolled but not yet a step

    wl_data_device *dataDevice = nullptr;
    wl_data_source *source = nullptr;
    wl_data_offer *offer = nullptr; // the last another client offered, never read
    char copy[kCopyCapacity] = {};
    size_t copyLength = 0;

    DialogScene scene;
    AccessibleBox accessible; // the box as screen readers see it, once it is up
    int32_t answer = 0;
    wl_callback *sync = nullptr; // the sync asked for last, until answered
    bool synced = false;         // and whether it was

    WaylandBox(const WaylandFunctions &functions, const XkbFunctions &keys)
        : wl(functions), xkb(keys) {}
    WaylandBox(const WaylandBox &) = delete;
    WaylandBox &operator=(const WaylandBox &) = delete;
};

// Lets go of an object: with its destroy request while the connection works, else on this
// side alone (a request then could only fail, and libwayland says so on stderr).
template <typename T> void Let(WaylandBox &box, T *&object, void (*request)(T *)) {
    if (object != nullptr) {
        if (box.lost) {
            wl_proxy_destroy(reinterpret_cast<wl_proxy *>(object));
        } else {
            request(object);
        }
        object = nullptr;
    }
}

// WaylandConnection.cpp: sending and reading within deadlines. FlushWithin and RoundTrip
// are false once the connection has failed or the deadline (MonotonicMs) passed, and the
// box is then lost; ReadWithin is false also when the deadline passed with nothing read.
bool FlushWithin(WaylandBox &box, int64_t deadline);
bool ReadWithin(WaylandBox &box, int64_t deadline);
bool RoundTrip(WaylandBox &box);
// Asks for a sync whose answer sets box.synced; false when it cannot be asked.
bool Sync(WaylandBox &box);

// WaylandGlobals.cpp: the compositor's globals bound, and what they say about themselves
// heard (a round trip each); false when the box cannot be shown here.
bool BindGlobals(WaylandBox &box);
// The scale the box is drawn at, in kScaleUnit units.
int WantedScale(const WaylandBox &box);
// Where the box may go, in canvas pixels at `scale`.
Rect WorkArea(const WaylandBox &box, int scale);
void ReleaseGlobals(WaylandBox &box);

// WaylandWindow.cpp: the window made and first shown (false when it cannot be), drawn again
// where the scene changed, and let go.
bool ShowWindow(WaylandBox &box, const KVZChar *caption);
void Present(WaylandBox &box);
void RescaleIfWanted(WaylandBox &box);
void ReleaseWindow(WaylandBox &box);

// WaylandInput.cpp: the seat's keyboard and pointer, as the seat offers them.
void UpdateSeat(WaylandBox &box);
void ReleaseInput(WaylandBox &box);
// Acts on what the scene answered to input.
void Respond(WaylandBox &box, const SceneResponse &response);
// Repeats the key held, when it is due (MonotonicMs).
void RepeatKey(WaylandBox &box, int64_t now);

// WaylandClipboard.cpp: the copy text offered as the selection.
void OfferCopy(WaylandBox &box);
void ReleaseClipboard(WaylandBox &box);

} // namespace kvz::platform
