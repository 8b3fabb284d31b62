#include "volume/cubic_kernels.h"

namespace vekr {
namespace volume {

namespace {

// Built at compile time, so the tables are read-only data and no start-up
// code or shared mutable state is involved.
constexpr VekrCubicKernelTable tabulate(const CubicKernel& kernel)
{
    VekrCubicKernelTable table{};
    for (int k = 0; k <= 200; ++k) table.weight[k] = static_cast<float>(evaluateCubic(kernel, k / 100.0));
    for (int k = 201; k < VEKR_CUBIC_TABLE_SIZE; ++k) table.weight[k] = 0.0f;
    return table;
}

constexpr VekrCubicKernelTable kTables[4] = {
    tabulate(kLagrangeKernel),
    tabulate(kBSplineKernel),
    tabulate(kCatmullRomKernel),
    tabulate(kBlendCubicKernel),
};

constexpr const CubicKernel* kKernels[4] = {&kLagrangeKernel, &kBSplineKernel, &kCatmullRomKernel,
                                            &kBlendCubicKernel};

}  // namespace

const CubicKernel& cubicKernel(int32_t mode)
{
    return *kKernels[mode - vekInterLagrange];
}

const VekrCubicKernelTable& cubicKernelTable(int32_t mode)
{
    return kTables[mode - vekInterLagrange];
}

}  // namespace volume
}  // namespace vekr
