#include "KVZDebugLib/platform/dialog/DbusLibrary.h"

#include "KVZDebugLib/platform/dialog/DialogLibrary.h"

#include <dlfcn.h>

namespace kvz::platform {

namespace {

DbusFunctions g_Dbus;

bool ResolveDbus(void *lib, void *out) {
    auto &table = *static_cast<DbusFunctions *>(out);
    bool all = true;
    KVZ_DBUS_FUNCTIONS(KVZ_LIBRARY_RESOLVE)
    return all;
}

RunTimeLibrary g_DbusLibrary = {"libdbus-1.so.3", &g_Dbus, ResolveDbus, 0};

} // namespace

const DbusFunctions *LoadDbus() {
    return static_cast<const DbusFunctions *>(LoadOnce(g_DbusLibrary));
}

} // namespace kvz::platform
