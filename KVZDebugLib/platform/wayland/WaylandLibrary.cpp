#include "KVZDebugLib/platform/wayland/WaylandLibrary.h"

#include <dlfcn.h>

namespace kvz::platform {

namespace {

WaylandFunctions g_Wayland;
XkbFunctions g_Xkb;

bool ResolveWayland(void *lib, void *out) {
    auto &table = *static_cast<WaylandFunctions *>(out);
    bool all = true;
    KVZ_WAYLAND_FUNCTIONS(KVZ_LIBRARY_RESOLVE)
    return all;
}

bool ResolveXkb(void *lib, void *out) {
    auto &table = *static_cast<XkbFunctions *>(out);
    bool all = true;
    KVZ_XKB_FUNCTIONS(KVZ_LIBRARY_RESOLVE)
    return all;
}

RunTimeLibrary g_WaylandLibrary = {"libwayland-client.so.0", &g_Wayland, ResolveWayland, 0};
RunTimeLibrary g_XkbLibrary = {"libxkbcommon.so.0", &g_Xkb, ResolveXkb, 0};

} // namespace

const WaylandFunctions *LoadWayland() {
    return static_cast<const WaylandFunctions *>(LoadOnce(g_WaylandLibrary));
}

const XkbFunctions *LoadXkb() {
    return static_cast<const XkbFunctions *>(LoadOnce(g_XkbLibrary));
}

const WaylandFunctions &Wayland() {
    return g_Wayland;
}

} // namespace kvz::platform
