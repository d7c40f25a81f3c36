#include "KVZDebugLib/platform/dialog/DialogLibrary.h"

#include <dlfcn.h>
#include <pthread.h>
#include <time.h>

namespace kvz::platform {

namespace {

enum LoadState { kNotTried = 0, kReady, kUnusable };

pthread_mutex_t g_LoadLock = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t g_FontconfigLock = PTHREAD_MUTEX_INITIALIZER;

FontconfigFunctions g_Fontconfig;
FreetypeFunctions g_Freetype;
FribidiFunctions g_Fribidi;
HarfbuzzFunctions g_Harfbuzz;

bool ResolveFontconfig(void *lib, void *out) {
    auto &table = *static_cast<FontconfigFunctions *>(out);
    bool all = true;
    KVZ_FC_FUNCTIONS(KVZ_LIBRARY_RESOLVE)
    return all;
}

bool ResolveFreetype(void *lib, void *out) {
    auto &table = *static_cast<FreetypeFunctions *>(out);
    bool all = true;
    KVZ_FREETYPE_FUNCTIONS(KVZ_LIBRARY_RESOLVE)
    return all;
}

bool ResolveFribidi(void *lib, void *out) {
    auto &table = *static_cast<FribidiFunctions *>(out);
    bool all = true;
    KVZ_FRIBIDI_FUNCTIONS(KVZ_LIBRARY_RESOLVE)
    return all;
}

bool ResolveHarfbuzz(void *lib, void *out) {
    auto &table = *static_cast<HarfbuzzFunctions *>(out);
    bool all = true;
    KVZ_HARFBUZZ_FUNCTIONS(KVZ_LIBRARY_RESOLVE)
    return all;
}

RunTimeLibrary g_FontconfigLibrary = {"libfontconfig.so.1", &g_Fontconfig, ResolveFontconfig, 0};
RunTimeLibrary g_FreetypeLibrary = {"libfreetype.so.6", &g_Freetype, ResolveFreetype, 0};
RunTimeLibrary g_FribidiLibrary = {"libfribidi.so.0", &g_Fribidi, ResolveFribidi, 0};
RunTimeLibrary g_HarfbuzzLibrary = {"libharfbuzz.so.0", &g_Harfbuzz, ResolveHarfbuzz, 0};

bool Load(const RunTimeLibrary &library) {
    void *lib = dlopen(library.file, RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) {
        return false;
    }
    if (!library.resolve(lib, library.table)) {
        dlclose(lib);
        return false;
    }
    return true;
}

} // namespace

const void *LoadOnce(RunTimeLibrary &library) {
    pthread_mutex_lock(&g_LoadLock);
    if (library.state == kNotTried) {
        library.state = Load(library) ? kReady : kUnusable;
    }
    const void *table = library.state == kReady ? library.table : nullptr;
    pthread_mutex_unlock(&g_LoadLock);
    return table;
}

const FontconfigFunctions *LoadFontconfig() {
    return static_cast<const FontconfigFunctions *>(LoadOnce(g_FontconfigLibrary));
}

const FreetypeFunctions *LoadFreetype() {
    return static_cast<const FreetypeFunctions *>(LoadOnce(g_FreetypeLibrary));
}

const FribidiFunctions *LoadFribidi() {
    return static_cast<const FribidiFunctions *>(LoadOnce(g_FribidiLibrary));
}

const HarfbuzzFunctions *LoadHarfbuzz() {
    return static_cast<const HarfbuzzFunctions *>(LoadOnce(g_HarfbuzzLibrary));
}

void LockFontconfig() {
    pthread_mutex_lock(&g_FontconfigLock);
}

bool LockFontconfigWithin(int milliseconds) {
    timespec deadline = {};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += milliseconds / 1000;
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000;
    if (deadline.tv_nsec >= 1000000000) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000;
    }
    return pthread_mutex_timedlock(&g_FontconfigLock, &deadline) == 0;
}

void UnlockFontconfig() {
    pthread_mutex_unlock(&g_FontconfigLock);
}

} // namespace kvz::platform
