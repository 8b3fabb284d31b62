// Basis evaluation as the SH exports share it: the checks that depend on
// the state and the dispatch by the state's kind.
#ifndef VEKR_SH_SH_BASIS_H
#define VEKR_SH_SH_BASIS_H

#include <cstdint>

#include "vekr.h"

namespace vekr {

// Whether bands 0 .. order can be evaluated from this state, once the order
// has been found within the state's own: vekStsRangeErr for an order above
// the supported 15 or a kind other than direct and recurrence.
VekStatus checkBasisKind(const VekrSHState& state, uint32_t order);

// Bands 0 .. order at count directions into blocks of (order + 1)^2 values,
// by the state's kind. The state and order must have passed the checks.
void evaluateBasis(const VekrSHState& state, uint32_t order, const float* x, const float* y, const float* z,
                   int32_t count, float* dst);

}  // namespace vekr

#endif
