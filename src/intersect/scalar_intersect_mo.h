// Closest hit of every ray of a block with an origin per ray, one ray at a
// time.
#ifndef VEKR_INTERSECT_SCALAR_INTERSECT_MO_H
#define VEKR_INTERSECT_SCALAR_INTERSECT_MO_H

#include "intersect/ray_block.h"

namespace vekr {

void intersectScalarMO(const RayBlockMO& block, const SceneView& scene);

}  // namespace vekr

#endif
