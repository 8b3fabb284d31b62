// The kd-tree build entry: validates the arguments and the tagged build
// descriptor, then hands over to the builder the tag selects. The checks run
// in a fixed order and each returns at once, so a caller always sees the
// first failing one; nothing is written before a builder succeeds.

#include <cstdint>

#include "scene/kdtree_simple_build.h"
#include "scene/sah_build.h"
#include "vekcore.h"
#include "vekr.h"

namespace {

constexpr int32_t kMaxDepth = 50;

bool depthInRange(int32_t depth) { return depth >= 0 && depth <= kMaxDepth; }

// Written as two "outside" tests so that a NaN factor passes: it is neither
// below 0 nor above 1, and the split search then simply never splits.
bool factorOutOfRange(float f) { return f < 0.0f || f > 1.0f; }

// The limit word is megabytes; it is tested in half-megabyte units against
// 16 MB, both modulo 2^32, which refuses every limit below 32 MB (and the
// limits that wrap to such a value).
bool limitBelowMinimum(uint32_t megabytes) { return (megabytes << 19) < (1u << 24); }

VekStatus buildSAH(const float* vertices, const int32_t* triangles, int32_t vertexCount, int32_t triangleCount,
                   VekrKDTreeNode** tree, int32_t* size, const VekrKDTreeBuildParams& p)
{
    if (!depthInRange(p.maxDepth) || factorOutOfRange(p.splitFactor)) return vekStsBadParamErr;
    const uint32_t megabytes = static_cast<uint32_t>(p.memoryLimit);
    if (limitBelowMinimum(megabytes)) return vekStsNoMemErr;
    const uint32_t limitBytes = megabytes << 20;  // modulo 2^32: limits of 4096 MB and more wrap
    return vekr::buildKDTreeSAH(vertices, triangles, vertexCount, triangleCount, tree, size, p.splitFactor,
                                p.maxDepth, limitBytes, p.pBuildBox);
}

}  // namespace

extern "C" VEKR_API VekStatus VEK_CALL vekrKDTreeBuildAlloc(VekrKDTreeNode** pTree, const float* pVertex,
                                                           const int32_t* pTriangle, int32_t vertexCount,
                                                           int32_t triangleCount, int32_t* pSize,
                                                           const VekrKDTreeBuildParams* pParams)
{
    if (!pTree || !pVertex || !pTriangle || !pSize) return vekStsNullPtrErr;
    if (vertexCount < 0 || triangleCount < 0) return vekStsSizeErr;
    if (!pParams) return vekStsNullPtrErr;

    // Only the words the tag calls for are read: a simple descriptor may be
    // just the tag and the depth.
    switch (pParams->algorithm) {
    case vekrKDTreeBuildSimple:
        if (!depthInRange(pParams->maxDepth)) return vekStsBadParamErr;
        return vekr::buildKDTreeSimple(triangleCount, pTree, pSize);
    case vekrKDTreeBuildSAH:
        return buildSAH(pVertex, pTriangle, vertexCount, triangleCount, pTree, pSize, *pParams);
    default:
        return vekStsBadArgErr;
    }
}

extern "C" VEKR_API VekStatus VEK_CALL vekrKDTreeFree(VekrKDTreeNode* pTree)
{
    vekFree(pTree);
    return vekStsOk;
}
