// Core services: the allocator and the thread count that vekr reads.
//
// Both are configuration of the application, so unlike vekr itself this
// library keeps process-wide settings. They are read far more often than
// written; the allocator pair is guarded by a mutex because it is three
// values that must change together, the thread count is a single atomic.

#include "vekcore.h"

#include <omp.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

struct Allocator {
    VekAllocFn alloc;
    VekReleaseFn release;
    void* user;
};

#if defined(__linux__) && defined(__LP64__) && defined(MADV_HUGEPAGE)
// Large blocks (the build's arenas and candidate lists, tree blocks) are
// laid on 2 MB pages where the kernel allows it: a build first-touches
// hundreds of megabytes, and with 4 KB pages a seventh of its time went to
// page faults. Only in 64-bit processes: in 32-bit ones the alignment
// would cost up to 2 MB of the scarce address space per block.
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kHugeFrom = size_t{4} << 20;

void* defaultAlloc(size_t size, void*)
{
    if (size < kHugeFrom) return std::malloc(size);
    void* p = nullptr;
    // The aligned request needs 2 MB more room; without it, plain pages.
    if (posix_memalign(&p, kHugePage, size) != 0) return std::malloc(size);
    // Only advice, and only on whole 2 MB pages inside the block: a kernel
    // without transparent huge pages keeps 4 KB ones.
    madvise(p, size & ~(kHugePage - 1), MADV_HUGEPAGE);
    return p;
}
#else
void* defaultAlloc(size_t size, void*) { return std::malloc(size); }
#endif
void defaultRelease(void* p, void*) { std::free(p); }

std::mutex gAllocatorMutex;
Allocator gAllocator{defaultAlloc, defaultRelease, nullptr};
std::atomic<int32_t> gNumThreads{0};  // 0: follow OpenMP

Allocator currentAllocator()
{
    std::lock_guard<std::mutex> lock(gAllocatorMutex);
    return gAllocator;
}

// Every block carries, just below the aligned address, how to give it back:
// the raw pointer from the allocator and the release function with its user
// pointer. That is what lets the allocator change while blocks are alive.
struct BlockHeader {
    void* raw;
    VekReleaseFn release;
    void* user;
};
static_assert(sizeof(BlockHeader) <= VEK_MALLOC_ALIGNMENT, "header must fit in the padding");

}  // namespace

extern "C" {

VEKCORE_API void* VEKCORE_CALL vekMalloc(int32_t size)
{
    if (size < 1) return nullptr;
    const Allocator a = currentAllocator();
    // Padding of one full alignment unit leaves room for the header below
    // the aligned address whatever alignment the allocator gave us.
    const size_t total = static_cast<size_t>(size) + 2 * VEK_MALLOC_ALIGNMENT;
    void* raw = a.alloc(total, a.user);
    if (!raw) return nullptr;
    uintptr_t base = reinterpret_cast<uintptr_t>(raw) + sizeof(BlockHeader);
    uintptr_t aligned = (base + VEK_MALLOC_ALIGNMENT - 1) & ~static_cast<uintptr_t>(VEK_MALLOC_ALIGNMENT - 1);
    BlockHeader* h = reinterpret_cast<BlockHeader*>(aligned) - 1;
    h->raw = raw;
    h->release = a.release;
    h->user = a.user;
    return reinterpret_cast<void*>(aligned);
}

VEKCORE_API void VEKCORE_CALL vekFree(void* p)
{
    if (!p) return;
    const BlockHeader* h = static_cast<BlockHeader*>(p) - 1;
    h->release(h->raw, h->user);
}

VEKCORE_API int32_t VEKCORE_CALL ownGetNumThreads(void)
{
    const int32_t n = gNumThreads.load(std::memory_order_relaxed);
    if (n >= 1) return n;
    const int m = omp_get_max_threads();
    return m >= 1 ? m : 1;
}

VEKCORE_API void VEKCORE_CALL vekSetNumThreads(int32_t n)
{
    gNumThreads.store(n >= 1 ? n : 0, std::memory_order_relaxed);
}

VEKCORE_API void VEKCORE_CALL vekSetAllocator(VekAllocFn alloc, VekReleaseFn release, void* user)
{
    std::lock_guard<std::mutex> lock(gAllocatorMutex);
    if (alloc && release)
        gAllocator = Allocator{alloc, release, user};
    else
        gAllocator = Allocator{defaultAlloc, defaultRelease, nullptr};
}

}  // extern "C"
