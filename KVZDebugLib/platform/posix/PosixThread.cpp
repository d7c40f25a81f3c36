// The calling thread's name on POSIX systems.
#include "KVZDebugLib/platform/Platform.h"

#include <pthread.h>
#include <string.h>

namespace kvz::platform {

// pthread_self is an integer on some systems and a pointer on others; either fits the
// word. A live thread's value is never 0 (glibc and musl: the address of its descriptor).
uintptr_t CurrentThreadId() {
    static_assert(sizeof(pthread_t) <= sizeof(uintptr_t));
    pthread_t self = pthread_self();
    uintptr_t id = 0;
    memcpy(&id, &self, sizeof self);
    return id;
}

} // namespace kvz::platform
