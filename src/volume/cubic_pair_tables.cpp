#include "volume/cubic_kernels.h"

namespace vekr {
namespace volume {

namespace {

CubicPairTable pairUp(const VekrCubicKernelTable& t)
{
    CubicPairTable p{};
    for (int k = 0; k < VEKR_CUBIC_TABLE_SIZE; ++k) {
        const float next = k + 1 < VEKR_CUBIC_TABLE_SIZE ? t.weight[k + 1] : 0.0f;
        p.pair[2 * k] = t.weight[k];
        p.pair[2 * k + 1] = next - t.weight[k];
    }
    for (int k = 0; k < CubicPairTable::kQuads; ++k) {
        const int entry[4] = {100 + k, k, 99 - k, 199 - k};
        for (int l = 0; l < 4; ++l) {
            p.quad[k][l] = p.pair[2 * entry[l]];
            p.quad[k][4 + l] = p.pair[2 * entry[l] + 1];
        }
    }
    return p;
}

}  // namespace

const CubicPairTable& cubicPairTable(int32_t mode)
{
    // Initialised once, thread-safely, on the first cubic warp or remap.
    static const CubicPairTable tables[4] = {
        pairUp(cubicKernelTable(vekInterLagrange)),
        pairUp(cubicKernelTable(vekInterBSpline)),
        pairUp(cubicKernelTable(vekInterCatmullRom)),
        pairUp(cubicKernelTable(vekInterBlendCubic)),
    };
    return tables[mode - vekInterLagrange];
}

}  // namespace volume
}  // namespace vekr
