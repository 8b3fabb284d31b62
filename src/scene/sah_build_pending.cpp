// Stand-in for the surface-area-heuristic builder, which lands separately
// and replaces this file. Until then the SAH tag passes the front's checks
// and the build reports failure without writing anything.

#include "scene/sah_build.h"

namespace vekr {

VekStatus buildKDTreeSAH(const float*, const int32_t*, int32_t, int32_t, VekrKDTreeNode**, int32_t*, float, int32_t,
                         uint32_t, const float*)
{
    return vekStsErr;
}

}  // namespace vekr
