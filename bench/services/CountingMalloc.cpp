#include "CountingMalloc.h"

#include <atomic>
#include <cstddef>

// glibc's own entry points, which the interposed functions forward to.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* pointer);
std::size_t malloc_usable_size(void* pointer) noexcept;
}

namespace {

std::atomic<std::size_t> g_current{0};
std::atomic<std::size_t> g_peak{0};

void Added(void* pointer) {
    if (pointer == nullptr) {
        return;
    }
    const std::size_t now =
        g_current.fetch_add(malloc_usable_size(pointer)) + malloc_usable_size(pointer);
    std::size_t peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
}

void Removed(void* pointer) {
    if (pointer != nullptr) {
        g_current.fetch_sub(malloc_usable_size(pointer));
    }
}

} // namespace

namespace countingmalloc {

std::size_t CurrentBytes() {
    return g_current.load();
}
std::size_t PeakBytes() {
    return g_peak.load();
}
void ResetPeak() {
    g_peak.store(g_current.load());
}

} // namespace countingmalloc

extern "C" {

void* malloc(std::size_t size) noexcept {
    void* pointer = __libc_malloc(size);
    Added(pointer);
    return pointer;
}

void* calloc(std::size_t count, std::size_t size) noexcept {
    void* pointer = __libc_calloc(count, size);
    Added(pointer);
    return pointer;
}

void* realloc(void* old, std::size_t size) noexcept {
    Removed(old);
    void* pointer = __libc_realloc(old, size);
    // A failed realloc leaves the old block in place.
    Added(pointer == nullptr && size != 0 ? old : pointer);
    return pointer;
}

void free(void* pointer) noexcept {
    Removed(pointer);
    __libc_free(pointer);
}

void* memalign(std::size_t alignment, std::size_t size) noexcept {
    void* pointer = __libc_memalign(alignment, size);
    Added(pointer);
    return pointer;
}

void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
    return memalign(alignment, size);
}

int posix_memalign(void** out, std::size_t alignment, std::size_t size) noexcept {
    void* pointer = memalign(alignment, size);
    if (pointer == nullptr) {
        return 12; // ENOMEM
    }
    *out = pointer;
    return 0;
}

void* valloc(std::size_t size) noexcept {
    return memalign(4096, size);
}

void* pvalloc(std::size_t size) noexcept {
    return memalign(4096, (size + 4095) / 4096 * 4096);
}

} // extern "C"
