#include "CountingAllocator.h"

#include <atomic>
#include <errno.h>
#include <new>
#include <stddef.h>
#include <stdlib.h>

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *pointer, size_t size);
void *__libc_memalign(size_t alignment, size_t size);
void __libc_free(void *pointer);
}

namespace {

std::atomic<bool> g_counting{false};
std::atomic<long> g_calls{0};

inline void Count() {
    if (g_counting.load(std::memory_order_relaxed)) {
        g_calls.fetch_add(1, std::memory_order_relaxed);
    }
}

void *NewOrThrow(size_t size) {
    Count();
    void *pointer = __libc_malloc(size != 0 ? size : 1);
    if (pointer == nullptr) {
        throw std::bad_alloc();
    }
    return pointer;
}

void *AlignedNewOrThrow(size_t size, std::align_val_t alignment) {
    Count();
    void *pointer = __libc_memalign(static_cast<size_t>(alignment), size != 0 ? size : 1);
    if (pointer == nullptr) {
        throw std::bad_alloc();
    }
    return pointer;
}

// Keeps the compiler from removing an allocation that is freed unused.
void Escape(void *pointer) {
    __asm__ volatile("" : : "r"(pointer) : "memory");
}

} // namespace

extern "C" {

void *malloc(size_t size) {
    Count();
    return __libc_malloc(size);
}

void *calloc(size_t count, size_t size) {
    Count();
    return __libc_calloc(count, size);
}

void *realloc(void *pointer, size_t size) {
    Count();
    return __libc_realloc(pointer, size);
}

void free(void *pointer) {
    __libc_free(pointer);
}

void *memalign(size_t alignment, size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}

void *aligned_alloc(size_t alignment, size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void **result, size_t alignment, size_t size) {
    Count();
    void *pointer = __libc_memalign(alignment, size);
    if (pointer == nullptr) {
        return ENOMEM;
    }
    *result = pointer;
    return 0;
}

} // extern "C"

void *operator new(size_t size) {
    return NewOrThrow(size);
}
void *operator new[](size_t size) {
    return NewOrThrow(size);
}
void *operator new(size_t size, const std::nothrow_t &) noexcept {
    Count();
    return __libc_malloc(size != 0 ? size : 1);
}
void *operator new[](size_t size, const std::nothrow_t &) noexcept {
    Count();
    return __libc_malloc(size != 0 ? size : 1);
}
void *operator new(size_t size, std::align_val_t alignment) {
    return AlignedNewOrThrow(size, alignment);
}
void *operator new[](size_t size, std::align_val_t alignment) {
    return AlignedNewOrThrow(size, alignment);
}
void operator delete(void *pointer) noexcept {
    __libc_free(pointer);
}
void operator delete[](void *pointer) noexcept {
    __libc_free(pointer);
}
void operator delete(void *pointer, size_t) noexcept {
    __libc_free(pointer);
}
void operator delete[](void *pointer, size_t) noexcept {
    __libc_free(pointer);
}
void operator delete(void *pointer, std::align_val_t) noexcept {
    __libc_free(pointer);
}
void operator delete[](void *pointer, std::align_val_t) noexcept {
    __libc_free(pointer);
}
void operator delete(void *pointer, size_t, std::align_val_t) noexcept {
    __libc_free(pointer);
}
void operator delete[](void *pointer, size_t, std::align_val_t) noexcept {
    __libc_free(pointer);
}

namespace kvz::alloc {

void StartCounting() {
    g_calls.store(0);
    g_counting.store(true);
}

long StopCounting() {
    g_counting.store(false);
    return g_calls.load();
}

int CountedDeliberateAllocations() {
    int counted = 0;
    auto counts = [&](auto allocate) {
        StartCounting();
        allocate();
        counted += StopCounting() == 1 ? 1 : 0;
    };
    // Called through volatile pointers, so that none of them is folded away.
    void *(*volatile mallocFunction)(size_t) = malloc;
    void *(*volatile callocFunction)(size_t, size_t) = calloc;
    void *(*volatile reallocFunction)(void *, size_t) = realloc;
    counts([&] {
        void *p = mallocFunction(24);
        Escape(p);
        free(p);
    });
    counts([&] {
        void *p = callocFunction(3, 8);
        Escape(p);
        free(p);
    });
    void *grown = __libc_malloc(8);
    counts([&] {
        grown = reallocFunction(grown, 4096);
        Escape(grown);
    });
    free(grown);
    counts([&] {
        int *p = new int(7);
        Escape(p);
        delete p;
    });
    counts([&] {
        auto *p = new (std::nothrow) char[40];
        Escape(p);
        delete[] p;
    });
    return counted;
}

} // namespace kvz::alloc
