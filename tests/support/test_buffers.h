// Buffers and helpers shared by the test programs.
#ifndef VEKR_TESTS_SUPPORT_TEST_BUFFERS_H
#define VEKR_TESTS_SUPPORT_TEST_BUFFERS_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "aligned_memory.h"

namespace vekr_test {

// A float/int array placed at a chosen byte offset from a 64-byte boundary,
// so one test can run the same data aligned (offset 0) and misaligned
// (offset 4). Extra guard elements before and after are filled with a
// pattern that checkGuards() verifies, catching writes outside the range.
template <class T>
class OffsetArray {
public:
    OffsetArray(size_t n, size_t byteOffset = 0) : n_(n), offset_(byteOffset)
    {
        const size_t bytes = (n + 2 * kGuard) * sizeof(T) + byteOffset + 64;
        raw_.reset(static_cast<unsigned char*>(portable_aligned_alloc(64, bytes)));
        std::memset(raw_.get(), kPattern, (bytes + 63) / 64 * 64);
        data_ = reinterpret_cast<T*>(raw_.get() + 64 + byteOffset);
    }
    T* data() { return data_; }
    const T* data() const { return data_; }
    T& operator[](size_t i) { return data_[i]; }
    const T& operator[](size_t i) const { return data_[i]; }
    size_t size() const { return n_; }
    void fill(const T& v)
    {
        for (size_t i = 0; i < n_; ++i) data_[i] = v;
    }
    bool guardsIntact() const
    {
        const unsigned char* lo = raw_.get();
        const unsigned char* start = reinterpret_cast<const unsigned char*>(data_);
        for (const unsigned char* p = lo; p < start; ++p)
            if (*p != kPattern) return false;
        const unsigned char* end = start + n_ * sizeof(T);
        for (size_t i = 0; i < kGuard * sizeof(T); ++i)
            if (end[i] != kPattern) return false;
        return true;
    }
    std::vector<T> copy() const { return std::vector<T>(data_, data_ + n_); }

private:
    struct Free {
        void operator()(unsigned char* p) const { portable_aligned_free(p); }
    };
    static constexpr size_t kGuard = 8;
    static constexpr unsigned char kPattern = 0xA5;
    size_t n_;
    size_t offset_;
    std::unique_ptr<unsigned char, Free> raw_;
    T* data_;
};

// Three planes of one P3 argument, each an OffsetArray.
struct Planes3 {
    Planes3(size_t n, size_t byteOffset = 0) : x(n, byteOffset), y(n, byteOffset), z(n, byteOffset) {}
    OffsetArray<float> x, y, z;
    float* p[3] = {x.data(), y.data(), z.data()};
    const float* cp[3] = {x.data(), y.data(), z.data()};
    OffsetArray<float>& operator[](int k) { return k == 0 ? x : (k == 1 ? y : z); }
};

inline uint32_t floatBits(float f)
{
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

inline float bitsFloat(uint32_t u)
{
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}

// Seeded generator: every test that draws random data names its seed.
using Rng = std::mt19937;

}  // namespace vekr_test

#endif
