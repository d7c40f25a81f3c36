// The report lock on POSIX systems: a statically initialised recursive mutex, so it
// needs no set-up at load and never allocates.
#include "KVZDebugLib/platform/Platform.h"

#include <pthread.h>

namespace kvz::platform {

namespace {
#if defined(PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP)
pthread_mutex_t g_reportMutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
#else
pthread_mutex_t g_reportMutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER;
#endif
} // namespace

void LockReports() {
    pthread_mutex_lock(&g_reportMutex);
}
void UnlockReports() {
    pthread_mutex_unlock(&g_reportMutex);
}

} // namespace kvz::platform
