// Ray generation: eye rays of a pixel block, mirror rays and shadow rays.
//
// Each export checks its pointers, picks its path in one predicate and hands
// over to a kernel. The scalar loops are the readable reference; the 4-wide
// kernels keep their own operation orders, which fix the last bit of their
// results and are part of each export's contract.

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "core/path_select.h"
#include "core/simd.h"
#include "shading/lanes.h"
#include "vekr.h"

namespace vekr::shading {
namespace {

// ---- Eye rays ----------------------------------------------------------

struct EyeGrid {
    const float* origin;
    const float* colStep;
    const float* rowStep;
    float colOffset;  // first image column of the block
    float rowOffset;  // first image row of the block
    int32_t width;
    int32_t height;
};

// The block's first image column or row: the product wraps as 32-bit
// integer arithmetic does, then converts to float.
float blockOffset(int32_t blockIndex, int32_t blockExtent)
{
    const uint32_t wrapped = static_cast<uint32_t>(blockIndex) * static_cast<uint32_t>(blockExtent);
    return static_cast<float>(static_cast<int32_t>(wrapped));
}

void castEyeScalar(const EyeGrid& g, float* const dst[3])
{
    for (int32_t r = 0; r < g.height; ++r) {
        const float row = static_cast<float>(r) + g.rowOffset;
        const ptrdiff_t rowStart = static_cast<ptrdiff_t>(r) * g.width;
        for (int k = 0; k < 3; ++k) {
            const float rowBase = (g.rowStep[k] * row) + g.origin[k];
            float* out = dst[k] + rowStart;
            for (int32_t c = 0; c < g.width; ++c)
                out[c] = rowBase + (g.colStep[k] * (static_cast<float>(c) + g.colOffset));
        }
    }
}

// Rows start from a base formed once and advanced by repeated addition of
// the row step; lanes carry float column numbers advanced by 4.0.
template <class Access>
void castEyeFourWide(const EyeGrid& g, float* const dst[3])
{
    __m128 colStep[3], rowStep[3], rowBase[3];
    for (int k = 0; k < 3; ++k) {
        const float base = ((g.rowStep[k] * g.rowOffset) + g.origin[k]) + (g.colStep[k] * g.colOffset);
        rowBase[k] = _mm_set1_ps(base);
        colStep[k] = _mm_set1_ps(g.colStep[k]);
        rowStep[k] = _mm_set1_ps(g.rowStep[k]);
    }
    const __m128 four = _mm_set1_ps(4.0f);
    for (int32_t r = 0; r < g.height; ++r) {
        const ptrdiff_t rowStart = static_cast<ptrdiff_t>(r) * g.width;
        float* out[3] = {dst[0] + rowStart, dst[1] + rowStart, dst[2] + rowStart};
        __m128 column = _mm_setr_ps(0.0f, 1.0f, 2.0f, 3.0f);
        for (int32_t c = 0; c < g.width; c += 4) {
            for (int k = 0; k < 3; ++k)
                Access::store(out[k] + c, _mm_add_ps(_mm_mul_ps(colStep[k], column), rowBase[k]));
            column = _mm_add_ps(column, four);
        }
        for (int k = 0; k < 3; ++k) rowBase[k] = _mm_add_ps(rowBase[k], rowStep[k]);
    }
}

LanePath eyePath(int32_t width, float* const dst[3])
{
    if (!isMultipleOf4(width)) return LanePath::Scalar;
    return allAligned16(dst[0], dst[1], dst[2]) ? LanePath::FourWideAligned : LanePath::FourWideUnaligned;
}

// ---- Mirror rays ---------------------------------------------------------

void reflectScalar(const float* const in[3], const int32_t* mask, const float* const nrm[3], float* const out[3],
                   int32_t count)
{
    for (int32_t i = 0; i < count; ++i) {
        if (mask[i] < 0) {
            out[0][i] = out[1][i] = out[2][i] = 0.0f;
            continue;
        }
        const float ix = in[0][i], iy = in[1][i], iz = in[2][i];
        const float nx = nrm[0][i], ny = nrm[1][i], nz = nrm[2][i];
        const float d = ((iy * ny) + (iz * nz)) + (ix * nx);
        const float t = d + d;
        out[0][i] = ix - nx * t;
        out[1][i] = iy - ny * t;
        out[2][i] = iz - t * nz;
    }
}

template <class Access>
void reflectFourWide(const float* const in[3], const int32_t* mask, const float* const nrm[3], float* const out[3],
                     int32_t count)
{
    const __m128 zero = _mm_setzero_ps();
    for (int32_t i = 0; i < count; i += 4) {
        const __m128 inactive = inactiveLanes(Access::loadi(mask + i));
        if (noLaneActive(inactive)) {
            store3<Access>(out, i, zero);
            continue;
        }
        const Lanes3 I = load3<Access>(in, i);
        const Lanes3 N = load3<Access>(nrm, i);
        const __m128 d = dotXYZ(I, N);
        const __m128 t = _mm_add_ps(d, d);
        const Lanes3 R = {_mm_sub_ps(I.x, _mm_mul_ps(N.x, t)), _mm_sub_ps(I.y, _mm_mul_ps(N.y, t)),
                          _mm_sub_ps(I.z, _mm_mul_ps(t, N.z))};
        store3<Access>(out, i, clearLanes(inactive, R));
    }
}

LanePath reflectPath(const float* const in[3], const int32_t* mask, const float* const nrm[3], float* const out[3],
                     int32_t count)
{
    if (!isMultipleOf4(count)) return LanePath::Scalar;
    return allAligned16(in[0], in[1], in[2], mask, nrm[0], nrm[1], nrm[2], out[0], out[1], out[2])
               ? LanePath::FourWideAligned
               : LanePath::FourWideUnaligned;
}

// ---- Shadow rays ---------------------------------------------------------

// |N . D| below 0.1 degree in radians: the light grazes the surface and the
// ray is not worth casting
// (bits 0x3AE4C388).
constexpr float kGrazingLimit = 0x1.c9871p-10f;

struct ShadowArgs {
    const float* light;
    const float* side;
    const float* const* nrm;
    const float* const* hit;
    int32_t* mask;
    float* dot;
    float* const* dir;
};

// One ray of the count % 4 tail. A ray inactive on entry keeps its mask
// entry here, unlike in the groups of four.
void shadowOne(const ShadowArgs& a, int32_t i)
{
    a.dot[i] = 0.0f;
    a.dir[0][i] = a.dir[1][i] = a.dir[2][i] = 0.0f;
    if (a.mask[i] < 0) return;
    const float dx = a.hit[0][i] - a.light[0];
    const float dy = a.hit[1][i] - a.light[1];
    const float dz = a.hit[2][i] - a.light[2];
    float d = dotXYZ(a.nrm[0][i], a.nrm[1][i], a.nrm[2][i], dx, dy, dz);
    if (std::fabs(d) < kGrazingLimit) d = 0.0f;
    if (a.side[i] * d > 0.0f) {
        a.dot[i] = std::fabs(d);
        a.dir[0][i] = dx;
        a.dir[1][i] = dy;
        a.dir[2][i] = dz;
    } else {
        a.mask[i] = -1;
    }
}

template <class Access>
void shadowFourWide(const ShadowArgs& a, int32_t groupedCount)
{
    const __m128 lx = _mm_set1_ps(a.light[0]), ly = _mm_set1_ps(a.light[1]), lz = _mm_set1_ps(a.light[2]);
    const __m128 limit = _mm_set1_ps(kGrazingLimit);
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    const __m128 zero = _mm_setzero_ps();
    const __m128i notCast = _mm_set1_epi32(-1);
    for (int32_t i = 0; i < groupedCount; i += 4) {
        const __m128i m = Access::loadi(a.mask + i);
        const __m128 inactive = inactiveLanes(m);
        if (noLaneActive(inactive)) {
            Access::store(a.dot + i, zero);
            store3<Access>(a.dir, i, zero);
            Access::storei(a.mask + i, notCast);
            continue;
        }
        const Lanes3 P = load3<Access>(a.hit, i);
        const Lanes3 N = load3<Access>(a.nrm, i);
        const Lanes3 D = {_mm_sub_ps(P.x, lx), _mm_sub_ps(P.y, ly), _mm_sub_ps(P.z, lz)};
        const __m128 d = dotXYZ(N, D);
        const __m128 absD = _mm_and_ps(d, magnitude);
        const __m128 sameSide = _mm_cmpgt_ps(_mm_mul_ps(Access::load(a.side + i), d), zero);
        const __m128 cast = _mm_andnot_ps(inactive, _mm_and_ps(_mm_cmpge_ps(absD, limit), sameSide));
        const __m128 notCastLanes = _mm_xor_ps(cast, _mm_castsi128_ps(notCast));
        Access::store(a.dot + i, _mm_and_ps(cast, absD));
        store3<Access>(a.dir, i, clearLanes(notCastLanes, D));
        Access::storei(a.mask + i, _mm_or_si128(m, _mm_castps_si128(notCastLanes)));
    }
}

bool shadowArraysAligned(const ShadowArgs& a)
{
    return allAligned16(a.side, a.nrm[0], a.nrm[1], a.nrm[2], a.hit[0], a.hit[1], a.hit[2], a.mask, a.dot,
                        a.dir[0], a.dir[1], a.dir[2]);
}

}  // namespace
}  // namespace vekr::shading

using namespace vekr::shading;

extern "C" VEKR_API VekStatus VEK_CALL vekrCastEye_32f(const float origin[3], const float colStep[3],
                                                       const float rowStep[3], int32_t blockCol, int32_t blockRow,
                                                       VekrSize blockSize, float* const pDst[3], VekrSize outputSize)
{
    if (!pDst) return vekStsNullPtrErr;
    if (outputSize.width < 1 || outputSize.height < 1) return vekStsOk;
    const EyeGrid grid = {origin,
                          colStep,
                          rowStep,
                          blockOffset(blockCol, blockSize.width),
                          blockOffset(blockRow, blockSize.height),
                          outputSize.width,
                          outputSize.height};
    switch (eyePath(outputSize.width, pDst)) {
    case LanePath::Scalar: castEyeScalar(grid, pDst); break;
    case LanePath::FourWideAligned: castEyeFourWide<vekr::AlignedAccess>(grid, pDst); break;
    case LanePath::FourWideUnaligned: castEyeFourWide<vekr::UnalignedAccess>(grid, pDst); break;
    }
    return vekStsOk;
}

extern "C" VEKR_API VekStatus VEK_CALL vekrCastReflectionRay_32f(const float* const pIncident[3],
                                                                 const int32_t* pMask,
                                                                 const float* const pNormal[3],
                                                                 float* const pReflected[3], int32_t count)
{
    if (!pIncident || !pMask || !pNormal || !pReflected) return vekStsNullPtrErr;
    if (count < 1) return vekStsOk;
    switch (reflectPath(pIncident, pMask, pNormal, pReflected, count)) {
    case LanePath::Scalar: reflectScalar(pIncident, pMask, pNormal, pReflected, count); break;
    case LanePath::FourWideAligned:
        reflectFourWide<vekr::AlignedAccess>(pIncident, pMask, pNormal, pReflected, count);
        break;
    case LanePath::FourWideUnaligned:
        reflectFourWide<vekr::UnalignedAccess>(pIncident, pMask, pNormal, pReflected, count);
        break;
    }
    return vekStsOk;
}

extern "C" VEKR_API VekStatus VEK_CALL vekrCastShadowSO_32f(const float light[3], const float* pSide,
                                                            const float* const pNormal[3], const float* const pHit[3],
                                                            int32_t* pMask, float* pDot, float* const pDir[3],
                                                            int32_t count)
{
    if (!pSide || !pNormal || !pHit || !pMask || !pDir || !pDot) return vekStsNullPtrErr;
    if (count < 1) return vekStsOk;
    const ShadowArgs args = {light, pSide, pNormal, pHit, pMask, pDot, pDir};
    // Groups of four always run 4-wide; only the remainder goes one by one.
    const int32_t grouped = count - (count & 3);
    if (shadowArraysAligned(args))
        shadowFourWide<vekr::AlignedAccess>(args, grouped);
    else
        shadowFourWide<vekr::UnalignedAccess>(args, grouped);
    for (int32_t i = grouped; i < count; ++i) shadowOne(args, i);
    return vekStsOk;
}
