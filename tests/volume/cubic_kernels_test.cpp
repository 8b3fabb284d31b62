// The cubic kernels' tap weights and tables against the reference forms of
// the kernels, and the 4-wide weight lookup of warp and remap against the
// scalar table lookup it must reproduce bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "volume/cubic_kernels.h"
// The SSE3 build of the sampling helpers (every build computes the same bits).
#define VEKR_ISA_NS sse3
#include "volume/sampling_kernels.h"
#include "volume_support.h"

using namespace vekr::volume;
using vekr::volume::sse3::cubicWeights4;
using vekr::volume::sse3::cubicWeightsOfLanes;
using vekr_test::referenceKernel;

namespace {

const int kModes[] = {vekInterLagrange, vekInterBSpline, vekInterCatmullRom, vekInterBlendCubic};

}  // namespace

TEST(CubicKernels, TapWeightsAtZeroFractionSumToOneAndLagrangeReproducesCubics)
{
    const float atZero[4][4] = {
        {0, 1, 0, 0}, {1.f / 6, 2.f / 3, 1.f / 6, 0}, {0, 1, 0, 0}, {1.f / 12, 5.f / 6, 1.f / 12, 0}};
    for (int k = 0; k < 4; ++k) {
        float w[4];
        cubicTapWeights(cubicKernel(kModes[k]), 0.0f, w);
        for (int j = 0; j < 4; ++j) EXPECT_FLOAT_EQ(w[j], atZero[k][j]) << kModes[k] << " tap " << j;
        for (int i = 0; i < 64; ++i) {
            const float f = i / 64.0f;
            cubicTapWeights(cubicKernel(kModes[k]), f, w);
            EXPECT_NEAR(w[0] + w[1] + w[2] + w[3], 1.0, 1e-6) << kModes[k] << " " << f;
            if (kModes[k] == vekInterLagrange) {
                auto p = [](double x) { return 0.3 * x * x * x - x * x + 2.0 * x - 1.0; };
                EXPECT_NEAR(w[0] * p(-1) + w[1] * p(0) + w[2] * p(1) + w[3] * p(2), p(f), 1e-5) << f;
            }
        }
    }
}

TEST(CubicKernels, TablesHoldRoundedSamplesAndInterpolateBetweenThem)
{
    const float first[4] = {1.0f, 2.0f / 3.0f, 1.0f, 5.0f / 6.0f};
    for (int k = 0; k < 4; ++k) {
        const int m = kModes[k];
        const VekrCubicKernelTable& table = cubicKernelTable(m);
        EXPECT_EQ(table.weight[0], first[k]);
        for (int e = 200; e < VEKR_CUBIC_TABLE_SIZE; ++e) EXPECT_EQ(table.weight[e], 0.0f) << e;
        for (int e = 0; e <= 200; ++e) {
            const float r = static_cast<float>(referenceKernel(m, e / 100.0));
            EXPECT_LE(std::fabs(table.weight[e] - r), std::fabs(r) * 1.2e-7f + 1e-12f) << m << " entry " << e;
        }
        EXPECT_EQ(tableWeight(table, 0.0f), table.weight[0]);
        EXPECT_EQ(tableWeight(table, 2.0f), 0.0f);
        EXPECT_EQ(tableWeight(table, 7.5f), 0.0f);
        // Halfway between entries 12 and 13 the lookup is their mean (up to
        // the rounding of 0.125 * 100 in single precision).
        EXPECT_NEAR(tableWeight(table, 0.125f), 0.5f * (table.weight[12] + table.weight[13]), 1e-6f);
        // The piecewise-linear table stays within its interpolation error.
        for (int i = 0; i < 400; ++i) {
            const float t = i * 0.005f + 0.0011f;
            EXPECT_NEAR(tableWeight(table, t), referenceKernel(m, t), 2e-4) << m << " " << t;
        }
    }
}

TEST(CubicWeights, FourWideLookupEqualsScalarLookup)
{
    // The lookup reads one record of four neighbouring pairs when the four
    // distances land on the usual entries, and falls back to four separate
    // pairs when rounding puts any of them elsewhere. The 16 floats either
    // side of each multiple of 0.01 put lanes 0, 2 and 3 off the usual
    // entries, each on its own in some of them; 1.0 (a fraction rounded up
    // from just below 1), -0 and negative fractions fall outside the
    // records altogether.
    std::vector<float> fractions;
    vekr_test::Rng rng(77);
    std::uniform_real_distribution<float> fraction(0.0f, 1.0f);
    for (int n = 0; n < 1000; ++n) fractions.push_back(fraction(rng));
    // Each of those is also given to all four lanes at once, as a warp
    // that moves by a constant fraction does: a group then matches or
    // misses the record as one lane does.
    std::vector<float> swept;
    for (int g = 0; g <= 100; ++g) {
        float f = g / 100.0f;
        for (int u = 0; u < 16; ++u) f = std::nextafter(f, -1.0f);
        for (int u = 0; u < 33; ++u, f = std::nextafter(f, 2.0f)) swept.push_back(f);
    }
    fractions.insert(fractions.end(), swept.begin(), swept.end());
    while (fractions.size() % 4) fractions.push_back(0.5f);
    for (float f : swept) fractions.insert(fractions.end(), 4, f);
    for (float f : {0.0f, -0.0f, 1.0f, -0.3f, -0.995f, 1e-30f, std::nextafter(1.0f, 0.0f)}) fractions.push_back(f);
    // The four-fraction form sees them four at a time: groups all on the
    // usual entries and groups with one or more lanes off them.
    while (fractions.size() % 4) fractions.push_back(0.5f);
    for (int mode : kModes) {
        const VekrCubicKernelTable& table = cubicKernelTable(mode);
        auto expectWeights = [&](const float w[4], float f, const char* form) {
            const float d[4] = {-f - 1.0f, -f, 1.0f - f, 2.0f - f};
            for (int t = 0; t < 4; ++t)
                ASSERT_EQ(vekr_test::floatBits(w[t]), vekr_test::floatBits(tableWeight(table, std::fabs(d[t]))))
                    << form << " mode " << mode << " f " << f << " tap " << t;
        };
        for (size_t n = 0; n < fractions.size(); n += 4) {
            alignas(16) float w[4][4];
            __m128 lanes[4];
            cubicWeightsOfLanes(cubicPairTable(mode), _mm_loadu_ps(&fractions[n]), lanes);
            for (int l = 0; l < 4; ++l) {
                _mm_store_ps(w[l], cubicWeights4(cubicPairTable(mode), fractions[n + l]));
                expectWeights(w[l], fractions[n + l], "one");
                _mm_store_ps(w[l], lanes[l]);
                expectWeights(w[l], fractions[n + l], "lanes");
            }
        }
    }
}
