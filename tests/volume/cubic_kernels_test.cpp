#include <gtest/gtest.h>

#include <cmath>

#include "volume/cubic_kernels.h"

using namespace vekr::volume;

namespace {

// Independent forms of the four kernels: the Lagrange basis polynomials of
// the nodes -1, 0, 1, 2, and the two-parameter (B, C) cubic family.
double lagrangeReference(double t)
{
    if (t < 1.0) return (t + 1.0) * (t - 1.0) * (t - 2.0) / 2.0;
    if (t < 2.0) return -(t - 1.0) * (t - 2.0) * (t - 3.0) / 6.0;
    return 0.0;
}

double familyReference(double b, double c, double t)
{
    if (t < 1.0) return ((12 - 9 * b - 6 * c) * t * t * t + (-18 + 12 * b + 6 * c) * t * t + (6 - 2 * b)) / 6.0;
    if (t < 2.0)
        return ((-b - 6 * c) * t * t * t + (6 * b + 30 * c) * t * t + (-12 * b - 48 * c) * t + (8 * b + 24 * c)) / 6.0;
    return 0.0;
}

double reference(int mode, double t)
{
    switch (mode) {
    case 4: return lagrangeReference(t);
    case 5: return familyReference(1.0, 0.0, t);
    case 6: return familyReference(0.0, 0.5, t);
    default: return familyReference(0.5, 0.3, t);
    }
}

const int kModes[] = {4, 5, 6, 7};

}  // namespace

TEST(CubicKernels, TapWeightsAtZeroFraction)
{
    const float expect[4][4] = {{0, 1, 0, 0}, {1.f / 6, 2.f / 3, 1.f / 6, 0}, {0, 1, 0, 0}, {1.f / 12, 5.f / 6, 1.f / 12, 0}};
    for (int k = 0; k < 4; ++k) {
        float w[4];
        cubicTapWeights(cubicKernel(kModes[k]), 0.0f, w);
        for (int j = 0; j < 4; ++j) EXPECT_FLOAT_EQ(w[j], expect[k][j]) << kModes[k] << " tap " << j;
    }
}

TEST(CubicKernels, TapWeightsSumToOneAndLagrangeReproducesCubics)
{
    for (int m : kModes) {
        for (int i = 0; i < 64; ++i) {
            const float f = i / 64.0f;
            float w[4];
            cubicTapWeights(cubicKernel(m), f, w);
            EXPECT_NEAR(w[0] + w[1] + w[2] + w[3], 1.0, 1e-6) << m << " " << f;
            if (m == 4) {
                auto p = [](double x) { return 0.3 * x * x * x - x * x + 2.0 * x - 1.0; };
                const double sum = w[0] * p(-1) + w[1] * p(0) + w[2] * p(1) + w[3] * p(2);
                EXPECT_NEAR(sum, p(f), 1e-5) << f;
            }
        }
    }
}

TEST(CubicKernels, TablesHoldRoundedSamples)
{
    const float first[4] = {1.0f, 2.0f / 3.0f, 1.0f, 5.0f / 6.0f};
    for (int k = 0; k < 4; ++k) {
        const VekrCubicKernelTable& t = cubicKernelTable(kModes[k]);
        EXPECT_EQ(t.weight[0], first[k]);
        EXPECT_EQ(t.weight[200], 0.0f);
        for (int e = 201; e < VEKR_CUBIC_TABLE_SIZE; ++e) EXPECT_EQ(t.weight[e], 0.0f) << e;
        for (int e = 0; e <= 200; ++e) {
            const float r = static_cast<float>(reference(kModes[k], e / 100.0));
            EXPECT_LE(std::fabs(t.weight[e] - r), std::fabs(r) * 1.2e-7f + 1e-12f) << kModes[k] << " entry " << e;
        }
    }
}

TEST(CubicKernels, TableLookupInterpolatesBetweenEntries)
{
    for (int m : kModes) {
        const VekrCubicKernelTable& table = cubicKernelTable(m);
        EXPECT_EQ(tableWeight(table, 0.0f), table.weight[0]);
        EXPECT_EQ(tableWeight(table, 2.0f), 0.0f);
        EXPECT_EQ(tableWeight(table, 7.5f), 0.0f);
        // Halfway between entries 12 and 13 the lookup is their mean (up to
        // the rounding of 0.125 * 100 in single precision).
        EXPECT_NEAR(tableWeight(table, 0.125f), 0.5f * (table.weight[12] + table.weight[13]), 1e-6f);
        // The piecewise-linear table stays within its interpolation error.
        for (int i = 0; i < 400; ++i) {
            const float t = i * 0.005f + 0.0011f;
            EXPECT_NEAR(tableWeight(table, t), reference(m, t), 2e-4) << m << " " << t;
        }
    }
}
