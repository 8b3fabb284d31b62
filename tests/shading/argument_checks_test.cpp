// Every shading export: each checked pointer rejected with -8 whatever the
// count, a count below 1 accepted without looking at the unchecked point
// arguments, and in all these cases nothing written.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ray_packets.h"
#include "vekr.h"

using namespace vekr_test;

namespace {

constexpr size_t kN = 8;

// One set of arguments for every export, filled with a pattern; a snapshot
// of all of it shows whether a call touched anything.
struct Arguments {
    Planes3 a{kN}, b{kN}, c{kN};
    OffsetArray<float> f{kN}, g{kN}, tableF{64};
    OffsetArray<int32_t> mask{kN}, index{64};
    float pointData[3] = {1, 2, 3};
    // Point arguments are never checked, and with nothing to compute never
    // read: the count-below-1 test passes null for them.
    const float* point = pointData;
    const float* uv[2] = {f.data(), g.data()};

    Arguments()
    {
        for (Planes3* p : {&a, &b, &c})
            for (int k = 0; k < 3; ++k) (*p)[k].fill(0.5f + k);
        f.fill(0.25f);
        g.fill(0.25f);
        tableF.fill(1.0f);
        mask.fill(1);
        index.fill(0);
    }
    std::vector<float> snapshot()
    {
        std::vector<float> all;
        for (OffsetArray<float>* p : {&a.x, &a.y, &a.z, &b.x, &b.y, &b.z, &c.x, &c.y, &c.z, &f, &g})
            all.insert(all.end(), p->data(), p->data() + kN);
        for (size_t i = 0; i < kN; ++i) all.push_back(float(mask[i]));
        return all;
    }
};

// A call with the checked pointer number `nullAt` (in check order) set to
// null; -1 passes them all.
using Call = std::function<VekStatus(Arguments&, int nullAt, int32_t count)>;

struct Export {
    std::string name;
    int checkedPointers;
    Call call;
};

template <class T>
T* orNull(T* p, int index, int nullAt)
{
    return index == nullAt ? nullptr : p;
}

std::vector<Export> exportsUnderTest()
{
    return {
        {"CastEye", 1,
         [](Arguments& s, int z, int32_t n) {
             return vekrCastEye_32f(s.point, s.point, s.point, 0, 0, VekrSize{4, 2}, orNull(s.a.p, 0, z),
                                    VekrSize{n, 1});
         }},
        {"CastReflectionRay", 4,
         [](Arguments& s, int z, int32_t n) {
             return vekrCastReflectionRay_32f(orNull(s.a.cp, 0, z), orNull(s.mask.data(), 1, z), orNull(s.b.cp, 2, z),
                                              orNull(s.c.p, 3, z), n);
         }},
        {"CastShadowSO", 6,
         [](Arguments& s, int z, int32_t n) {
             return vekrCastShadowSO_32f(s.point, orNull(s.f.data(), 0, z), orNull(s.a.cp, 1, z),
                                         orNull(s.b.cp, 2, z), orNull(s.mask.data(), 3, z),
                                         orNull(s.g.data(), 5, z), orNull(s.c.p, 4, z), n);
         }},
        {"HitPoint3DEpsS0", 4,
         [](Arguments& s, int z, int32_t n) {
             return vekrHitPoint3DEpsS0_32f_M(s.point, orNull(s.a.cp, 2, z), orNull(s.f.data(), 0, z),
                                              orNull(s.mask.data(), 1, z), orNull(s.c.p, 3, z), n, 1.0f);
         }},
        {"HitPoint3DEpsM0", 5,
         [](Arguments& s, int z, int32_t n) {
             return vekrHitPoint3DEpsM0_32f_M(orNull(s.b.cp, 4, z), orNull(s.a.cp, 2, z), orNull(s.f.data(), 0, z),
                                              orNull(s.mask.data(), 1, z), orNull(s.c.p, 3, z), n, 1.0f);
         }},
        {"SurfFlatNormal", 3,
         [](Arguments& s, int z, int32_t n) {
             return vekrSurfFlatNormal_32f(orNull(s.tableF.data(), 0, z), orNull(s.index.data(), 1, z),
                                           orNull(s.c.p, 2, z), n);
         }},
        {"SurfSmoothNormal", 5,
         [](Arguments& s, int z, int32_t n) {
             return vekrSurfSmoothNormal_32f(orNull(s.tableF.data(), 0, z), orNull(s.index.data(), 1, z),
                                             orNull(s.mask.data(), 2, z), orNull(s.uv, 3, z), orNull(s.c.p, 4, z),
                                             n, 3);
         }},
        {"Dot", 4,
         [](Arguments& s, int z, int32_t n) {
             return vekrDot_32f_P3C1M(orNull(s.a.cp, 0, z), orNull(s.b.cp, 1, z), orNull(s.mask.data(), 2, z),
                                      orNull(s.f.data(), 3, z), n);
         }},
        {"DotChangeNorm", 4,
         [](Arguments& s, int z, int32_t n) {
             return vekrDotChangeNorm_32f_IM(orNull(s.a.cp, 0, z), orNull(s.mask.data(), 1, z), orNull(s.c.p, 2, z),
                                             orNull(s.f.data(), 3, z), n);
         }},
        {"MulC1", 3,
         [](Arguments& s, int z, int32_t n) {
             return vekrMul_32f_C1IM(orNull(s.g.data(), 0, z), orNull(s.mask.data(), 1, z),
                                     orNull(s.f.data(), 2, z), n);
         }},
        {"MulC1P3", 3,
         [](Arguments& s, int z, int32_t n) {
             return vekrMul_32f_C1P3IM(orNull(s.g.data(), 0, z), orNull(s.mask.data(), 1, z), orNull(s.c.p, 2, z),
                                       n);
         }},
        {"DivC1", 3,
         [](Arguments& s, int z, int32_t n) {
             return vekrDiv_32f_C1IM(orNull(s.g.data(), 0, z), orNull(s.mask.data(), 1, z),
                                     orNull(s.f.data(), 2, z), n);
         }},
        {"AddMulMul", 4,
         [](Arguments& s, int z, int32_t n) {
             return vekrAddMulMul_32f_AC1P3IM(s.point, orNull(s.g.data(), 0, z), orNull(s.a.cp, 1, z),
                                              orNull(s.mask.data(), 2, z), orNull(s.c.p, 3, z), n);
         }},
        {"DistAttenuation", 3,
         [](Arguments& s, int z, int32_t n) {
             return vekrDistAttenuationSO_32f_M(s.point, orNull(s.a.cp, 0, z), orNull(s.mask.data(), 1, z),
                                                orNull(s.f.data(), 2, z), n);
         }},
    };
}

}  // namespace

// nullAt -1 passes every checked pointer: only a count below 1 may then
// succeed, and it must not read even the (null) point arguments.
TEST(ShadingArguments, NullPointersRejectedAndCountsBelowOneAcceptedWithNothingWritten)
{
    for (const Export& e : exportsUnderTest())
        for (int32_t count : {8, 0, -3, -4})
            for (int nullAt = count < 1 ? -1 : 0; nullAt < e.checkedPointers; ++nullAt) {
                Arguments s;
                if (nullAt < 0) s.point = nullptr;
                const auto before = s.snapshot();
                EXPECT_EQ(e.call(s, nullAt, count), nullAt < 0 ? vekStsOk : vekStsNullPtrErr)
                    << e.name << " pointer " << nullAt << " count " << count;
                EXPECT_EQ(s.snapshot(), before) << e.name;
            }
}
