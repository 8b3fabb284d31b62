/**
 * @file vekr_scene.h
 * Scene bounds, triangle records and kd-tree build. Include <vekr.h> rather
 * than this file.
 */
#ifndef VEKR_SCENE_H
#define VEKR_SCENE_H

#include "vekr_base.h"

#ifdef __cplusplus
extern "C" {
#endif

/**
 * @defgroup scene Scene records and kd-trees
 * Everything the intersection functions read a scene from: its bounding
 * box, one VekrTriangleAccel record per triangle and a kd-tree block.
 *
 * Scene input arrays (owned by the caller, never kept):
 *   vertex array          3 floats per vertex (x, y, z), 12 bytes, no padding;
 *   triangle index array  4 int32 per triangle: vertex numbers of the first,
 *                         second and third vertex, then a word vekr never reads.
 * Bounding boxes are 6 floats: min x, min y, min z, max x, max y, max z.
 * Axis numbers: 0 = x, 1 = y, 2 = z.
 *
 * vekrTriangleNormal_32f and the SAH build run on ownGetNumThreads()
 * threads; everything else runs on the calling
 * thread. Every function may be called from several threads at once.
 *
 * Example: a scene ready for intersection (error handling shortened).
 * @code
 * float box[6];
 * vekrSetBoundBox_32f(vertices, vertexCount, box);
 * VekrTriangleAccel* accel = malloc(triangleCount * sizeof(VekrTriangleAccel));
 * vekrTriangleAccelInit(accel, vertices, triangles, triangleCount);   // 4 int32 per triangle
 * VekrKDTreeBuildParams params = { vekrKDTreeBuildSAH, 40, 0.5f, 256, NULL };
 * VekrKDTreeNode* tree;
 * int32_t treeBytes;
 * if (vekrKDTreeBuildAlloc(&tree, vertices, triangles, vertexCount, triangleCount, &treeBytes, &params)
 *     != vekStsOk)
 *     return;
 * VekrIntersectContext scene = { box, accel, tree };
 * ...                                                                 // intersect
 * vekrKDTreeFree(tree);
 * free(accel);
 * @endcode
 * @{
 */

/**
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
    int32_t axes; /**< projection axes k, u, v and the axis-aligned flag */
    float nu;     /**< N[u] / N[k] */
    float pk;     /**< C[k] */
    float nv;     /**< N[v] / N[k] */
    float pu;     /**< C[u] */
    float pv;     /**< C[v] */
    float e2u;    /**< E2[u] divided by the projected determinant */
    float e2v;    /**< E2[v] divided by the projected determinant */
    float e1u;    /**< E1[u] divided by the projected determinant */
    float e1v;    /**< E1[v] divided by the projected determinant */
} VekrTriangleAccel;

/**
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
    int32_t word0; /**< child offset and axis, or minus the distance to a leaf's list */
    int32_t word1; /**< split position, list length, or packed triangle numbers */
} VekrKDTreeNode;

/** What every intersection function reads the scene from; filled by the caller. */
typedef struct VekrIntersectContext {
    const float* pBound;                 /**< 6-float scene box (vekrSetBoundBox_32f) */
    const VekrTriangleAccel* pAccel;     /**< one record per triangle */
    const VekrKDTreeNode* pRootNode;     /**< tree block (vekrKDTreeBuildAlloc) */
} VekrIntersectContext;

/* Build algorithm tags: the first word of VekrKDTreeBuildParams. */
#define vekrKDTreeBuildSimple 0x499D3DC2u /**< build tag: one leaf with every triangle */
#define vekrKDTreeBuildSAH 0x2D07705Bu    /**< build tag: surface-area-heuristic tree */

/**
 * Tagged build descriptor. The simple build reads algorithm and maxDepth; the
 * SAH build reads all five fields.
 *   maxDepth     0 to 50
 *   splitFactor  0.0 to 1.0: how eagerly nodes are split
 *   memoryLimit  megabytes of working memory the SAH build may use. From 32
 *                on the descriptor is accepted, but the build takes its
 *                working memory in 16 MB blocks: even a small scene needs
 *                about 81 MB, and each triangle adds about 84 bytes more
 *                (see vekrKDTreeBuildAlloc for the exact figures)
 *   pBuildBox    6-float box the triangles are cut to, or NULL for the bounds
 *                of all vertices
 */
typedef struct VekrKDTreeBuildParams {
    uint32_t algorithm;     /**< vekrKDTreeBuildSimple or vekrKDTreeBuildSAH */
    int32_t maxDepth;       /**< 0 to 50 */
    float splitFactor;      /**< 0.0 to 1.0 (SAH only) */
    int32_t memoryLimit;    /**< megabytes of working memory, at least 32 (SAH only) */
    const float* pBuildBox; /**< 6-float box, or NULL (SAH only) */
} VekrKDTreeBuildParams;

/**
 * Scene bounding box. Scans vertexCount vertices (3 floats each) and writes
 * min x, min y, min z, max x, max y, max z to pBound, each side widened by
 * one margin e = 0.0001 * max(FLT_MIN, largest |bound|): relative to the
 * scene's largest coordinate magnitude, not to its extent, and never zero,
 * so a single vertex still gets a box of non-zero size. NaN coordinates are
 * ignored. A count of 0 or below writes the inverted box
 * (FLT_MAX - e, ..., -FLT_MAX + e, ...) with e = 0.0001 * FLT_MAX.
 * Runs on the calling thread.
 * @param pVertex      vertex array
 * @param vertexCount  number of vertices
 * @param pBound       6 floats out (not checked for NULL)
 * @retval vekStsNullPtrErr  pVertex is NULL
 * @retval vekStsOk          otherwise
 */
VEKR_API VekStatus VEK_CALL vekrSetBoundBox_32f(const float* pVertex, int32_t vertexCount, float* pBound);

/**
 * Size in bytes of one VekrTriangleAccel (40); allocate one per triangle.
 * @param pSize  receives the size
 * @retval vekStsNullPtrErr  pSize is NULL
 * @retval vekStsOk          otherwise
 */
VEKR_API VekStatus VEK_CALL vekrTriangleAccelGetSize(int32_t* pSize);

/**
 * Writes record j of pAccel for each triangle j < triangleCount of the scene
 * arrays. Computed in double precision and rounded to float once per field.
 * The projection axis k is that of the largest |N| component, ties going to
 * the lower axis. A triangle whose normal is exactly zero (repeated or
 * collinear vertices) gets ten zero words and is never hit. When both other
 * normal components are below 2^-52 in magnitude, nu = nv = 0 and bit 31 of
 * axes is set.
 * Checks nothing but the count: pointers are neither tested for NULL nor for
 * alignment. A count of 0 or below writes nothing. Runs on the calling
 * thread.
 * @param pAccel         triangleCount records out
 * @param pVertex        vertex array
 * @param pTriangle      triangle index array (4 int32 per triangle)
 * @param triangleCount  number of triangles
 * @retval vekStsOk  always
 */
VEKR_API VekStatus VEK_CALL vekrTriangleAccelInit(VekrTriangleAccel* pAccel, const float* pVertex,
                                                  const int32_t* pTriangle, int32_t triangleCount);

/**
 * Unit geometric normal of every triangle: N = (A - C) x (B - C) divided by
 * its length, computed in double precision and rounded to float once, three
 * interleaved floats (x, y, z) per triangle. N points towards a viewer who
 * sees A, B, C counter-clockwise and agrees in direction with the
 * VekrTriangleAccel record. A triangle whose squared normal length is below
 * 2^-52 gets (0, 0, 0).
 * Runs on ownGetNumThreads() OpenMP threads, each taking one contiguous block
 * of triangles; the result does not depend on the thread count.
 * @param pVertex        vertex array
 * @param pTriangle      triangle index array (4 int32 per triangle)
 * @param pNormal        3 * triangleCount floats out
 * @param triangleCount  number of triangles; 0 or below writes nothing
 * @retval vekStsNullPtrErr  any pointer is NULL (checked before the count)
 * @retval vekStsOk          otherwise
 */
VEKR_API VekStatus VEK_CALL vekrTriangleNormal_32f(const float* pVertex, const int32_t* pTriangle, float* pNormal,
                                                   int32_t triangleCount);

/**
 * Builds a kd-tree over the triangles as one block from vekMalloc, owned by
 * the caller until vekrKDTreeFree.
 * @param pTree          receives the tree block
 * @param pVertex        vertex array
 * @param pTriangle      triangle index array (4 int32 per triangle)
 * @param vertexCount    number of vertices
 * @param triangleCount  number of triangles
 * @param pSize          receives the size of the block in bytes
 * @param pParams        build descriptor; its algorithm tag decides which
 *                       fields are read
 *
 * With vekrKDTreeBuildSimple the tree is a single leaf listing every
 * triangle in ascending order (16 + 4 * triangleCount bytes); the arrays are
 * not read, so a vertex count of 0 is fine. With vekrKDTreeBuildSAH the
 * triangles are split by the surface-area heuristic.
 * SAH build: every vertex number of the triangles must lie in
 * 0 .. vertexCount - 1. Triangles are cut to pBuildBox when one is given
 * (those lying in its faces are inside); without one the cell is the bounds
 * of all vertices. Its working memory is charged against memoryLimit: the
 * build refuses to start (vekStsNoMemErr) below
 * 12 * vertexCount + 84 * triangleCount + 33,554,676 bytes, and it needs
 * beyond the 204-byte context, 48 bytes per triangle, an entry arena of
 * (36 * triangleCount rounded down to 16 MB) + 16 MB and a vertex arena of
 * 16 MB * (1 + 12 * vertexCount / 4 MB, truncated) at least three 16 MB
 * chunks charged 16 MB + 20 bytes each (nodes, leaf lists, polygons); when
 * they run out it returns vekStsMemAllocErr. On top of what the limit
 * counts, the build keeps its sorted split candidates in blocks of its own:
 * 116 bytes per triangle part of the root (180 on several threads) and a
 * save area that grows with the pending nodes' candidates (about 48 bytes
 * per pending part: about 170 MB in all for a million-triangle scene), and
 * when built on several threads, such blocks per thread for the subtrees
 * in hand.
 * Scenes of 16384 triangles and more are built on ownGetNumThreads()
 * threads, large subtrees as OpenMP tasks; the tree, and whether the
 * limit suffices, are byte for byte those of one thread whatever number of
 * threads is asked for or granted. A vekMalloc that refuses one of its
 * working blocks also gives vekStsNoMemErr.
 *
 * Checks, in this order, returning the first failure:
 * @retval vekStsNullPtrErr   pTree, pVertex, pTriangle or pSize is NULL;
 *                            after the size check, pParams is NULL
 * @retval vekStsSizeErr      vertexCount or triangleCount is negative
 *                            (checked before pParams)
 * @retval vekStsBadArgErr    the tag is neither known algorithm (tested before
 *                            any other field, since the tag decides which
 *                            fields exist: an unknown tag with maxDepth -1
 *                            gives this)
 * @retval vekStsBadParamErr  maxDepth outside 0..50; for the SAH tag also a
 *                            splitFactor below 0 or above 1 (NaN is accepted
 *                            and then never splits)
 * @retval vekStsNoMemErr     SAH tag: memoryLimit below 32 MB. The limit is
 *                            taken modulo 4096 MB (a 32-bit byte count), so
 *                            limits of 4096 MB and more wrap around.
 *
 * A failing build returns vekStsNoMemErr (the block could not be allocated),
 * and for the SAH tag also vekStsMemAllocErr (the memory limit was exhausted
 * during the build) or vekStsErr (a split did not send the triangle parts
 * to the sides its search counted).
 * vekStsErr comes from the scene, not from chance: the build sorts and
 * splits triangles by comparing their coordinates, which takes ordinary
 * finite numbers. The scenes that meet it have non-finite coordinates (a
 * NaN or an infinity in a vertex that a triangle uses; without pBuildBox a
 * NaN triangle is enough) or extreme ones (a box reaching +-FLT_MAX, whose
 * cell extents and areas overflow to infinity). The build fails cleanly on
 * them rather than return a tree that loses triangles; applications that
 * load untrusted geometry check every vertex for finiteness, and the box
 * for +-FLT_MAX, before building.
 * On failure pTree and pSize are left untouched and nothing stays allocated.
 * @retval vekStsOk  the tree was built
 */
VEKR_API VekStatus VEK_CALL vekrKDTreeBuildAlloc(VekrKDTreeNode** pTree, const float* pVertex, const int32_t* pTriangle,
                                                 int32_t vertexCount, int32_t triangleCount, int32_t* pSize,
                                                 const VekrKDTreeBuildParams* pParams);

/**
 * Releases a tree block from vekrKDTreeBuildAlloc by passing it to vekFree
 * unchanged (NULL is accepted).
 * @param pTree  the tree block, or NULL
 * @retval vekStsOk  always
 */
VEKR_API VekStatus VEK_CALL vekrKDTreeFree(VekrKDTreeNode* pTree);

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* VEKR_SCENE_H */
