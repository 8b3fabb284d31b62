// Direct evaluation of the spherical-harmonic basis from closed forms.
//
// Y(l, m) = C * P(z) * T(x, y) in double precision, rounded once to float:
// the factors T (Re and Im of (x + iy)^|m|, made primitive) and z^2 are
// shared by all bands of a direction, so they are computed once per
// direction; the per-band formulas come from the generated closed forms.
#ifndef VEKR_SH_SH_BASIS_DIRECT_H
#define VEKR_SH_SH_BASIS_DIRECT_H

#include <cstdint>

#include "sh/sh_state.h"

namespace vekr {

// The factors of one direction that the band formulas share. Entries
// re[m], im[m] are set for 1 <= m <= the order they were filled for.
struct DirectPowers {
    double z, z2;
    double re[kMaxBand + 1];
    double im[kMaxBand + 1];
};

// Generated: fills p for bands 0 .. order (order <= kMaxBand).
void fillDirectPowers(double x, double y, double z, uint32_t order, DirectPowers& p);

// Generated: kDirectBands[l] writes the 2l + 1 values of band l, m = -l .. l.
using DirectBandFn = void (*)(const DirectPowers& p, float* out);
extern const DirectBandFn kDirectBands[kMaxBand + 1];

// Bands 0 .. order for count directions, blocks of (order + 1)^2 values.
void evaluateDirect(const float* x, const float* y, const float* z, int32_t count, uint32_t order,
                    float* dst);

// Band `band` alone for count directions, blocks of 2 band + 1 values.
void evaluateDirectBand(const float* x, const float* y, const float* z, int32_t count, uint32_t band,
                        float* dst);

}  // namespace vekr

#endif
