// Front-to-back walk of a kd-tree by a single ray.
//
// The walk keeps the segment [tnear, tfar] of the ray parameter that lies in
// the current cell. At an inner node the split's ray parameter ts decides
// whether the segment lies wholly beyond the split (far child only), wholly
// before it (near child only) or straddles it (near child now, far child
// pushed with the part of the segment beyond ts). The comparisons carry a
// small tolerance so that a segment ending just at a split still visits both
// sides: a hit that lies on the plane is then found from either cell.
//
// Leaves are handed to a visitor that tests their triangles. After a leaf the
// walk stops when nothing is left on the stack, when the visitor says the ray
// is settled, or when the nearest hit so far lies within the part of the tree
// already visited: every cell still on the stack starts beyond the leaf's
// tfar, so nothing in it can be nearer.
//
// Visitor interface:
//   bool visitLeaf(const VekrKDTreeNode* leaf);  // true: the ray is settled
//   float reach() const;                         // nearest hit so far, or the
//                                                // ray's limit when none
#ifndef VEKR_INTERSECT_SCALAR_TRAVERSAL_H
#define VEKR_INTERSECT_SCALAR_TRAVERSAL_H

#include <cassert>
#include <cstdint>
#include <cstring>

#include <xmmintrin.h>

#include "scene/kdtree_node.h"

namespace vekr {

// The build limits trees to 50 levels and at most one cell per level waits
// on the stack, so this fixed stack never overflows on a valid tree.
constexpr int kTraversalStackSize = 50;

// Split tolerance of the closest-hit and any-hit walks.
constexpr float kSplitTolerance = 0.00001f;  // bits 0x3727C5AC

// What the walk needs of a ray beyond its segment.
struct TraversalRay {
    float o[3];
    float inv[3];  // reciprocal direction per axis
    int sign[3];   // 1 where the direction is negative: child 1 is met first
};

template <class Visitor>
inline void traverseKDTree(const VekrKDTreeNode* root, const TraversalRay& ray, float tnearIn, float tfarIn,
                           float splitTolerance, Visitor& visitor)
{
    struct Entry {
        const VekrKDTreeNode* node;
        float tfar;
    };
    // One spare slot: the far cell is written before it is known to be kept.
    Entry stack[kTraversalStackSize + 1];
    int top = 0;

    // The segment lives in the low lane of SSE registers so that the
    // comparisons give masks and selections directly, without moving
    // values between register files.
    const __m128 tolerance = _mm_set_ss(splitTolerance);
    __m128 tnear = _mm_set_ss(tnearIn);
    __m128 tfar = _mm_set_ss(tfarIn);
    const VekrKDTreeNode* node = root;
    for (;;) {
        while (!kd::isLeaf(*node)) {
            const int32_t a = kd::splitAxis(*node);
            const VekrKDTreeNode* pair = kd::child(node, 0);
            const __m128 split = _mm_set_ss(kd::splitPosition(*node));
            const __m128 ts = _mm_mul_ss(_mm_sub_ss(split, _mm_load_ss(&ray.o[a])), _mm_load_ss(&ray.inv[a]));
            // The three outcomes (far side only, near side only, both) are
            // close to random for incoherent rays, so they are taken by
            // arithmetic rather than by branches: the far cell is always
            // written to the free stack slot and kept only when straddling.
            // Straddling also covers ts undefined (NaN): both sides are visited.
            const __m128 farOnly = _mm_cmplt_ss(tolerance, _mm_sub_ss(tnear, ts));
            const __m128 nearOnly = _mm_cmplt_ss(tolerance, _mm_sub_ss(ts, tfar));
            const __m128 oneSide = _mm_or_ps(farOnly, nearOnly);
            const int32_t goFar = _mm_movemask_ps(farOnly) & 1;
            const int32_t straddle = (_mm_movemask_ps(oneSide) & 1) ^ 1;
            // The near child is the one on the side the ray comes from.
            const int32_t nearSide = ray.sign[a];
            const VekrKDTreeNode* farChild = pair + (nearSide ^ 1);
            assert(top < kTraversalStackSize);
            stack[top].node = farChild;
            _mm_store_ss(&stack[top].tfar, tfar);
            top += straddle;
            const __m128 nearTfar = _mm_max_ss(_mm_min_ss(ts, tfar), tnear);
            tfar = _mm_or_ps(_mm_and_ps(oneSide, tfar), _mm_andnot_ps(oneSide, nearTfar));
            node = pair + (nearSide ^ goFar);
            // A pushed far cell is taken up only after the near one, which
            // leaves time to bring in what it points at.
            __builtin_prefetch(kd::nextReadOf(pair + (nearSide ^ (goFar | straddle))));
        }

        const float leafTfar = _mm_cvtss_f32(tfar);
        if (visitor.visitLeaf(node)) return;
        if (top == 0) return;
        if (leafTfar >= visitor.reach()) return;
        const Entry& e = stack[--top];
        tnear = tfar;
        tfar = _mm_set_ss(e.tfar);
        node = e.node;
    }
}

}  // namespace vekr

#endif
