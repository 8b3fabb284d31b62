// An allocator for vekcore that counts live blocks and can fail the n-th
// allocation, for leak checks and failure injection in tests.
#ifndef VEKR_TESTS_SUPPORT_ALLOC_HOOK_H
#define VEKR_TESTS_SUPPORT_ALLOC_HOOK_H

#include <atomic>
#include <unordered_map>
#include <mutex>
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
    // The size vekMalloc was asked for when it returned p, or 0 when p is
    // no live block of it. vekMalloc asks its allocator for two alignment
    // units more than the caller's size and returns an address inside.
    size_t askedFor(const void* p) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const char* q = static_cast<const char*>(p);
        for (const auto& [block, size] : sizes_) {
            const char* start = static_cast<const char*>(block);
            if (start <= q && q < start + size) return size - 2 * VEK_MALLOC_ALIGNMENT;
        }
        return 0;
    }

private:
    static void* alloc(size_t size, void* user)
    {
        auto* self = static_cast<CountingAllocator*>(user);
        const long n = ++self->calls_;
        if (self->failAt_ != 0 && n == self->failAt_) return nullptr;
        void* p = std::malloc(size);
        if (p) {
            ++self->live_;
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->sizes_[p] = size;
        }
        return p;
    }
    static void release(void* p, void* user)
    {
        auto* self = static_cast<CountingAllocator*>(user);
        --self->live_;
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->sizes_.erase(p);
        }
        std::free(p);
    }

    long failAt_;
    std::atomic<long> calls_{0};
    std::atomic<long> live_{0};
    mutable std::mutex mutex_;
    std::unordered_map<const void*, size_t> sizes_;
};

// Sets the thread count for the lifetime of the object.
class ScopedThreads {
public:
    explicit ScopedThreads(int n) { vekSetNumThreads(n); }
    ~ScopedThreads() { vekSetNumThreads(0); }
};

}  // namespace vekr_test

#endif
