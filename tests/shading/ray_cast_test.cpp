// Eye, mirror and shadow rays against double-precision formulas, the worked
// cases, and the agreement of the 4-wide and scalar paths.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "ray_packets.h"
#include "vekr.h"

using namespace vekr_test;

namespace {

struct EyeCamera {
    float origin[3], col[3], row[3];
};

// Casts a width x height block with its planes at `offset`; returns the three
// planes' bits.
std::vector<uint32_t> castEye(const EyeCamera& cam, int32_t blockCol, int32_t blockRow, VekrSize block,
                              int32_t width, int32_t height, size_t offset, Planes3* keep = nullptr)
{
    const size_t n = static_cast<size_t>(width) * height;
    Planes3 out = emptyPlanes(n, offset);
    EXPECT_EQ(vekrCastEye_32f(cam.origin, cam.col, cam.row, blockCol, blockRow, block, out.p, VekrSize{width, height}),
              vekStsOk);
    EXPECT_TRUE(guardsIntact(out));
    std::vector<uint32_t> bits;
    appendBits(bits, out, n);
    if (keep)
        for (int k = 0; k < 3; ++k)
            for (size_t i = 0; i < n; ++i) (*keep)[k][i] = out[k][i];
    return bits;
}

double eyeReference(const EyeCamera& cam, int k, double col, double row)
{
    return cam.origin[k] + cam.col[k] * col + cam.row[k] * row;
}

}  // namespace

// Dyadic steps make every path exact, so element positions and block
// offsets can be checked exactly on both paths.
TEST(CastEye, ElementsAndBlockOffsetsAreExactOnBothPaths)
{
    const EyeCamera cam = {{0.5f, -1.0f, 2.0f}, {0.25f, 0.0f, 1.0f}, {0.0f, -0.5f, 0.125f}};
    struct Case {
        int32_t blockCol, blockRow, width, height;
        size_t offset;
    };
    for (const Case c : {Case{0, 0, 6, 2, kAligned}, Case{2, 3, 16, 8, kAligned}, Case{2, 3, 16, 8, kMisaligned},
                         Case{2, 3, 7, 8, kMisaligned}}) {
        Planes3 out(static_cast<size_t>(c.width) * c.height);
        castEye(cam, c.blockCol, c.blockRow, VekrSize{16, 8}, c.width, c.height, c.offset, &out);
        for (int32_t r = 0; r < c.height; ++r)
            for (int32_t col = 0; col < c.width; ++col)
                for (int k = 0; k < 3; ++k)
                    ASSERT_EQ(out[k][r * c.width + col],
                              eyeReference(cam, k, col + c.blockCol * 16, r + c.blockRow * 8))
                        << "block " << c.blockCol << "," << c.blockRow << " width " << c.width << " element " << r
                        << "," << col;
    }
}

TEST(CastEye, RandomCamerasMatchDoublePrecisionOnBothPaths)
{
    Rng rng(11);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    for (int trial = 0; trial < 20; ++trial) {
        EyeCamera cam;
        for (int k = 0; k < 3; ++k) {
            cam.origin[k] = d(rng);
            cam.col[k] = d(rng) * 0.01f;
            cam.row[k] = d(rng) * 0.01f;
        }
        const int32_t blockCol = trial % 5, blockRow = trial % 3;
        for (int32_t width : {32, 31}) {
            const int32_t height = 24;
            Planes3 out(static_cast<size_t>(width) * height);
            const auto aligned = castEye(cam, blockCol, blockRow, VekrSize{32, 24}, width, height, kAligned, &out);
            // The 4-wide variants differ only in their stores.
            EXPECT_EQ(castEye(cam, blockCol, blockRow, VekrSize{32, 24}, width, height, kMisaligned), aligned);
            for (int32_t r = 0; r < height; ++r)
                for (int32_t c = 0; c < width; ++c)
                    for (int k = 0; k < 3; ++k)
                        ASSERT_TRUE(near(out[k][r * width + c],
                                         eyeReference(cam, k, c + blockCol * 32, r + blockRow * 24), 4.0, 1e-6))
                            << "width " << width << " row " << r << " col " << c;
        }
    }
}

TEST(CastReflectionRay, MirrorsAboutTheNormalAndZeroesMisses)
{
    // Four identical rays take the 4-wide path, five the scalar one.
    for (int32_t count : {4, 5}) {
        Packet in{{std::vector<float>(count, 1.0f), std::vector<float>(count, -1.0f), std::vector<float>(count, 0)}};
        Packet nrm{{std::vector<float>(count, 0.0f), std::vector<float>(count, 1.0f), std::vector<float>(count, 0)}};
        std::vector<int32_t> mask(count, 3);
        mask[1] = -1;
        poisonInactive(in, mask);
        Planes3 I = planes(in, kAligned), N = planes(nrm, kAligned), R = emptyPlanes(count, kAligned);
        auto m = array(mask, kAligned);
        ASSERT_EQ(vekrCastReflectionRay_32f(I.cp, m.data(), N.cp, R.p, count), vekStsOk);
        for (int32_t i = 0; i < count; ++i) {
            const float want[3] = {i == 1 ? 0.0f : 1.0f, i == 1 ? 0.0f : 1.0f, 0.0f};
            for (int k = 0; k < 3; ++k) EXPECT_EQ(R[k][i], want[k]) << "count " << count << " ray " << i;
        }
    }
}

TEST(CastReflectionRay, RandomRaysMatchDoublePrecisionOnEveryPath)
{
    Rng rng(12);
    const size_t n = 1000;
    Packet in = randomPacket(rng, n, -2.0f, 2.0f), nrm = randomPacket(rng, n, -1.0f, 1.0f);
    for (size_t i = 0; i < n; ++i) {
        const float len = std::sqrt(nrm.c[0][i] * nrm.c[0][i] + nrm.c[1][i] * nrm.c[1][i] + nrm.c[2][i] * nrm.c[2][i]);
        for (auto& plane : nrm.c) plane[i] /= len;
    }
    const auto mask = randomMask(rng, n);
    poisonInactive(in, mask);
    auto run = [&](size_t offset, int32_t count, Planes3& R) {
        Planes3 I = planes(in, offset), N = planes(nrm, offset);
        auto m = array(mask, offset);
        EXPECT_EQ(vekrCastReflectionRay_32f(I.cp, m.data(), N.cp, R.p, count), vekStsOk);
        EXPECT_TRUE(guardsIntact(R));
        std::vector<uint32_t> bits;
        appendBits(bits, R, count);
        return bits;
    };
    Planes3 fourWide = emptyPlanes(n, kAligned), unaligned = emptyPlanes(n, kMisaligned),
            scalar = emptyPlanes(n - 1, kAligned);
    EXPECT_EQ(run(kAligned, n, fourWide), run(kMisaligned, n, unaligned));
    run(kAligned, n - 1, scalar);
    for (size_t i = 0; i < n - 1; ++i) {
        double d = 0;
        for (int k = 0; k < 3; ++k) d += double(in.c[k][i]) * nrm.c[k][i];
        for (int k = 0; k < 3; ++k) {
            const double want = mask[i] < 0 ? 0.0 : in.c[k][i] - 2.0 * d * nrm.c[k][i];
            ASSERT_TRUE(near(fourWide[k][i], want, 8.0, 1e-6)) << "4-wide ray " << i;
            ASSERT_TRUE(near(scalar[k][i], want, 8.0, 1e-6)) << "scalar ray " << i;
            if (mask[i] < 0) {
                ASSERT_EQ(floatBits(scalar[k][i]), 0u);
            }
        }
    }
}

namespace {

struct ShadowResult {
    std::vector<int32_t> mask;
    std::vector<float> dot;
    Packet dir;
};

ShadowResult castShadows(const float light[3], const std::vector<float>& side, const Packet& nrm, const Packet& hit,
                         std::vector<int32_t> mask, size_t offset)
{
    const size_t n = mask.size();
    Planes3 N = planes(nrm, offset), P = planes(hit, offset), D = emptyPlanes(n, offset);
    auto s = array(side, offset);
    auto m = array(mask, offset);
    OffsetArray<float> dot(n, offset);
    dot.fill(-5.0f);
    EXPECT_EQ(vekrCastShadowSO_32f(light, s.data(), N.cp, P.cp, m.data(), dot.data(), D.p, int32_t(n)), vekStsOk);
    EXPECT_TRUE(guardsIntact(D) && dot.guardsIntact() && m.guardsIntact());
    ShadowResult r{m.copy(), dot.copy(), {}};
    for (int k = 0; k < 3; ++k) r.dir.c[k] = D[k].copy();
    return r;
}

}  // namespace

TEST(CastShadowSO, GrazingAndWrongSideRaysAreDroppedAndMissesRewrittenOnlyInGroupsOfFour)
{
    const float light[3] = {0.0f, 10.0f, 0.0f};
    // Five hit points on the plane y = 0 with normal +y; the light is above.
    Packet nrm{{std::vector<float>(5, 0.0f), std::vector<float>(5, 1.0f), std::vector<float>(5, 0.0f)}};
    Packet hit{{{1, 2, 3, 4, 5}, std::vector<float>(5, 0.0f), std::vector<float>(5, 0.0f)}};
    std::vector<float> side = {-1.0f, 0.0f, -1.0f, -2.0f, -1.0f};  // N . D < 0: negative side values cast
    std::vector<int32_t> mask = {4, 5, 6, -7, -7};
    // Ray 2: D = (3, -10, 0) and N = (1, 0.3, 0) are perpendicular up to
    // rounding, so the light grazes the surface.
    nrm.c[0][2] = 1.0f;
    nrm.c[1][2] = 0.3f;
    for (size_t offset : {kAligned, kMisaligned}) {
        const ShadowResult r = castShadows(light, side, nrm, hit, mask, offset);
        EXPECT_EQ(r.mask, (std::vector<int32_t>{4, -1, -1, -1, -7}));
        EXPECT_EQ(r.dot, (std::vector<float>{10.0f, 0, 0, 0, 0}));
        EXPECT_EQ(r.dir.c[0], (std::vector<float>{1.0f, 0, 0, 0, 0}));
        EXPECT_EQ(r.dir.c[1], (std::vector<float>{-10.0f, 0, 0, 0, 0}));
    }
}

TEST(CastShadowSO, RandomRaysFollowTheDoublePrecisionDecisionAndBothVariantsAgree)
{
    Rng rng(13);
    const size_t n = 1003;  // 1000 in groups of four, three one by one
    const float light[3] = {0.5f, 4.0f, -1.0f};
    Packet nrm = randomPacket(rng, n, -1.0f, 1.0f), hit = randomPacket(rng, n, -3.0f, 3.0f);
    auto side = randomValues(rng, n, -1.0f, 1.0f);
    side[20] = 0.0f;
    const auto mask = randomMask(rng, n);
    const ShadowResult r = castShadows(light, side, nrm, hit, mask, kAligned);
    const ShadowResult u = castShadows(light, side, nrm, hit, mask, kMisaligned);
    EXPECT_EQ(u.mask, r.mask);
    EXPECT_EQ(u.dot, r.dot);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(u.dir.c[k], r.dir.c[k]);

    const double eps = 0.0017453292;
    int cast = 0;
    for (size_t i = 0; i < n; ++i) {
        double D[3], dot = 0;
        for (int k = 0; k < 3; ++k) {
            D[k] = double(hit.c[k][i]) - light[k];
            dot += nrm.c[k][i] * D[k];
        }
        if (mask[i] >= 0 && std::fabs(std::fabs(dot) - eps) < 1e-5) continue;  // too close to call
        const bool expectCast = mask[i] >= 0 && std::fabs(dot) >= eps && side[i] * dot > 0;
        cast += expectCast;
        ASSERT_EQ(r.mask[i], expectCast ? mask[i] : (mask[i] < 0 && i >= 1000 ? mask[i] : -1)) << "ray " << i;
        ASSERT_TRUE(near(r.dot[i], expectCast ? std::fabs(dot) : 0.0, 20.0, 1e-6)) << "ray " << i;
        for (int k = 0; k < 3; ++k) ASSERT_EQ(r.dir.c[k][i], expectCast ? float(D[k]) : 0.0f) << "ray " << i;
    }
    EXPECT_GT(cast, 200);
}
