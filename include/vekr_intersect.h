/* vekr_intersect.h - include <vekr.h> rather than this file. */
#ifndef VEKR_INTERSECT_H
#define VEKR_INTERSECT_H

#include "vekr_base.h"
#include "vekr_scene.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Ray blocks: an intersection call works on width x height rays stored
 * row-major without padding; ray (row r, column c) is element r * width + c of
 * every per-ray plane. Direction vectors need not be normalised: distances t
 * are in units of each direction's own length, and the hit point is
 * origin + t * direction.
 *
 * The intersection functions check nothing (they sit in the innermost loop of
 * a renderer): pointers must be valid, every plane must hold width x height
 * entries and the context must name a box, a record array and a tree built for
 * those records. They always return vekStsOk.
 */

/*
 * vekrIntersectMO_32f - closest hit of every ray of a block, each ray with its
 * own origin.
 *
 *   pOrigin     three planes x, y, z of the ray origins (read)
 *   pDirection  three planes x, y, z of the ray directions (read)
 *   pDist       in: the largest distance at which a hit counts;
 *               out: the distance t of the hit, unchanged for a miss
 *   pHitUV      two planes: weight u of the hit triangle's first vertex and
 *               weight v of its second; the third vertex weighs 1 - u - v.
 *               Unchanged for a miss.
 *   pTriIndex   out: number of the triangle hit, or -1 for a miss. Serves
 *               directly as the mask of the shading functions.
 *   pContext    the scene: box, triangle records, kd-tree
 *   blockSize   width and height of the block; a side below 1 does nothing
 *
 * A hit counts when 0 < t < pDist - 0.00001. Both faces of a triangle are hit;
 * points on edges and vertices count as inside; triangles whose record is
 * degenerate are never hit. A ray starting on a triangle's plane (t = 0) does
 * not hit that triangle. Among hits whose distances lie within 0.00001 of each
 * other, the one met first (near cells first, then the leaf's list order)
 * stands. Rays grazing the plane (|det| below 1.1920929e-6) do not hit.
 *
 * Rays are clipped to the box first; a ray whose direction has a component of
 * magnitude at most 2^-23 must start strictly inside the box's slab on that
 * axis, otherwise it misses.
 *
 * Paths: blocks whose sides are multiples of 4 with all ten planes 16-byte
 * aligned are meant for 4 x 4 ray packets; this build traces every block ray
 * by ray with the rules above.
 *
 * Returns vekStsOk.
 */
VEKR_API VekStatus VEK_CALL vekrIntersectMO_32f(const float* const pOrigin[3], const float* const pDirection[3],
                                                float* pDist, float* const pHitUV[2], int32_t* pTriIndex,
                                                const VekrIntersectContext* pContext, VekrSize blockSize);

#ifdef __cplusplus
}
#endif

#endif /* VEKR_INTERSECT_H */
