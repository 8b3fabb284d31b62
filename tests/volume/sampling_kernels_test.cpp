// The 4-wide weight lookup of warp and remap against the scalar table
// lookup it must reproduce bit for bit.

#include <gtest/gtest.h>

#include "support/test_buffers.h"
#include "volume/sampling_kernels.h"

namespace {

using namespace vekr::volume;

TEST(CubicWeights, FourWideLookupEqualsScalarLookup)
{
    vekr_test::Rng rng(77);
    std::uniform_real_distribution<float> fraction(0.0f, 1.0f);
    for (int mode = vekInterLagrange; mode <= vekInterBlendCubic; ++mode) {
        const VekrCubicKernelTable& table = cubicKernelTable(mode);
        for (int n = 0; n < 2000; ++n) {
            // Random fractions, and the 0.01 grid points with their neighbours.
            float f = n < 1000 ? fraction(rng) : static_cast<float>((n - 1000) / 10) / 100.0f;
            if (n >= 1000 && n % 10 == 1) f = std::nextafter(f, 1.0f);
            alignas(16) float w[4];
            _mm_store_ps(w, cubicWeights4(cubicPairTable(mode), f));
            const float d[4] = {-f - 1.0f, -f, 1.0f - f, 2.0f - f};
            for (int t = 0; t < 4; ++t)
                ASSERT_EQ(vekr_test::floatBits(w[t]), vekr_test::floatBits(tableWeight(table, std::fabs(d[t]))))
                    << "mode " << mode << " f " << f << " tap " << t;
        }
    }
}

}  // namespace
