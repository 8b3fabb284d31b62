// The standard volume workloads' sources: white noise from a hash of each
// voxel's linear index, generated once per process.
#ifndef VEKR_BENCH_SUPPORT_BENCH_VOLUMES_H
#define VEKR_BENCH_SUPPORT_BENCH_VOLUMES_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "workloads.h"

namespace vekr_bench {

inline uint32_t voxelHash(uint32_t n, uint32_t seed)
{
    return wl_voxel_hash(n, seed);
}

// Source A: 8u 128^3, seed 1.
inline const std::vector<uint8_t>& sourceA()
{
    static const std::vector<uint8_t> v = [] {
        std::vector<uint8_t> a(128u * 128u * 128u);
        for (uint32_t i = 0; i < a.size(); ++i) a[i] = static_cast<uint8_t>(voxelHash(i, 1) >> 24);
        return a;
    }();
    return v;
}

// Source B: 32f 256^3, seed 2, values in [0, 1).
inline const std::vector<float>& sourceB()
{
    static const std::vector<float> v = [] {
        std::vector<float> b(256u * 256u * 256u);
        for (uint32_t i = 0; i < b.size(); ++i) b[i] = static_cast<float>(voxelHash(i, 2) >> 8) * 5.9604644775390625e-8f;
        return b;
    }();
    return v;
}

// Source C: 16s 260^3, seed 3, values in [-2048, 2047].
inline const std::vector<int16_t>& sourceC()
{
    static const std::vector<int16_t> v = [] {
        std::vector<int16_t> c(size_t{260} * 260 * 260);
        for (uint32_t i = 0; i < c.size(); ++i)
            c[i] = static_cast<int16_t>(static_cast<int32_t>(voxelHash(i, 3) >> 20) - 2048);
        return c;
    }();
    return v;
}

}  // namespace vekr_bench

#endif
