// An allocator for vekcore that counts live blocks and can fail the n-th
// allocation, for leak checks and failure injection in tests.
#ifndef VEKR_TESTS_SUPPORT_ALLOC_HOOK_H
#define VEKR_TESTS_SUPPORT_ALLOC_HOOK_H

#include <atomic>
#include <cstdlib>

#include "vekcore.h"

namespace vekr_test {

class CountingAllocator {
public:
    // failAt: the 1-based number of the allocation that returns null; 0 never.
    explicit CountingAllocator(long failAt = 0) : failAt_(failAt)
    {
        vekSetAllocator(&CountingAllocator::alloc, &CountingAllocator::release, this);
    }
    ~CountingAllocator() { vekSetAllocator(nullptr, nullptr, nullptr); }
    CountingAllocator(const CountingAllocator&) = delete;
    CountingAllocator& operator=(const CountingAllocator&) = delete;

    long calls() const { return calls_.load(); }
    long live() const { return live_.load(); }

private:
    static void* alloc(size_t size, void* user)
    {
        auto* self = static_cast<CountingAllocator*>(user);
        const long n = ++self->calls_;
        if (self->failAt_ != 0 && n == self->failAt_) return nullptr;
        void* p = std::malloc(size);
        if (p) ++self->live_;
        return p;
    }
    static void release(void* p, void* user)
    {
        auto* self = static_cast<CountingAllocator*>(user);
        --self->live_;
        std::free(p);
    }

    long failAt_;
    std::atomic<long> calls_{0};
    std::atomic<long> live_{0};
};

// Sets the thread count for the lifetime of the object.
class ScopedThreads {
public:
    explicit ScopedThreads(int n) { vekSetNumThreads(n); }
    ~ScopedThreads() { vekSetNumThreads(0); }
};

}  // namespace vekr_test

#endif
