// Test data for the per-ray primitives: seeded random packets kept on the
// host, copied into guarded arrays at a chosen alignment for each call.
#ifndef VEKR_TESTS_SHADING_RAY_PACKETS_H
#define VEKR_TESTS_SHADING_RAY_PACKETS_H

#include <gtest/gtest.h>

#include <algorithm>
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
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

struct Packet {
    std::vector<float> c[3];
};

// What a call left in its outputs, copied back after the guards were checked.
struct Result {
    Packet p3;
    std::vector<float> c1;
    std::vector<int32_t> mask;
};

inline std::vector<float> randomValues(Rng& rng, size_t n, float lo, float hi)
{
    std::uniform_real_distribution<float> d(lo, hi);
    std::vector<float> v(n);
    for (auto& x : v) x = d(rng);
    return v;
}

inline Packet randomPacket(Rng& rng, size_t n, float lo, float hi)
{
    return {{randomValues(rng, n, lo, hi), randomValues(rng, n, lo, hi), randomValues(rng, n, lo, hi)}};
}

// Hits on triangles 0..9 and a quarter misses with assorted negative values;
// the group at 8..11 misses entirely, so the 4-wide all-miss shortcut runs.
// The inputs of misses are NaN: no output may depend on them.
inline std::vector<int32_t> randomMask(Rng& rng, size_t n, std::initializer_list<Packet*> poison = {})
{
    std::uniform_int_distribution<int32_t> hit(0, 9), miss(-9, -1), pick(0, 3);
    std::vector<int32_t> m(n);
    for (size_t i = 0; i < n; ++i) m[i] = (pick(rng) == 0 || (i >= 8 && i < 12)) ? miss(rng) : hit(rng);
    for (Packet* p : poison)
        for (size_t i = 0; i < n; ++i)
            if (m[i] < 0)
                for (auto& plane : p->c) plane[i] = kNaN;
    return m;
}

template <class T>
inline OffsetArray<T> array(const std::vector<T>& v, size_t offset)
{
    OffsetArray<T> out(v.size(), offset);
    std::copy(v.begin(), v.end(), out.data());
    return out;
}

inline Planes3 planes(const Packet& p, size_t offset)
{
    Planes3 out(p.c[0].size(), offset);
    for (int k = 0; k < 3; ++k) std::copy(p.c[k].begin(), p.c[k].end(), out[k].data());
    return out;
}

// Output planes filled with a value no call writes.
inline Planes3 outPlanes(size_t n, size_t offset)
{
    Planes3 out(n, offset);
    for (int k = 0; k < 3; ++k) out[k].fill(-777.0f);
    return out;
}

template <class T>
inline std::vector<T> take(OffsetArray<T>& a)
{
    EXPECT_TRUE(a.guardsIntact());
    return a.copy();
}

inline Packet take(Planes3& p)
{
    return {{take(p.x), take(p.y), take(p.z)}};
}

// The first n elements of every output as bit patterns, for bit-exact
// comparison of two calls.
inline std::vector<uint32_t> bits(const Result& r, size_t n)
{
    std::vector<uint32_t> b;
    auto add = [&](const auto& v) {
        for (size_t i = 0; i < std::min(n, v.size()); ++i) b.push_back(floatBits(v[i]));
    };
    for (const auto& plane : r.p3.c) add(plane);
    add(r.c1);
    for (size_t i = 0; i < std::min(n, r.mask.size()); ++i) b.push_back(static_cast<uint32_t>(r.mask[i]));
    return b;
}

// run(offset, count) makes one call over the first count elements of fixed
// data. Aligned over n (the 4-wide path), misaligned over n and aligned over
// n - 1 (the scalar path both) must agree bit for bit.
template <class Run>
inline Result expectIdenticalPaths(Run run, size_t n)
{
    const Result fourWide = run(kAligned, n);
    EXPECT_EQ(bits(run(kMisaligned, n), n), bits(fourWide, n)) << "misaligned";
    EXPECT_EQ(bits(run(kAligned, n - 1), n - 1), bits(fourWide, n - 1)) << "count n - 1";
    return fourWide;
}

// |got - want| within rel x scale, where scale bounds the magnitudes that
// the float computation went through.
inline ::testing::AssertionResult near(float got, double want, double scale, double rel)
{
    if (std::fabs(got - want) <= rel * scale) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << got << ", want " << want << " (allowed " << rel * scale << ")";
}

}  // namespace vekr_test

#endif
