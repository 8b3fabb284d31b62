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

#include "core/isa_namespace.h"
#include "sh/sh_state.h"

namespace vekr {
namespace VEKR_ISA_NS {

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

// The factors of bands 0 .. order, each repeated in all four lanes, so the
// kernel multiplies by them without a broadcast per value.
struct BroadcastFactors {
    __m128 a[kMaxTableLength];
    __m128 b[kMaxTableLength];
    BroadcastFactors(uint32_t order, const float* tableA, const float* tableB)
    {
        const uint32_t n = shTableIndex(order + 1, 0);
        for (uint32_t k = 0; k < n; ++k) {
            a[k] = _mm_set1_ps(tableA[k]);
            b[k] = _mm_set1_ps(tableB[k]);
        }
    }
};

// G groups of four directions: the same steps as evaluateRecurrenceOne, one
// direction per lane, into a value-major scratch block that is then
// transposed into the direction-major output blocks. Groups share each
// factor load and the loop overhead (four groups run about a quarter
// faster than one); results do not depend on G.
template <int G>
void evaluateRecurrenceGroups(const float* px, const float* py, const float* pz, uint32_t order,
                              const BroadcastFactors& f, float* dst)
{
    __m128 x[G], y[G], z[G];
    for (int g = 0; g < G; ++g) {
        x[g] = _mm_loadu_ps(px + 4 * g);
        y[g] = _mm_loadu_ps(py + 4 * g);
        z[g] = _mm_loadu_ps(pz + 4 * g);
    }
    __m128 v[kMaxCoeffs][G];
    for (int g = 0; g < G; ++g) {
        v[0][g] = f.a[0];
        if (order >= 1) {
            v[1][g] = _mm_mul_ps(f.a[2], y[g]);
            v[2][g] = _mm_mul_ps(f.a[1], z[g]);
            v[3][g] = _mm_mul_ps(f.a[2], x[g]);
        }
    }
    for (int32_t l = 2; l <= int32_t(order); ++l) {
        const __m128* a = f.a + shTableIndex(l, 0);
        const __m128* b = f.b + shTableIndex(l, 0);
        __m128(*cur)[G] = v + shCoeffIndex(l, 0);
        const __m128(*prev)[G] = v + shCoeffIndex(l - 1, 0);
        const __m128(*prev2)[G] = v + shCoeffIndex(l - 2, 0);
        for (int g = 0; g < G; ++g) {
            const __m128 diagPos = prev[l - 1][g], diagNeg = prev[-(l - 1)][g];
            // (pos x - neg y) A and (neg x + pos y) A
            cur[l][g] = _mm_mul_ps(_mm_sub_ps(_mm_mul_ps(diagPos, x[g]), _mm_mul_ps(diagNeg, y[g])), a[l]);
            cur[-l][g] = _mm_mul_ps(_mm_add_ps(_mm_mul_ps(diagNeg, x[g]), _mm_mul_ps(diagPos, y[g])), a[l]);
            // (A z) Y(l-1, +-(l-1))
            const __m128 az = _mm_mul_ps(a[l - 1], z[g]);
            cur[l - 1][g] = _mm_mul_ps(az, diagPos);
            cur[-(l - 1)][g] = _mm_mul_ps(az, diagNeg);
            // (A z) Y(l-1, 0) + B Y(l-2, 0)
            cur[0][g] = _mm_add_ps(_mm_mul_ps(_mm_mul_ps(a[0], z[g]), prev[0][g]), _mm_mul_ps(b[0], prev2[0][g]));
        }
        // (A z) Y(l-1, m) + B Y(l-2, m), m = +-1 .. +-(l-2)
        for (int32_t m = 1; m <= l - 2; ++m) {
            const __m128 am = a[m], bm = b[m];
            for (int g = 0; g < G; ++g) {
                const __m128 azm = _mm_mul_ps(am, z[g]);
                cur[m][g] = _mm_add_ps(_mm_mul_ps(azm, prev[m][g]), _mm_mul_ps(bm, prev2[m][g]));
                cur[-m][g] = _mm_add_ps(_mm_mul_ps(azm, prev[-m][g]), _mm_mul_ps(bm, prev2[-m][g]));
            }
        }
    }

    const uint32_t n = shCoeffCount(order);
    for (int g = 0; g < G; ++g) {
        float* d0 = dst + (4 * g) * n;
        float* d1 = d0 + n;
        float* d2 = d1 + n;
        float* d3 = d2 + n;
        uint32_t j = 0;
        for (; j + 4 <= n; j += 4) {
            __m128 r0 = v[j][g], r1 = v[j + 1][g], r2 = v[j + 2][g], r3 = v[j + 3][g];
            _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
            _mm_storeu_ps(d0 + j, r0);
            _mm_storeu_ps(d1 + j, r1);
            _mm_storeu_ps(d2 + j, r2);
            _mm_storeu_ps(d3 + j, r3);
        }
        for (; j < n; ++j) {
            alignas(16) float lanes[4];
            _mm_store_ps(lanes, v[j][g]);
            d0[j] = lanes[0];
            d1[j] = lanes[1];
            d2[j] = lanes[2];
            d3[j] = lanes[3];
        }
    }
}

}  // namespace

namespace {

void evaluateRecurrence(const float* x, const float* y, const float* z, int32_t count, uint32_t order,
                        const float* tableA, const float* tableB, float* dst)
{
    const uint32_t n = shCoeffCount(order);
    int32_t i = 0;
    if (count >= 4) {
        const BroadcastFactors factors(order, tableA, tableB);
        for (; count - i >= 16; i += 16, dst += 16 * n)
            evaluateRecurrenceGroups<4>(x + i, y + i, z + i, order, factors, dst);
        for (; count - i >= 4; i += 4, dst += 4 * n)
            evaluateRecurrenceGroups<1>(x + i, y + i, z + i, order, factors, dst);
    }
    for (; i < count; ++i, dst += n) evaluateRecurrenceOne(x[i], y[i], z[i], order, tableA, tableB, dst);
}

}  // namespace

extern const ShKernelTable shKernels = {evaluateRecurrence};

}  // namespace VEKR_ISA_NS
}  // namespace vekr
