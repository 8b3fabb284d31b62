// vekrSHGetSize_32f and vekrSHInit_32f: size and set-up of the caller-owned
// spherical-harmonics state.

#include <cmath>
#include <cstring>
#include <limits>

#include "sh/sh_state.h"

namespace vekr {
namespace {

// Size of a state of this order and kind, or the status that refuses it.
// A recurrence state too large for the int32 size is refused as a size
// error rather than reported wrapped: a wrapped size would let Init write
// past the caller's buffer.
VekStatus stateSize(uint32_t order, int32_t kind, int32_t& size)
{
    if (kind == kSHDirect) {
        if (order > kMaxBand) return vekStsSizeErr;
        size = int32_t(sizeof(VekrSHState));
        return vekStsOk;
    }
    if (kind == kSHRecurrence) {
        const uint64_t bytes = shRecurrenceStateSize(order);
        if (bytes > uint64_t(std::numeric_limits<int32_t>::max())) return vekStsSizeErr;
        size = int32_t(bytes);
        return vekStsOk;
    }
    return vekStsRangeErr;
}

// sqrt(num / den) with both integers rounded to float and the quotient and
// root taken in float: the factors the single-precision recurrence runs on.
float rootOfQuotient(int64_t num, int64_t den)
{
    return std::sqrt(float(num) / float(den));
}

// Factors of Y(l, m) = (A(l, m) z) Y(l-1, m) + B(l, m) Y(l-2, m) for
// m <= l - 2, of the diagonal step Y(l, l) = (...) A(l, l) and of
// Y(l, l-1) = (A(l, l-1) z) Y(l-1, l-1).
void fillRecurrenceTables(uint32_t order, float* a, float* b)
{
    // Y(0, 0) = 1 / sqrt(4 pi); band 1 scales it by sqrt(3) in double and
    // rounds once, and its m = 1 entry carries the Condon-Shortley sign.
    a[0] = static_cast<float>(0.28209479177387814);
    a[1] = static_cast<float>(double(a[0]) * std::sqrt(3.0));
    a[2] = -a[1];
    for (uint32_t band = 2; band <= order; ++band) {
        const int64_t l = band;
        float* al = a + shTableIndex(band, 0);
        float* bl = b + shTableIndex(band, 0);
        for (int64_t m = 0; m <= l - 2; ++m) {
            al[m] = rootOfQuotient(4 * l * l - 1, l * l - m * m);
            bl[m] = -rootOfQuotient(((l - 1) * (l - 1) - m * m) * (2 * l + 1), (l * l - m * m) * (2 * l - 3));
        }
        al[l - 1] = std::sqrt(float(2 * l + 1));
        al[l] = -rootOfQuotient(2 * l + 1, 2 * l);
    }
}

}  // namespace
}  // namespace vekr

using namespace vekr;

extern "C" VEKR_API VekStatus VEK_CALL vekrSHGetSize_32f(uint32_t order, int32_t kind, int32_t* pSize)
{
    if (!pSize) return vekStsNullPtrErr;
    int32_t size = 0;
    const VekStatus status = stateSize(order, kind, size);
    if (status != vekStsOk) return status;
    *pSize = size;
    return vekStsOk;
}

extern "C" VEKR_API VekStatus VEK_CALL vekrSHInit_32f(VekrSHState* pState, uint32_t order, int32_t kind)
{
    if (!pState) return vekStsNullPtrErr;
    int32_t size = 0;
    const VekStatus status = stateSize(order, kind, size);
    if (status != vekStsOk) return status;

    std::memset(pState, 0, size_t(size));
    pState->order = order;
    pState->kind = kind;
    if (kind == kSHRecurrence) {
        const uintptr_t start = reinterpret_cast<uintptr_t>(pState);
        const uintptr_t tableA = uintptr_t(roundUp16(start)) + kSHTableOffset;
        const uintptr_t tableB = tableA + uintptr_t(roundUp16(4 * shTableLength(order)));
        pState->pTableA = reinterpret_cast<float*>(tableA);
        pState->pTableB = reinterpret_cast<float*>(tableB);
        fillRecurrenceTables(order, pState->pTableA, pState->pTableB);
    }
    return vekStsOk;
}
