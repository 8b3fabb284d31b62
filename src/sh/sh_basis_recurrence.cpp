// Band-by-band recurrence for the real spherical harmonics in float.
//
// Band l comes from bands l - 1 and l - 2 of the same block:
//   Y(l, +-l)   from the diagonal of band l - 1 rotated by (x, y), times A(l, l);
//   Y(l, +-(l-1)) = (A(l, l-1) z) Y(l-1, +-(l-1));
//   Y(l, m)     = (A(l, |m|) z) Y(l-1, m) + B(l, |m|) Y(l-2, m), |m| <= l - 2.
// Every product and sum is one float operation in exactly this order, so
// the values are reproducible bit for bit. Each direction's values depend
// on that direction alone, so the vector kernels run the same order in four
// (or, in the AVX2 build, eight) lanes and give the same bits as the scalar
// loop.

#include "sh/sh_basis_recurrence.h"

#include <immintrin.h>

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

// Directions evaluated at once: four in a 128-bit vector, and eight in a
// 256-bit one in the AVX2 build. Every lane runs the scalar order of
// operations, so the width never changes a bit.
struct Floats4 {
    using V = __m128;
    static constexpr int kCount = 4;
    static V load(const float* p) { return _mm_loadu_ps(p); }
    static V broadcast(float v) { return _mm_set1_ps(v); }
    static V mul(V a, V b) { return _mm_mul_ps(a, b); }
    static V add(V a, V b) { return _mm_add_ps(a, b); }
    static V sub(V a, V b) { return _mm_sub_ps(a, b); }
    static __m128 part(V v, int) { return v; }
};

#if defined(__AVX2__)
struct Floats8 {
    using V = __m256;
    static constexpr int kCount = 8;
    static V load(const float* p) { return _mm256_loadu_ps(p); }
    static V broadcast(float v) { return _mm256_set1_ps(v); }
    static V mul(V a, V b) { return _mm256_mul_ps(a, b); }
    static V add(V a, V b) { return _mm256_add_ps(a, b); }
    static V sub(V a, V b) { return _mm256_sub_ps(a, b); }
    // Directions 0-3 (h = 0) or 4-7 (h = 1).
    static __m128 part(V v, int h) { return h == 0 ? _mm256_castps256_ps128(v) : _mm256_extractf128_ps(v, 1); }
};
#endif

// The factors of bands 0 .. order, each repeated in all lanes, so the
// kernel multiplies by them without a broadcast per value.
template <class F>
struct BroadcastFactors {
    using V = typename F::V;
    V a[kMaxTableLength];
    V b[kMaxTableLength];
    BroadcastFactors(uint32_t order, const float* tableA, const float* tableB)
    {
        const uint32_t n = shTableIndex(order + 1, 0);
        for (uint32_t k = 0; k < n; ++k) {
            a[k] = F::broadcast(tableA[k]);
            b[k] = F::broadcast(tableB[k]);
        }
    }
};

// G groups of F::kCount directions: the same steps as evaluateRecurrenceOne,
// one direction per lane, into a value-major scratch block that is then
// transposed four values by four directions into the direction-major
// output blocks. Groups share each factor load and the loop overhead;
// results do not depend on G.
template <class F, int G>
void evaluateRecurrenceGroups(const float* px, const float* py, const float* pz, uint32_t order,
                              const BroadcastFactors<F>& f, float* dst)
{
    using V = typename F::V;
    constexpr int W = F::kCount;
    V x[G], y[G], z[G];
    for (int g = 0; g < G; ++g) {
        x[g] = F::load(px + W * g);
        y[g] = F::load(py + W * g);
        z[g] = F::load(pz + W * g);
    }
    V v[kMaxCoeffs][G];
    for (int g = 0; g < G; ++g) {
        v[0][g] = f.a[0];
        if (order >= 1) {
            v[1][g] = F::mul(f.a[2], y[g]);
            v[2][g] = F::mul(f.a[1], z[g]);
            v[3][g] = F::mul(f.a[2], x[g]);
        }
    }
    for (int32_t l = 2; l <= int32_t(order); ++l) {
        const V* a = f.a + shTableIndex(l, 0);
        const V* b = f.b + shTableIndex(l, 0);
        V(*cur)[G] = v + shCoeffIndex(l, 0);
        const V(*prev)[G] = v + shCoeffIndex(l - 1, 0);
        const V(*prev2)[G] = v + shCoeffIndex(l - 2, 0);
        for (int g = 0; g < G; ++g) {
            const V diagPos = prev[l - 1][g], diagNeg = prev[-(l - 1)][g];
            // (pos x - neg y) A and (neg x + pos y) A
            cur[l][g] = F::mul(F::sub(F::mul(diagPos, x[g]), F::mul(diagNeg, y[g])), a[l]);
            cur[-l][g] = F::mul(F::add(F::mul(diagNeg, x[g]), F::mul(diagPos, y[g])), a[l]);
            // (A z) Y(l-1, +-(l-1))
            const V az = F::mul(a[l - 1], z[g]);
            cur[l - 1][g] = F::mul(az, diagPos);
            cur[-(l - 1)][g] = F::mul(az, diagNeg);
            // (A z) Y(l-1, 0) + B Y(l-2, 0)
            cur[0][g] = F::add(F::mul(F::mul(a[0], z[g]), prev[0][g]), F::mul(b[0], prev2[0][g]));
        }
        // (A z) Y(l-1, m) + B Y(l-2, m), m = +-1 .. +-(l-2)
        for (int32_t m = 1; m <= l - 2; ++m) {
            const V am = a[m], bm = b[m];
            for (int g = 0; g < G; ++g) {
                const V azm = F::mul(am, z[g]);
                cur[m][g] = F::add(F::mul(azm, prev[m][g]), F::mul(bm, prev2[m][g]));
                cur[-m][g] = F::add(F::mul(azm, prev[-m][g]), F::mul(bm, prev2[-m][g]));
            }
        }
    }

    const uint32_t n = shCoeffCount(order);
    for (int g = 0; g < G; ++g)
        for (int h = 0; h < W / 4; ++h) {
            float* d0 = dst + (W * g + 4 * h) * n;
            float* d1 = d0 + n;
            float* d2 = d1 + n;
            float* d3 = d2 + n;
            uint32_t j = 0;
            for (; j + 4 <= n; j += 4) {
                __m128 r0 = F::part(v[j][g], h), r1 = F::part(v[j + 1][g], h);
                __m128 r2 = F::part(v[j + 2][g], h), r3 = F::part(v[j + 3][g], h);
                _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
                _mm_storeu_ps(d0 + j, r0);
                _mm_storeu_ps(d1 + j, r1);
                _mm_storeu_ps(d2 + j, r2);
                _mm_storeu_ps(d3 + j, r3);
            }
            for (; j < n; ++j) {
                alignas(16) float lanes[4];
                _mm_store_ps(lanes, F::part(v[j][g], h));
                d0[j] = lanes[0];
                d1[j] = lanes[1];
                d2[j] = lanes[2];
                d3[j] = lanes[3];
            }
        }
}

void evaluateRecurrence(const float* x, const float* y, const float* z, int32_t count, uint32_t order,
                        const float* tableA, const float* tableB, float* dst)
{
    const uint32_t n = shCoeffCount(order);
    int32_t i = 0;
#if defined(__AVX2__)
    if (count >= 8) {
        const BroadcastFactors<Floats8> factors(order, tableA, tableB);
        for (; count - i >= 16; i += 16, dst += 16 * n)
            evaluateRecurrenceGroups<Floats8, 2>(x + i, y + i, z + i, order, factors, dst);
        for (; count - i >= 8; i += 8, dst += 8 * n)
            evaluateRecurrenceGroups<Floats8, 1>(x + i, y + i, z + i, order, factors, dst);
    }
#endif
    if (count - i >= 4) {
        const BroadcastFactors<Floats4> factors(order, tableA, tableB);
        for (; count - i >= 16; i += 16, dst += 16 * n)
            evaluateRecurrenceGroups<Floats4, 4>(x + i, y + i, z + i, order, factors, dst);
        for (; count - i >= 4; i += 4, dst += 4 * n)
            evaluateRecurrenceGroups<Floats4, 1>(x + i, y + i, z + i, order, factors, dst);
    }
    for (; i < count; ++i, dst += n) evaluateRecurrenceOne(x[i], y[i], z[i], order, tableA, tableB, dst);
}

}  // namespace

extern const ShKernelTable shKernels = {evaluateRecurrence};

}  // namespace VEKR_ISA_NS
}  // namespace vekr
