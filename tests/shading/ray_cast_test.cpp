// Eye, mirror and shadow rays: worked cases, double-precision references,
// and the agreement of the 4-wide and scalar paths.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "ray_packets.h"
#include "vekr.h"

using namespace vekr_test;

namespace {

struct Camera {
    float origin[3], col[3], row[3];
};

Packet castEye(const Camera& cam, int32_t blockCol, int32_t blockRow, int32_t width, int32_t height, size_t offset)
{
    Planes3 out = outPlanes(size_t(width) * height, offset);
    EXPECT_EQ(vekrCastEye_32f(cam.origin, cam.col, cam.row, blockCol, blockRow, VekrSize{16, 8}, out.p,
                              VekrSize{width, height}),
              vekStsOk);
    return take(out);
}

// Checks every element against origin + col x column + row x row in double
// precision; dyadic cameras are exact on both paths (rel 0).
void expectEye(const Camera& cam, int32_t blockCol, int32_t blockRow, int32_t width, int32_t height, size_t offset,
               double rel)
{
    const Packet out = castEye(cam, blockCol, blockRow, width, height, offset);
    for (int32_t r = 0; r < height; ++r)
        for (int32_t c = 0; c < width; ++c)
            for (int k = 0; k < 3; ++k) {
                const double want = cam.origin[k] + double(cam.col[k]) * (c + 16 * blockCol) +
                                    double(cam.row[k]) * (r + 8 * blockRow);
                ASSERT_TRUE(near(out.c[k][r * width + c], want, 4.0, rel))
                    << "width " << width << " offset " << offset << " row " << r << " column " << c;
            }
}

}  // namespace

TEST(CastEye, ElementPositionsAndBlockOffsetsOnEveryPath)
{
    const Camera dyadic = {{0.5f, -1.0f, 2.0f}, {0.25f, 0.0f, 1.0f}, {0.0f, -0.5f, 0.125f}};
    expectEye(dyadic, 0, 0, 6, 2, kAligned, 0.0);  // scalar
    expectEye(dyadic, 1, 2, 1, 3, kAligned, 0.0);  // one column
    expectEye(dyadic, 1, 2, 5, 1, kAligned, 0.0);  // one row
    for (size_t offset : {kAligned, kMisaligned}) {
        expectEye(dyadic, 2, 3, 16, 8, offset, 0.0);  // both 4-wide variants
        expectEye(dyadic, 2, 3, 7, 8, offset, 0.0);
    }
    Rng rng(11);
    for (int trial = 0; trial < 10; ++trial) {
        Camera cam;
        const auto v = randomValues(rng, 9, -1.0f, 1.0f);
        for (int k = 0; k < 3; ++k) cam.origin[k] = v[k], cam.col[k] = v[3 + k] / 64, cam.row[k] = v[6 + k] / 64;
        expectEye(cam, trial % 5, trial % 3, 31, 24, kAligned, 1e-6);
        expectEye(cam, trial % 5, trial % 3, 32, 24, kAligned, 1e-6);
        // The two 4-wide variants differ only in their stores.
        EXPECT_EQ(castEye(cam, 1, 2, 32, 24, kAligned).c[2], castEye(cam, 1, 2, 32, 24, kMisaligned).c[2]);
    }
}

TEST(CastReflectionRay, MirrorsAboutUnitNormalsAndZeroesMissesOnEveryPath)
{
    Rng rng(12);
    const size_t n = 1000;
    Packet in = randomPacket(rng, n, -2.0f, 2.0f), nrm = randomPacket(rng, n, -1.0f, 1.0f);
    for (size_t i = 0; i < n; ++i) {
        const float len = std::hypot(nrm.c[0][i], nrm.c[1][i], nrm.c[2][i]);
        for (auto& plane : nrm.c) plane[i] /= len;
    }
    // Ray 0: I = (1, -1, 0) off N = (0, 1, 0) gives (1, 1, 0).
    for (int k = 0; k < 3; ++k) in.c[k][0] = float(k == 0) - float(k == 1), nrm.c[k][0] = float(k == 1);
    const auto mask = randomMask(rng, n, {&in});
    auto run = [&](size_t off, size_t count) {
        Planes3 I = planes(in, off), N = planes(nrm, off), R = outPlanes(count, off);
        auto m = array(mask, off);
        EXPECT_EQ(vekrCastReflectionRay_32f(I.cp, m.data(), N.cp, R.p, int32_t(count)), vekStsOk);
        return take(R);
    };
    const Packet fourWide = run(kAligned, n), scalar = run(kAligned, n - 1);
    EXPECT_EQ(run(kMisaligned, n).c[1], fourWide.c[1]);
    EXPECT_EQ(fourWide.c[1][0], 1.0f);
    for (size_t i = 0; i < n - 1; ++i) {
        double d = 0;
        for (int k = 0; k < 3; ++k) d += double(in.c[k][i]) * nrm.c[k][i];
        for (int k = 0; k < 3; ++k) {
            const double want = mask[i] < 0 ? 0.0 : in.c[k][i] - 2.0 * d * nrm.c[k][i];
            ASSERT_TRUE(near(fourWide.c[k][i], want, 8.0, 1e-6)) << "4-wide ray " << i;
            ASSERT_TRUE(near(scalar.c[k][i], want, 8.0, 1e-6)) << "scalar ray " << i;
        }
    }
}

namespace {

Result castShadows(const float light[3], const std::vector<float>& side, const Packet& nrm, const Packet& hit,
                   const std::vector<int32_t>& mask, size_t offset, size_t count)
{
    Planes3 N = planes(nrm, offset), P = planes(hit, offset), D = outPlanes(count, offset);
    auto s = array(side, offset);
    auto m = array(mask, offset);
    OffsetArray<float> dot(count, offset);
    EXPECT_EQ(vekrCastShadowSO_32f(light, s.data(), N.cp, P.cp, m.data(), dot.data(), D.p, int32_t(count)),
              vekStsOk);
    return {take(D), take(dot), take(m)};
}

}  // namespace

TEST(CastShadowSO, GrazingAndWrongSideRaysAreDroppedAndMissesRewrittenOnlyInGroupsOfFour)
{
    const float light[3] = {0.0f, 10.0f, 0.0f};
    // Hit points (x, 0, 0) with normal +y under the light: N . D = -10.
    // Ray 1 has side value 0; ray 2's normal (1, 0.3, 0) is perpendicular to
    // its D = (3, -10, 0) up to rounding; rays 3 and 4 are misses.
    const Packet nrm{{{0, 0, 1, 0, 0}, {1, 1, 0.3f, 1, 1}, {0, 0, 0, 0, 0}}};
    const Packet hit{{{1, 2, 3, 4, 5}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}}};
    for (size_t offset : {kAligned, kMisaligned}) {
        const Result r = castShadows(light, {-1, 0, -1, -2, -1}, nrm, hit, {4, 5, 6, -7, -7}, offset, 5);
        EXPECT_EQ(r.mask, (std::vector<int32_t>{4, -1, -1, -1, -7}));
        EXPECT_EQ(r.c1, (std::vector<float>{10, 0, 0, 0, 0}));
        EXPECT_EQ(r.p3.c[0], (std::vector<float>{1, 0, 0, 0, 0}));
        EXPECT_EQ(r.p3.c[1], (std::vector<float>{-10, 0, 0, 0, 0}));
    }
}

TEST(CastShadowSO, RandomRaysFollowTheDoublePrecisionDecisionAndBothVariantsAgree)
{
    Rng rng(13);
    const size_t n = 1003;  // 1000 in groups of four, three one by one
    const float light[3] = {0.5f, 4.0f, -1.0f};
    Packet nrm = randomPacket(rng, n, -1.0f, 1.0f), hit = randomPacket(rng, n, -3.0f, 3.0f);
    const auto side = randomValues(rng, n, -1.0f, 1.0f);
    const auto mask = randomMask(rng, n, {&nrm, &hit});
    const Result r = castShadows(light, side, nrm, hit, mask, kAligned, n);
    EXPECT_EQ(bits(castShadows(light, side, nrm, hit, mask, kMisaligned, n), n), bits(r, n));
    int cast = 0;
    for (size_t i = 0; i < n; ++i) {
        double D[3], dot = 0;
        for (int k = 0; k < 3; ++k) D[k] = double(hit.c[k][i]) - light[k], dot += nrm.c[k][i] * D[k];
        if (mask[i] >= 0 && std::fabs(std::fabs(dot) - 0.0017453292) < 1e-5) continue;  // too close to call
        const bool expectCast = mask[i] >= 0 && std::fabs(dot) >= 0.0017453292 && side[i] * dot > 0;
        cast += expectCast;
        ASSERT_EQ(r.mask[i], expectCast || (mask[i] < 0 && i >= 1000) ? mask[i] : -1) << "ray " << i;
        ASSERT_TRUE(near(r.c1[i], expectCast ? std::fabs(dot) : 0.0, 20.0, 1e-6)) << "ray " << i;
        for (int k = 0; k < 3; ++k) ASSERT_EQ(r.p3.c[k][i], expectCast ? float(D[k]) : 0.0f) << "ray " << i;
    }
    EXPECT_GT(cast, 200);
}
