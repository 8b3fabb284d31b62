// Recurrence evaluation of the spherical-harmonic basis in float, over the
// factor tables of a kind-1 state.
#ifndef VEKR_SH_SH_BASIS_RECURRENCE_H
#define VEKR_SH_SH_BASIS_RECURRENCE_H

#include <cstdint>

namespace vekr {

// Bands 0 .. order (order <= kMaxBand) for count directions, blocks of
// (order + 1)^2 values. Runs sixteen, then four directions at a time (four
// per SSE vector) and the remainder one at a time; all give the same bits.
void evaluateRecurrence(const float* x, const float* y, const float* z, int32_t count, uint32_t order,
                        const float* tableA, const float* tableB, float* dst);

// One direction, the readable reference of the operation order.
void evaluateRecurrenceOne(float x, float y, float z, uint32_t order, const float* tableA,
                           const float* tableB, float* dst);

}  // namespace vekr

#endif
