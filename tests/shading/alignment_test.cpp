// The 4-wide paths load with aligned instructions only when every array the
// call touches is 16-byte aligned; otherwise a call takes its unaligned
// 4-wide variant or its scalar loop. Each call runs once with every array 4
// bytes off a 16-byte boundary, and then once per array with that array alone
// off the boundary: each must give the same bits as the first run, and an
// array the path check forgot would fault or take the aligned path's bits.
// The same table checks that a call stops at its count.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "shading/ray_packets.h"
#include "vekr.h"

using namespace vekr_test;

namespace {

constexpr size_t kCount = 64;
constexpr int kAll = -1;

// The arrays of one call, numbered in the order the call asks for them;
// array `odd` is placed off the boundary, or every array when odd is kAll.
class Arrays {
public:
    explicit Arrays(int odd, Rng& rng, bool allActive = false) : odd_(odd), rng_(rng), allActive_(allActive) {}

    // Random floats in [lo, hi].
    float* floats(float lo = -2.0f, float hi = 2.0f)
    {
        const std::vector<float> v = randomValues(rng_, kCount, lo, hi);
        return place(v.data());
    }
    // Three planes.
    float** planes(float lo = -2.0f, float hi = 2.0f)
    {
        for (float*& p : three_.emplace_back()) p = floats(lo, hi);
        return three_.back().data();
    }
    // A mask: a quarter of the elements inactive, one whole group of four.
    int32_t* mask()
    {
        std::vector<int32_t> m(kCount);
        for (size_t i = 0; i < kCount; ++i)
            m[i] = !allActive_ && (i % 4 == 1 || (i >= 8 && i < 12)) ? -1 - int32_t(i % 3) : int32_t(i % 10);
        return reinterpret_cast<int32_t*>(place(m.data()));
    }
    int count() const { return static_cast<int>(arrays_.size()); }
    // Every array's bits after the call, in order.
    std::vector<uint32_t> bits() const
    {
        std::vector<uint32_t> all;
        for (const OffsetArray<uint32_t>& a : arrays_) {
            EXPECT_TRUE(a.guardsIntact());
            const std::vector<uint32_t> v = a.copy();
            all.insert(all.end(), v.begin(), v.end());
        }
        return all;
    }

private:
    template <class T>
    float* place(const T* values)
    {
        static_assert(sizeof(T) == 4, "four-byte elements");
        const size_t offset = (odd_ == kAll || count() == odd_) ? kMisaligned : kAligned;
        OffsetArray<uint32_t>& a = arrays_.emplace_back(kCount, offset);
        std::memcpy(a.data(), values, kCount * 4);
        return reinterpret_cast<float*>(a.data());
    }

    int odd_;
    Rng& rng_;
    bool allActive_;
    std::deque<OffsetArray<uint32_t>> arrays_;
    std::deque<std::array<float*, 3>> three_;
};

using Call = std::function<VekStatus(Arrays&, int32_t)>;
constexpr int32_t n = static_cast<int32_t>(kCount);

const float kPoint[3] = {0.5f, 3.0f, -1.0f};

// Each call's arguments go in a braced list, which is evaluated left to
// right: the arrays are drawn, and numbered, in the order the call takes
// them.
const std::pair<const char*, Call> kCalls[] = {
    {"CastReflectionRay", [](Arrays& a, int32_t count) {
         return std::apply(vekrCastReflectionRay_32f, std::tuple{a.planes(), a.mask(), a.planes(), a.planes(), count});
     }},
    {"CastShadowSO", [](Arrays& a, int32_t count) {
         return std::apply(vekrCastShadowSO_32f, std::tuple{kPoint, a.floats(), a.planes(), a.planes(), a.mask(),
                                                            a.floats(), a.planes(), count});
     }},
    {"HitPoint3DEpsS0", [](Arrays& a, int32_t count) {
         return std::apply(vekrHitPoint3DEpsS0_32f_M, std::tuple{kPoint, a.planes(), a.floats(0.5f, 4.0f), a.mask(),
                                                                 a.planes(), count, 0.999f});
     }},
    {"HitPoint3DEpsM0", [](Arrays& a, int32_t count) {
         return std::apply(vekrHitPoint3DEpsM0_32f_M, std::tuple{a.planes(), a.planes(), a.floats(0.5f, 4.0f),
                                                                 a.mask(), a.planes(), count, 0.999f});
     }},
    {"Dot", [](Arrays& a, int32_t count) {
         return std::apply(vekrDot_32f_P3C1M, std::tuple{a.planes(), a.planes(), a.mask(), a.floats(), count});
     }},
    {"DotChangeNorm", [](Arrays& a, int32_t count) {
         return std::apply(vekrDotChangeNorm_32f_IM, std::tuple{a.planes(), a.mask(), a.planes(), a.floats(), count});
     }},
    {"Mul", [](Arrays& a, int32_t count) {
         return std::apply(vekrMul_32f_C1IM, std::tuple{a.floats(), a.mask(), a.floats(), count});
     }},
    {"MulP3", [](Arrays& a, int32_t count) {
         return std::apply(vekrMul_32f_C1P3IM, std::tuple{a.floats(), a.mask(), a.planes(), count});
     }},
    {"Div", [](Arrays& a, int32_t count) {
         return std::apply(vekrDiv_32f_C1IM, std::tuple{a.floats(0.5f, 2.0f), a.mask(), a.floats(), count});
     }},
    {"AddMulMul", [](Arrays& a, int32_t count) {
         static const float val[3] = {0.25f, -1.5f, 3.0f};
         return std::apply(vekrAddMulMul_32f_AC1P3IM,
                           std::tuple{val, a.floats(), a.planes(), a.mask(), a.planes(), count});
     }},
    {"DistAttenuationSO", [](Arrays& a, int32_t count) {
         return std::apply(vekrDistAttenuationSO_32f_M, std::tuple{kPoint, a.planes(), a.mask(), a.floats(), count});
     }},
};

}  // namespace

TEST(FourWidePath, OneMisalignedArrayGivesTheSameBits)
{
    for (const auto& [what, call] : kCalls) {
        Rng first(7);
        Arrays reference(kAll, first);
        ASSERT_EQ(call(reference, n), vekStsOk) << what;
        const std::vector<uint32_t> expected = reference.bits();
        for (int odd = 0; odd < reference.count(); ++odd) {
            Rng rng(7);
            Arrays arrays(odd, rng);
            ASSERT_EQ(call(arrays, n), vekStsOk) << what;
            EXPECT_EQ(arrays.bits(), expected) << what << ": array " << odd << " misaligned";
        }
    }
}

// A count one short of the arrays, every element active: the last element of
// every array (inputs and outputs) keeps its bits.
TEST(FourWidePath, NothingPastTheCountIsTouched)
{
    for (const auto& [what, call] : kCalls) {
        Rng before(9), after(9);
        Arrays untouched(kAll, before, true), arrays(kAll, after, true);
        ASSERT_EQ(call(untouched, 0), vekStsOk) << what;
        ASSERT_EQ(call(arrays, n - 1), vekStsOk) << what;
        const std::vector<uint32_t> a = untouched.bits(), b = arrays.bits();
        ASSERT_EQ(a.size(), b.size());
        for (size_t i = kCount - 1; i < a.size(); i += kCount) EXPECT_EQ(b[i], a[i]) << what << ": array " << i / kCount;
    }
}
