/* The floor of a setter: a function in a shared library of its own, bound as the module's
   imports are, that stores a pointer with release order and returns it. */
#include <stdatomic.h>

static _Atomic(void *) g_Slot;

__attribute__((visibility("default"))) void *KvzBenchStore(void *value) {
    atomic_store_explicit(&g_Slot, value, memory_order_release);
    return value;
}
