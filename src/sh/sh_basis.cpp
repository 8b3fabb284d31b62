// vekrSH_32f and vekrSHBand_32f: argument checks, then the kernel of the
// state's kind.

#include "sh/sh_basis.h"

#include "sh/sh_basis_direct.h"
#include "core/kernel_table.h"
#include "sh/sh_basis_recurrence.h"
#include "sh/sh_state.h"

namespace vekr {

VekStatus checkBasisKind(const VekrSHState& state, uint32_t order)
{
    if (state.kind != kSHDirect && state.kind != kSHRecurrence) return vekStsRangeErr;
    return order > kMaxBand ? vekStsRangeErr : vekStsOk;
}

void evaluateBasis(const VekrSHState& state, uint32_t order, const float* x, const float* y, const float* z,
                   int32_t count, float* dst)
{
    if (state.kind == kSHDirect)
        evaluateDirect(x, y, z, count, order, dst);
    else
        kernels().sh.evaluateRecurrence(x, y, z, count, order, state.pTableA, state.pTableB, dst);
}

}  // namespace vekr

using namespace vekr;

extern "C" VEKR_API VekStatus VEK_CALL vekrSH_32f(const float* pX, const float* pY, const float* pZ, int32_t count,
                                                  float* pDst, uint32_t order, const VekrSHState* pState)
{
    if (!pX || !pY || !pZ || !pDst || !pState) return vekStsNullPtrErr;
    if (count == 0) return vekStsSizeErr;
    if (order > pState->order) return vekStsRangeErr;
    const VekStatus status = checkBasisKind(*pState, order);
    if (status != vekStsOk) return status;
    if (count < 0) return vekStsOk;
    evaluateBasis(*pState, order, pX, pY, pZ, count, pDst);
    return vekStsOk;
}

extern "C" VEKR_API VekStatus VEK_CALL vekrSHBand_32f(const float* pX, const float* pY, const float* pZ,
                                                      int32_t count, float* pDst, uint32_t band)
{
    if (!pX || !pY || !pZ || !pDst) return vekStsNullPtrErr;
    if (band > kMaxBand) return vekStsRangeErr;
    if (count == 0) return vekStsSizeErr;
    if (count < 0) return vekStsOk;
    evaluateDirectBand(pX, pY, pZ, count, band, pDst);
    return vekStsOk;
}
