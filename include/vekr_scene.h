/* vekr_scene.h - include <vekr.h> rather than this file. */
#ifndef VEKR_SCENE_H
#define VEKR_SCENE_H

#include "vekr_base.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Scene input arrays (owned by the caller, never kept):
 *   vertex array          3 floats per vertex (x, y, z), 12 bytes, no padding;
 *   triangle index array  4 int32 per triangle: vertex numbers of the first,
 *                         second and third vertex, then a word vekr never reads.
 * Bounding boxes are 6 floats: min x, min y, min z, max x, max y, max z.
 * Axis numbers: 0 = x, 1 = y, 2 = z.
 */

/*
 * Per-triangle record for the intersection test (40 bytes). With A, B, C the
 * first, second and third vertex, E1 = A - C, E2 = B - C, N = E1 x E2, k the
 * axis of the largest |N| component and u, v the other two:
 *   axes  bits 4-5 k, bits 2-3 u, bits 0-1 v; bit 31 when N lies along k;
 *         0 for a degenerate triangle (never hit);
 *   nu, nv  N[u] / N[k], N[v] / N[k];   pk, pu, pv  C[k], C[u], C[v];
 *   e2u, e2v, e1u, e1v  E2 and E1 components divided by the projected
 *         determinant.
 */
typedef struct VekrTriangleAccel {
    int32_t axes;
    float nu;
    float pk;
    float nv;
    float pu;
    float pv;
    float e2u;
    float e2v;
    float e1u;
    float e1v;
} VekrTriangleAccel;

/*
 * One kd-tree node: two 32-bit words. The tree is a single block of nodes
 * followed by triangle lists; it holds only relative offsets, so it may be
 * copied or moved whole.
 *   inner node  word0 >= 0: (byte offset to the child pair) | axis (bits 0-1);
 *               word1: split position (float bits)
 *   list leaf   word0 < 0: -(byte distance to the list); word1: count >= 0
 *   inline leaf word0 < 0 and word1 < 0: 1 to 3 triangle numbers packed in the
 *               two words; count = word1 & 3
 */
typedef struct VekrKDTreeNode {
    int32_t word0;
    int32_t word1;
} VekrKDTreeNode;

/* What every intersection function reads the scene from; filled by the caller. */
typedef struct VekrIntersectContext {
    const float* pBound;                 /* 6-float scene box (vekrSetBoundBox_32f) */
    const VekrTriangleAccel* pAccel;     /* one record per triangle */
    const VekrKDTreeNode* pRootNode;     /* tree block (vekrKDTreeBuildAlloc) */
} VekrIntersectContext;

/* Build algorithm tags: the first word of VekrKDTreeBuildParams. */
#define vekrKDTreeBuildSimple 0x499D3DC2u /* one leaf with every triangle */
#define vekrKDTreeBuildSAH 0x2D07705Bu    /* surface-area-heuristic tree */

/*
 * Tagged build descriptor. The simple build reads algorithm and maxDepth; the
 * SAH build reads all five fields.
 *   maxDepth     0 to 50
 *   splitFactor  0.0 to 1.0: how eagerly nodes are split
 *   memoryLimit  megabytes of working memory the SAH build may use, >= 32
 *   pBuildBox    6-float box the triangles are cut to, or NULL for the bounds
 *                of all vertices
 */
typedef struct VekrKDTreeBuildParams {
    uint32_t algorithm;
    int32_t maxDepth;
    float splitFactor;
    int32_t memoryLimit;
    const float* pBuildBox;
} VekrKDTreeBuildParams;

#ifdef __cplusplus
}
#endif

#endif /* VEKR_SCENE_H */
