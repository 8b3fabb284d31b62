// Which closest-hit blocks qualify for the packet kernels: both sides
// multiples of 4 and every one of the ten per-ray planes 16-byte aligned.
#include <gtest/gtest.h>

#include "intersect/intersect_path.h"

TEST(IntersectPath, BlockSidesAndEveryPlaneDecide)
{
    alignas(16) static float store[10 * 8];
    vekr::RayBlockMO b{};
    float* planes[10];
    auto bind = [&] {
        b.origin[0] = planes[0], b.origin[1] = planes[1], b.origin[2] = planes[2];
        b.dir[0] = planes[3], b.dir[1] = planes[4], b.dir[2] = planes[5];
        b.hit = vekr::HitPlanes{planes[6], planes[7], planes[8], reinterpret_cast<int32_t*>(planes[9])};
    };
    for (int i = 0; i < 10; ++i) planes[i] = store + 8 * i;
    bind();

    const VekrSize qualifying[] = {{4, 4}, {8, 12}, {0, 4}, {0, 0}};
    const VekrSize scalar[] = {{5, 4}, {4, 5}, {4, 2}, {6, 6}};
    for (const VekrSize s : qualifying) {
        b.width = s.width, b.height = s.height;
        EXPECT_TRUE(vekr::takesPacketPathMO(b)) << s.width << " x " << s.height;
    }
    for (const VekrSize s : scalar) {
        b.width = s.width, b.height = s.height;
        EXPECT_FALSE(vekr::takesPacketPathMO(b)) << s.width << " x " << s.height;
    }

    // Any one plane off by a float sends the block down the scalar path.
    b.width = b.height = 8;
    for (int i = 0; i < 10; ++i) {
        planes[i] += 1;
        bind();
        EXPECT_FALSE(vekr::takesPacketPathMO(b)) << "plane " << i;
        planes[i] -= 1;
    }
    bind();
    EXPECT_TRUE(vekr::takesPacketPathMO(b));
}

// The same rule for the shared-origin, successive and occlusion blocks:
// each of their planes, off by a float alone, sends the block down the
// scalar path. The origin point is never tested.
TEST(IntersectPath, EveryPlaneOfTheSharedOriginBlocksDecides)
{
    alignas(16) static float store[8 * 8];
    const float origin[3] = {0, 0, 0};
    auto check = [&](const char* what, int planeCount, auto bind, auto takesPackets) {
        float* planes[8];
        for (int i = 0; i < planeCount; ++i) planes[i] = store + 8 * i;
        EXPECT_TRUE(takesPackets(bind(planes))) << what;
        for (int i = 0; i < planeCount; ++i) {
            planes[i] += 1;
            EXPECT_FALSE(takesPackets(bind(planes))) << what << " plane " << i;
            planes[i] -= 1;
        }
    };
    auto hits = [](float* const* p) {
        return vekr::HitPlanes{p[3], p[4], p[5], reinterpret_cast<int32_t*>(p[6])};
    };
    check("shared origin", 7,
          [&](float* const* p) { return vekr::RayBlockSO{origin + 1, {p[0], p[1], p[2]}, hits(p), 8, 4}; },
          [](const vekr::RayBlockSO& b) { return vekr::takesPacketPathSO(b); });
    check("successive", 7,
          [&](float* const* p) { return vekr::SuccessiveBlock{origin + 1, {p[0], p[1], p[2]}, hits(p), 8, 4, 3}; },
          [](const vekr::SuccessiveBlock& b) { return vekr::takesPacketPathSuccessive(b); });
    check("occlusion", 5,
          [&](float* const* p) {
              return vekr::OcclusionBlock{origin + 1, {p[0], p[1], p[2]}, reinterpret_cast<int32_t*>(p[3]),
                                          reinterpret_cast<int32_t*>(p[4]), 8, 4};
          },
          [](const vekr::OcclusionBlock& b) { return vekr::takesPacketPathOcclusion(b); });
}
