#include "KVZDebugLib/platform/x11/X11Library.h"

#include <dlfcn.h>

namespace kvz::platform {

namespace {

XlibFunctions g_Xlib;

bool ResolveXlib(void *lib, void *out) {
    auto &table = *static_cast<XlibFunctions *>(out);
    bool all = true;
    KVZ_XLIB_FUNCTIONS(KVZ_LIBRARY_RESOLVE)
    return all;
}

RunTimeLibrary g_XlibLibrary = {"libX11.so.6", &g_Xlib, ResolveXlib, 0};

} // namespace

const XlibFunctions *LoadXlib() {
    return static_cast<const XlibFunctions *>(LoadOnce(g_XlibLibrary));
}

} // namespace kvz::platform
