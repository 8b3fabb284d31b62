#include "core/kernel_table.h"

namespace vekr {

// Assembled at first use; the pieces are constant tables of function
// addresses, so they are ready before any call can get here.
const KernelTable& sse3KernelTable()
{
    static const KernelTable table{Isa::Sse3, volume::sse3::resizeKernels, volume::sse3::samplingKernels,
                                   volume::sse3::filterKernels, sse3::shKernels,
                                   isect::sse3::packetKernels};
    return table;
}

const KernelTable& avx2KernelTable()
{
    static const KernelTable table{Isa::Avx2, volume::avx2::resizeKernels, volume::avx2::samplingKernels,
                                   volume::avx2::filterKernels, avx2::shKernels,
                                   isect::avx2::packetKernels};
    return table;
}

#if defined(VEKR_HAVE_AVX512)
const KernelTable& avx512KernelTable()
{
    static const KernelTable table{Isa::Avx512, volume::avx512::resizeKernels, volume::avx512::samplingKernels,
                                   volume::avx512::filterKernels, avx512::shKernels,
                                   isect::avx512::packetKernels};
    return table;
}
#endif

}  // namespace vekr
