// The convolution kernels of the signed 16-bit filter for one instruction
// set: each shape and divisor class bound into one table entry.
#include "volume/filter_kernels.h"

namespace vekr::volume::VEKR_ISA_NS {

namespace {

template <class Divide>
void runAnyShape(const FilterArgs& a, int32_t divisor)
{
    filterAnyShape(a, Divide(divisor));
}

template <int N, class Divide>
void runCube(const FilterArgs& a, int32_t divisor)
{
    filterCube<N>(a, Divide(divisor));
}

template <class Shape, class Divide>
void runNarrow(const FilterArgs& a, int32_t divisor)
{
    filterNarrow<Shape>(a, Divide(divisor));
}

}  // namespace

// [path][shape][divisor class], as FilterKernelTable orders them.
extern const FilterKernelTable filterKernels = {{
    {
        {runAnyShape<NoDivision>, runAnyShape<PowerOfTwoDivision>, runAnyShape<GeneralDivision>},
        {runCube<3, NoDivision>, runCube<3, PowerOfTwoDivision>, runCube<3, GeneralDivision>},
        {runCube<5, NoDivision>, runCube<5, PowerOfTwoDivision>, runCube<5, GeneralDivision>},
    },
    {
        {runNarrow<AnyShape, NoDivision>, runNarrow<AnyShape, PowerOfTwoDivision>,
         runNarrow<AnyShape, GeneralDivision>},
        {runNarrow<CubeShape<3>, NoDivision>, runNarrow<CubeShape<3>, PowerOfTwoDivision>,
         runNarrow<CubeShape<3>, GeneralDivision>},
        {runNarrow<CubeShape<5>, NoDivision>, runNarrow<CubeShape<5>, PowerOfTwoDivision>,
         runNarrow<CubeShape<5>, GeneralDivision>},
    },
}};

}  // namespace vekr::volume::VEKR_ISA_NS
