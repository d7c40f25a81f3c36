#include "KVZDebugLib/platform/x11/X11Library.h"

#include <dlfcn.h>
#include <pthread.h>
#include <time.h>

namespace kvz::platform {

namespace {

enum class LoadState { NotTried, Ready, Unusable };

pthread_mutex_t g_LoadLock = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t g_XftLock = PTHREAD_MUTEX_INITIALIZER;
LoadState g_XlibState = LoadState::NotTried;
LoadState g_XftState = LoadState::NotTried;
LoadState g_FribidiState = LoadState::NotTried;
LoadState g_HarfbuzzState = LoadState::NotTried;
HarfbuzzFunctions g_Harfbuzz;
XlibFunctions g_Xlib;
XftFunctions g_Xft;
FribidiFunctions g_Fribidi;

#define KVZ_X_RESOLVE(name)                                                                        \
    table.name = reinterpret_cast<decltype(&::name)>(dlsym(lib, #name));                           \
    all = all && table.name != nullptr;

bool ResolveXlib(void *lib, XlibFunctions &table) {
    bool all = true;
    KVZ_XLIB_FUNCTIONS(KVZ_X_RESOLVE)
    return all;
}

bool ResolveXft(void *lib, XftFunctions &table) {
    bool all = true;
    KVZ_XFT_FUNCTIONS(KVZ_X_RESOLVE)
    return all;
}

bool ResolveFc(void *lib, XftFunctions &table) {
    bool all = true;
    KVZ_FC_FUNCTIONS(KVZ_X_RESOLVE)
    return all;
}

bool ResolveFribidi(void *lib, FribidiFunctions &table) {
    bool all = true;
    KVZ_FRIBIDI_FUNCTIONS(KVZ_X_RESOLVE)
    return all;
}

bool ResolveHarfbuzz(void *lib, HarfbuzzFunctions &table) {
    bool all = true;
    KVZ_HARFBUZZ_FUNCTIONS(KVZ_X_RESOLVE)
    return all;
}

#undef KVZ_X_RESOLVE

// Loads a library and resolves a table from it; the library is let go when incomplete.
template <typename Table>
bool LoadInto(const char *name, Table &table, bool (*resolve)(void *, Table &)) {
    void *lib = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) {
        return false;
    }
    if (!resolve(lib, table)) {
        dlclose(lib);
        return false;
    }
    return true;
}

} // namespace

// The libraries stay loaded once loaded: the host may be using them too, and unloading
// libraries that keep process-wide state is not worth the risk.
const XlibFunctions *LoadXlib() {
    pthread_mutex_lock(&g_LoadLock);
    if (g_XlibState == LoadState::NotTried) {
        g_XlibState =
            LoadInto("libX11.so.6", g_Xlib, ResolveXlib) ? LoadState::Ready : LoadState::Unusable;
    }
    const XlibFunctions *table = g_XlibState == LoadState::Ready ? &g_Xlib : nullptr;
    pthread_mutex_unlock(&g_LoadLock);
    return table;
}

const XftFunctions *LoadXft() {
    pthread_mutex_lock(&g_LoadLock);
    if (g_XftState == LoadState::NotTried) {
        // fontconfig first: libXft needs it, and a fontconfig loaded without Xft is harmless.
        const bool ready = LoadInto("libfontconfig.so.1", g_Xft, ResolveFc) &&
                           LoadInto("libXft.so.2", g_Xft, ResolveXft);
        g_XftState = ready ? LoadState::Ready : LoadState::Unusable;
    }
    const XftFunctions *table = g_XftState == LoadState::Ready ? &g_Xft : nullptr;
    pthread_mutex_unlock(&g_LoadLock);
    return table;
}

const FribidiFunctions *LoadFribidi() {
    pthread_mutex_lock(&g_LoadLock);
    if (g_FribidiState == LoadState::NotTried) {
        g_FribidiState = LoadInto("libfribidi.so.0", g_Fribidi, ResolveFribidi)
                             ? LoadState::Ready
                             : LoadState::Unusable;
    }
    const FribidiFunctions *table = g_FribidiState == LoadState::Ready ? &g_Fribidi : nullptr;
    pthread_mutex_unlock(&g_LoadLock);
    return table;
}

const HarfbuzzFunctions *LoadHarfbuzz() {
    pthread_mutex_lock(&g_LoadLock);
    if (g_HarfbuzzState == LoadState::NotTried) {
        g_HarfbuzzState = LoadInto("libharfbuzz.so.0", g_Harfbuzz, ResolveHarfbuzz)
                              ? LoadState::Ready
                              : LoadState::Unusable;
    }
    const HarfbuzzFunctions *table = g_HarfbuzzState == LoadState::Ready ? &g_Harfbuzz : nullptr;
    pthread_mutex_unlock(&g_LoadLock);
    return table;
}

void LockXft() {
    pthread_mutex_lock(&g_XftLock);
}

bool LockXftWithin(int milliseconds) {
    timespec deadline = {};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += milliseconds / 1000;
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000;
    if (deadline.tv_nsec >= 1000000000) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000;
    }
    return pthread_mutex_timedlock(&g_XftLock, &deadline) == 0;
}

void UnlockXft() {
    pthread_mutex_unlock(&g_XftLock);
}

} // namespace kvz::platform
