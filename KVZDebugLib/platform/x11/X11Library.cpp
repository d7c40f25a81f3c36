#include "KVZDebugLib/platform/x11/X11Library.h"

#include <dlfcn.h>

namespace kvz::platform {

namespace {

XlibFunctions g_Xlib;
XftFunctions g_Xft;

bool ResolveXlib(void *lib, void *out) {
    auto &table = *static_cast<XlibFunctions *>(out);
    bool all = true;
    KVZ_XLIB_FUNCTIONS(KVZ_LIBRARY_RESOLVE)
    return all;
}

bool ResolveXft(void *lib, void *out) {
    auto &table = *static_cast<XftFunctions *>(out);
    bool all = true;
    KVZ_XFT_FUNCTIONS(KVZ_LIBRARY_RESOLVE)
    return all;
}

RunTimeLibrary g_XlibLibrary = {"libX11.so.6", &g_Xlib, ResolveXlib, 0};
RunTimeLibrary g_XftLibrary = {"libXft.so.2", &g_Xft, ResolveXft, 0};

} // namespace

const XlibFunctions *LoadXlib() {
    return static_cast<const XlibFunctions *>(LoadOnce(g_XlibLibrary));
}

const XftFunctions *LoadXft() {
    // fontconfig first: libXft needs it, and a fontconfig loaded without Xft is harmless.
    if (LoadFontconfig() == nullptr) {
        return nullptr;
    }
    return static_cast<const XftFunctions *>(LoadOnce(g_XftLibrary));
}

} // namespace kvz::platform
