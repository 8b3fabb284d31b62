/**
 * @file vekr_intersect.h
 * Ray-scene intersection. Include <vekr.h> rather than this file.
 */
#ifndef VEKR_INTERSECT_H
#define VEKR_INTERSECT_H

#include "vekr_base.h"
#include "vekr_scene.h"

#ifdef __cplusplus
extern "C" {
#endif

/**
 * @defgroup intersect Ray-scene intersection
 * Closest hit, successive hits and any hit of blocks of rays against a
 * scene built with the @ref scene "scene functions".
 *
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
 *
 * Every function runs on the calling thread and only reads the scene, so
 * several threads may trace blocks against one scene at once; a renderer
 * parallelises over blocks (tools/vekr-render does).
 *
 * Example: the eye rays of one 16 x 16 block of an image (16-byte aligned
 * planes, so the packet path is taken).
 * @code
 * VekrSize block = { 16, 16 };
 * vekrCastEye_32f(corner, colStep, rowStep, blockCol, blockRow, block, dir, block);
 * for (int i = 0; i < 256; ++i) dist[i] = FLT_MAX;              // no distance limit
 * vekrIntersectEyeSO_32f(eye, dir, dist, uv, tri, &scene, block);
 * // tri[i] >= 0: ray i hit triangle tri[i] at eye + dist[i] * dir;
 * // tri serves as the mask of the shading functions
 * @endcode
 * @{
 */

/**
 * vekrIntersectMO_32f - closest hit of every ray of a block, each ray with its
 * own origin.
 *
 * @param pOrigin    three planes x, y, z of the ray origins (read)
 * @param pDirection three planes x, y, z of the ray directions (read)
 * @param pDist      in: the largest distance at which a hit counts;
 *                   out: the distance t of the hit, unchanged for a miss
 * @param pHitUV     two planes: weight u of the hit triangle's first vertex and
 *                   weight v of its second; the third vertex weighs 1 - u - v.
 *                   Unchanged for a miss.
 * @param pTriIndex  out: number of the triangle hit, or -1 for a miss. Serves
 *                   directly as the mask of the shading functions.
 * @param pContext   the scene: box, triangle records, kd-tree
 * @param blockSize  width and height of the block; a side below 1 does nothing
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
 * aligned take the packet path described below (8-ray packets for tiles whose
 * 16 rays share direction signs); there a hit counts for 0 < t < pDist with
 * no margin and no determinant threshold, and the first of two hits at the
 * same distance stands.
 *
 * @retval vekStsOk  always
 */
VEKR_API VekStatus VEK_CALL vekrIntersectMO_32f(const float* const pOrigin[3], const float* const pDirection[3],
                                                float* pDist, float* const pHitUV[2], int32_t* pTriIndex,
                                                const VekrIntersectContext* pContext, VekrSize blockSize);

/** @} */

/**
 * @addtogroup intersect
 * @par Calls whose rays share one origin
 * Calls whose rays share one origin (camera rays, shadow rays from a light).
 * They take the same per-ray planes as vekrIntersectMO_32f, check nothing and
 * return vekStsOk; a block with a side below 1 touches no argument.
 *
 * Packet path: a block whose width and height are multiples of 4 and whose
 * per-ray planes (named with each function; never the origin point) are
 * 16-byte aligned is cut into 4 x 4 tiles whose rays are grouped by the signs
 * of their directions and traced 4 or 8 at a time. Allocate ray blocks that
 * way to get it. It differs from the ray-by-ray path as follows:
 *   - 1/direction and 1/det come from the processor's reciprocal estimate
 *     refined by one Newton-Raphson step, so t, u and v may differ in the
 *     last bits;
 *   - a direction component of magnitude at most 2^-23 is replaced by
 *     +1.1920929e-5 before its reciprocal while its own sign still orders
 *     the walk; give such components as +0 or -0 (a negative one such as
 *     -1e-9 can send the ray down the wrong side of a split and miss);
 *   - the tree walk compares exactly, without the 0.00001 split tolerance;
 *   - u and v of rays without a hit may be overwritten (0 or other values);
 *     decide by the triangle number.
 * Away from ties and edges both paths report the same triangles.
 * @{
 */

/**
 * vekrIntersectEyeSO_32f - closest hit of every ray of a block from one
 * common origin, such as the primary rays of a camera.
 *
 * @param pOrigin    the common origin x, y, z (read)
 * @param pDirection three planes of directions (read); need not be normalised
 * @param pDist      in: the largest distance at which a hit counts;
 *                   out: distance t of the hit, unchanged for a miss
 * @param pHitUV     two planes: weights u (first vertex) and v (second vertex)
 * @param pTriIndex  out: number of the triangle hit, or -1
 * @param pContext   the scene: box, triangle records, kd-tree
 * @param blockSize  width and height of the block
 *
 * A hit counts when 0 < t < pDist; any candidate strictly nearer than the
 * present hit replaces it, and among candidates at exactly the same t the
 * one met first stands. No ray is refused for running nearly parallel to a
 * triangle. Rays are clipped to the box with correctly rounded slab
 * distances; a direction component of magnitude at most 2^-23 does not
 * limit the ray on its axis. Packet path: direction planes, pDist, both
 * pHitUV planes and pTriIndex aligned; always four rays at a time.
 *
 * @retval vekStsOk  always
 */
VEKR_API VekStatus VEK_CALL vekrIntersectEyeSO_32f(const float* pOrigin, const float* const pDirection[3],
                                                   float* pDist, float* const pHitUV[2], int32_t* pTriIndex,
                                                   const VekrIntersectContext* pContext, VekrSize blockSize);

/**
 * vekrIntersectMultipleSO_32f - up to hitCount triangles that each ray of a
 * block passes through, nearest first (transparency, counting surfaces).
 *
 * @param pOrigin    the common origin x, y, z (read)
 * @param pDirection three planes of directions (read)
 * @param pDist      hitCount planes of width x height entries. Plane 0 in: the
 *                   largest distance of the first hit. Plane k out: distance of
 *                   hit k from the common origin
 * @param pHitUV     two arrays of hitCount planes: u and v of hit k in plane k
 * @param pTriIndex  hitCount planes: triangle of hit k, or -1
 * @param blockSize  width and height of the block
 * @param hitCount   number of planes; below 1 nothing is written
 * @param pContext   the scene (note: the last argument here)
 *
 * Every entry of every pTriIndex plane is first set to -1. The first hit is
 * found as by vekrIntersectEyeSO_32f; each further search restarts at the
 * previous hit point and is limited by the box alone (not by plane 0's
 * limit): its plane gets the distance 3.4028235e38 and -1 before the
 * search. A triangle already reported for a ray is not reported again (the
 * last eight hits are remembered ray by ray, the last four on the packet
 * path). A ray stops at its first search without a hit; later planes keep
 * -1 and their other entries. Packet path: direction planes, pDist, both
 * pHitUV arrays and pTriIndex aligned.
 *
 * @retval vekStsOk  always
 */
VEKR_API VekStatus VEK_CALL vekrIntersectMultipleSO_32f(const float* pOrigin, const float* const pDirection[3],
                                                        float* pDist, float* const pHitUV[2], int32_t* pTriIndex,
                                                        VekrSize blockSize, int32_t hitCount,
                                                        const VekrIntersectContext* pContext);

/**
 * vekrIntersectAnySO_32f - whether anything blocks the open segment from a
 * common origin (t = 0) to origin + direction (t = 1), for shadow rays.
 *
 * @param pOrigin    the common origin (the light) x, y, z (read)
 * @param pDirection three planes: full vectors from the origin to each target
 * @param pTriIndex  out: a triangle that blocks the ray, or -1
 * @param pMask      in: a ray is tested when its entry is 0 or more;
 *                   out: -1 for every ray found blocked, others unchanged
 * @param blockSize  width and height of the block
 * @param pContext   triangle records and kd-tree; the box is never read
 *
 * A triangle crossed at 0 < t < 1 blocks; one crossed exactly at the target
 * (t = 1) does not (on the packet path the estimated 1/det may put such a
 * crossing a rounding step to either side of 1). Every pTriIndex entry is
 * written (-1 for untested and unblocked rays). Afterwards a non-negative
 * mask entry means "lit". Which of several blockers is named is not fixed:
 * the packet path first tries the blocker of a neighbouring tile on every
 * tile. Packet path: pTriIndex, pMask and the direction planes aligned.
 *
 * Both paths walk every segment from the light to its target with no box
 * clip, through every cell it touches, including the zero-thickness cells
 * that hold triangles lying in a split plane (walls, floors, boxes). With
 * a build box, a triangle's part outside that box belongs to no leaf: a ray
 * that crosses only that part is found blocked only when its walk passes a
 * cell that lists the triangle, on either path alike.
 * Speed: with the box unread, a ray from a light far outside the scene also
 * walks the tree's open outer cells on its way in; keep lights near the
 * scene where that matters.
 *
 * @retval vekStsOk  always
 */
VEKR_API VekStatus VEK_CALL vekrIntersectAnySO_32f(const float* pOrigin, const float* const pDirection[3],
                                                   int32_t* pTriIndex, int32_t* pMask, VekrSize blockSize,
                                                   const VekrIntersectContext* pContext);

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* VEKR_INTERSECT_H */
