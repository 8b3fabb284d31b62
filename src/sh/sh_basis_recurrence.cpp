// Band-by-band recurrence for the real spherical harmonics in float.
//
// Band l comes from bands l - 1 and l - 2 of the same block:
//   Y(l, +-l)   from the diagonal of band l - 1 rotated by (x, y), times A(l, l);
//   Y(l, +-(l-1)) = (A(l, l-1) z) Y(l-1, +-(l-1));
//   Y(l, m)     = (A(l, |m|) z) Y(l-1, m) + B(l, |m|) Y(l-2, m), |m| <= l - 2.
// Every product and sum is one float operation in exactly this order, so
// the values are reproducible bit for bit. Each direction's values depend
// on that direction alone, so the 4-wide kernel runs the same order in four
// lanes and gives the same bits as the scalar loop.

#include "sh/sh_basis_recurrence.h"

#include <pmmintrin.h>

#include "sh/sh_state.h"

namespace vekr {

void evaluateRecurrenceOne(float x, float y, float z, uint32_t order, const float* tableA,
                           const float* tableB, float* dst)
{
    dst[0] = tableA[0];
    if (order == 0) return;
    // Band 1: A(1, 1) is the negative factor of Y(1, +-1).
    dst[1] = tableA[2] * y;
    dst[2] = tableA[1] * z;
    dst[3] = tableA[2] * x;
    for (int32_t l = 2; l <= int32_t(order); ++l) {
        const float* a = tableA + shTableIndex(l, 0);
        const float* b = tableB + shTableIndex(l, 0);
        float* cur = dst + shCoeffIndex(l, 0);
        const float* prev = dst + shCoeffIndex(l - 1, 0);
        const float* prev2 = dst + shCoeffIndex(l - 2, 0);

        const float diagPos = prev[l - 1], diagNeg = prev[-(l - 1)];
        cur[l] = (diagPos * x - diagNeg * y) * a[l];
        cur[-l] = (diagNeg * x + diagPos * y) * a[l];

        const float az = a[l - 1] * z;
        cur[l - 1] = az * diagPos;
        cur[-(l - 1)] = az * diagNeg;

        cur[0] = (a[0] * z) * prev[0] + b[0] * prev2[0];
        for (int32_t m = 1; m <= l - 2; ++m) {
            const float azm = a[m] * z;
            cur[m] = azm * prev[m] + b[m] * prev2[m];
            cur[-m] = azm * prev[-m] + b[m] * prev2[-m];
        }
    }
}

namespace {

// Four directions: the same steps as evaluateRecurrenceOne, one direction
// per lane, into a value-major scratch block that is then transposed into
// the four direction-major output blocks.
void evaluateRecurrenceFour(__m128 x, __m128 y, __m128 z, uint32_t order, const float* tableA,
                            const float* tableB, float* dst)
{
    __m128 v[kMaxCoeffs];
    v[0] = _mm_set1_ps(tableA[0]);
    if (order >= 1) {
        const __m128 a11 = _mm_set1_ps(tableA[2]);
        v[1] = _mm_mul_ps(a11, y);
        v[2] = _mm_mul_ps(_mm_set1_ps(tableA[1]), z);
        v[3] = _mm_mul_ps(a11, x);
    }
    for (int32_t l = 2; l <= int32_t(order); ++l) {
        const float* a = tableA + shTableIndex(l, 0);
        const float* b = tableB + shTableIndex(l, 0);
        __m128* cur = v + shCoeffIndex(l, 0);
        const __m128* prev = v + shCoeffIndex(l - 1, 0);
        const __m128* prev2 = v + shCoeffIndex(l - 2, 0);

        const __m128 diagPos = prev[l - 1], diagNeg = prev[-(l - 1)];
        const __m128 all = _mm_set1_ps(a[l]);
        // (pos x - neg y) A and (neg x + pos y) A
        cur[l] = _mm_mul_ps(_mm_sub_ps(_mm_mul_ps(diagPos, x), _mm_mul_ps(diagNeg, y)), all);
        cur[-l] = _mm_mul_ps(_mm_add_ps(_mm_mul_ps(diagNeg, x), _mm_mul_ps(diagPos, y)), all);

        // (A z) Y(l-1, +-(l-1))
        const __m128 az = _mm_mul_ps(_mm_set1_ps(a[l - 1]), z);
        cur[l - 1] = _mm_mul_ps(az, diagPos);
        cur[-(l - 1)] = _mm_mul_ps(az, diagNeg);

        // (A z) Y(l-1, m) + B Y(l-2, m), m = 0, then +-1 .. +-(l-2)
        const __m128 az0 = _mm_mul_ps(_mm_set1_ps(a[0]), z);
        cur[0] = _mm_add_ps(_mm_mul_ps(az0, prev[0]), _mm_mul_ps(_mm_set1_ps(b[0]), prev2[0]));
        for (int32_t m = 1; m <= l - 2; ++m) {
            const __m128 azm = _mm_mul_ps(_mm_set1_ps(a[m]), z);
            const __m128 bm = _mm_set1_ps(b[m]);
            cur[m] = _mm_add_ps(_mm_mul_ps(azm, prev[m]), _mm_mul_ps(bm, prev2[m]));
            cur[-m] = _mm_add_ps(_mm_mul_ps(azm, prev[-m]), _mm_mul_ps(bm, prev2[-m]));
        }
    }

    const uint32_t n = shCoeffCount(order);
    float* d0 = dst;
    float* d1 = dst + n;
    float* d2 = dst + 2 * n;
    float* d3 = dst + 3 * n;
    uint32_t j = 0;
    for (; j + 4 <= n; j += 4) {
        __m128 r0 = v[j], r1 = v[j + 1], r2 = v[j + 2], r3 = v[j + 3];
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        _mm_storeu_ps(d0 + j, r0);
        _mm_storeu_ps(d1 + j, r1);
        _mm_storeu_ps(d2 + j, r2);
        _mm_storeu_ps(d3 + j, r3);
    }
    for (; j < n; ++j) {
        alignas(16) float lanes[4];
        _mm_store_ps(lanes, v[j]);
        d0[j] = lanes[0];
        d1[j] = lanes[1];
        d2[j] = lanes[2];
        d3[j] = lanes[3];
    }
}

}  // namespace

void evaluateRecurrence(const float* x, const float* y, const float* z, int32_t count, uint32_t order,
                        const float* tableA, const float* tableB, float* dst)
{
    const uint32_t n = shCoeffCount(order);
    int32_t i = 0;
    for (; count - i >= 4; i += 4, dst += 4 * n)
        evaluateRecurrenceFour(_mm_loadu_ps(x + i), _mm_loadu_ps(y + i), _mm_loadu_ps(z + i), order, tableA,
                               tableB, dst);
    for (; i < count; ++i, dst += n) evaluateRecurrenceOne(x[i], y[i], z[i], order, tableA, tableB, dst);
}

}  // namespace vekr
