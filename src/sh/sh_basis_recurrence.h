// Recurrence evaluation of the spherical-harmonic basis in float, over the
// factor tables of a kind-1 state. Compiled once per instruction set; the
// basis front calls it through the kernel table.
#ifndef VEKR_SH_SH_BASIS_RECURRENCE_H
#define VEKR_SH_SH_BASIS_RECURRENCE_H

#include <cstdint>

namespace vekr {

// Bands 0 .. order (order <= kMaxBand) for count directions, blocks of
// (order + 1)^2 values. Runs groups of directions a vector at a time and the
// remainder one at a time; all give the same bits.
using RecurrenceKernel = void (*)(const float* x, const float* y, const float* z, int32_t count, uint32_t order,
                                  const float* tableA, const float* tableB, float* dst);

struct ShKernelTable {
    RecurrenceKernel evaluateRecurrence;
};

namespace sse3 {
// One direction, the order of operations every lane of the vector kernels
// follows (the SSE3 build of it; every build gives the same bits).
void evaluateRecurrenceOne(float x, float y, float z, uint32_t order, const float* tableA, const float* tableB,
                           float* dst);
}  // namespace sse3

}  // namespace vekr

#endif
