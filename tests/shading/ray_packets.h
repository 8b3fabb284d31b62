// Test data for the per-ray primitives: seeded random packets kept on the
// host, copied into guarded arrays at a chosen alignment for each call.
#ifndef VEKR_TESTS_SHADING_RAY_PACKETS_H
#define VEKR_TESTS_SHADING_RAY_PACKETS_H

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "support/test_buffers.h"

namespace vekr_test {

// Byte offsets that put every array on, or 4 bytes past, a 16-byte boundary.
constexpr size_t kAligned = 0;
constexpr size_t kMisaligned = 4;

struct Packet {
    std::vector<float> c[3];
    size_t size() const { return c[0].size(); }
};

inline Packet randomPacket(Rng& rng, size_t n, float lo, float hi)
{
    std::uniform_real_distribution<float> d(lo, hi);
    Packet p;
    for (auto& plane : p.c)
        for (size_t i = 0; i < n; ++i) plane.push_back(d(rng));
    return p;
}

inline std::vector<float> randomValues(Rng& rng, size_t n, float lo, float hi)
{
    std::uniform_real_distribution<float> d(lo, hi);
    std::vector<float> v(n);
    for (auto& x : v) x = d(rng);
    return v;
}

// Mostly hits (entries 0..9), some misses with assorted negative values, and
// the group of four at 8..11 missing entirely so the all-inactive shortcut
// of the 4-wide kernels runs too.
inline std::vector<int32_t> randomMask(Rng& rng, size_t n)
{
    std::uniform_int_distribution<int32_t> hit(0, 9), miss(-9, -1), pick(0, 3);
    std::vector<int32_t> m(n);
    for (size_t i = 0; i < n; ++i) m[i] = pick(rng) == 0 ? miss(rng) : hit(rng);
    for (size_t i = 8; i < 12 && i < n; ++i) m[i] = -1;
    return m;
}

// Inactive elements must not depend on their inputs: give them NaNs.
inline void poisonInactive(Packet& p, const std::vector<int32_t>& mask)
{
    for (size_t i = 0; i < mask.size(); ++i)
        if (mask[i] < 0)
            for (auto& plane : p.c) plane[i] = std::numeric_limits<float>::quiet_NaN();
}

// Guarded device copies at one alignment.
inline Planes3 planes(const Packet& p, size_t offset)
{
    Planes3 out(p.size(), offset);
    for (int k = 0; k < 3; ++k)
        for (size_t i = 0; i < p.size(); ++i) out[k][i] = p.c[k][i];
    return out;
}

template <class T>
inline OffsetArray<T> array(const std::vector<T>& v, size_t offset)
{
    OffsetArray<T> out(v.size(), offset);
    for (size_t i = 0; i < v.size(); ++i) out[i] = v[i];
    return out;
}

inline Planes3 emptyPlanes(size_t n, size_t offset, float fill = -777.0f)
{
    Planes3 out(n, offset);
    out.x.fill(fill);
    out.y.fill(fill);
    out.z.fill(fill);
    return out;
}

inline bool guardsIntact(Planes3& p)
{
    return p.x.guardsIntact() && p.y.guardsIntact() && p.z.guardsIntact();
}

// Every output float of a call as its bit pattern, for bit-exact comparison
// of two paths.
inline void appendBits(std::vector<uint32_t>& bits, const float* v, size_t n)
{
    for (size_t i = 0; i < n; ++i) bits.push_back(floatBits(v[i]));
}

inline void appendBits(std::vector<uint32_t>& bits, Planes3& p, size_t n)
{
    for (int k = 0; k < 3; ++k) appendBits(bits, p[k].data(), n);
}

// |got - want| within rel x scale, where scale bounds the magnitudes that
// the float computation went through.
inline ::testing::AssertionResult near(float got, double want, double scale, double rel)
{
    if (std::fabs(static_cast<double>(got) - want) <= rel * scale) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << got << ", want " << want << " (allowed " << rel * scale << ")";
}

}  // namespace vekr_test

#endif
