// Direct (closed-form, double-precision) evaluation loops over directions.

#include "sh/sh_basis_direct.h"

namespace vekr {

void evaluateDirect(const float* x, const float* y, const float* z, int32_t count, uint32_t order,
                    float* dst)
{
    const uint32_t n = shCoeffCount(order);
    DirectPowers p;
    for (int32_t i = 0; i < count; ++i, dst += n) {
        fillDirectPowers(x[i], y[i], z[i], order, p);
        for (uint32_t l = 0; l <= order; ++l) kDirectBands[l](p, dst + l * l);
    }
}

void evaluateDirectBand(const float* x, const float* y, const float* z, int32_t count, uint32_t band,
                        float* dst)
{
    const uint32_t n = 2 * band + 1;
    const DirectBandFn writeBand = kDirectBands[band];
    DirectPowers p;
    for (int32_t i = 0; i < count; ++i, dst += n) {
        fillDirectPowers(x[i], y[i], z[i], band, p);
        writeBand(p, dst);
    }
}

}  // namespace vekr
