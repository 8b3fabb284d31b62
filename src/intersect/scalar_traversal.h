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
// Leaves are handed to a visitor that tests their triangles; a visitor may
// first ask for a leaf's records and have it back a step later (below,
// kPreparesLeaves). After a leaf the walk stops when nothing is left on the
// stack, when the visitor says the ray is settled, or when the nearest hit
// so far lies within the part of the tree already visited: every cell still
// on the stack starts beyond the leaf's tfar, so nothing in it can be
// nearer.
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
#include <type_traits>
#include <utility>

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

// Whether a visitor can prepare a leaf before its visit:
//   bool prepareLeaf(const VekrKDTreeNode* leaf);  // true: worth a step's wait
template <class V, class = void>
constexpr bool kPreparesLeaves = false;
template <class V>
constexpr bool kPreparesLeaves<V, std::void_t<decltype(std::declval<V&>().prepareLeaf(nullptr))>> = true;

// The walk of one ray, advanced a step at a time: a caller may keep several
// walks in flight and step them in turn, so that while one waits for a node
// or a record from memory the others go on.
class KDTreeWalk {
public:
    void start(const VekrKDTreeNode* root, float tnear, float tfar)
    {
        node_ = root;
        top_ = 0;
        leafPrepared_ = false;
        tnear_ = _mm_set_ss(tnear);
        tfar_ = _mm_set_ss(tfar);
    }

    // One inner node, or one leaf and the resume after it. Returns false
    // once the walk has finished.
    template <class Visitor>
    bool step(const TraversalRay& ray, float splitTolerance, Visitor& visitor)
    {
        if (!kd::isLeaf(*node_)) {
            descend(ray, _mm_set_ss(splitTolerance));
            return true;
        }
        if constexpr (kPreparesLeaves<Visitor>) {
            // A leaf the visitor prepares is visited a step later: its
            // records are requested now and arrive while the other walks in
            // flight take their steps.
            if (!leafPrepared_ && visitor.prepareLeaf(node_)) {
                leafPrepared_ = true;
                return true;
            }
            leafPrepared_ = false;
        }
        const float leafTfar = _mm_cvtss_f32(tfar_);
        if (visitor.visitLeaf(node_)) return false;
        if (top_ == 0) return false;
        if (leafTfar >= visitor.reach()) return false;
        const Entry& e = stack_[--top_];
        tnear_ = tfar_;
        tfar_ = _mm_set_ss(e.tfar);
        node_ = e.node;
        return true;
    }

private:
    // The segment lives in the low lane of SSE registers so that the
    // comparisons give masks and selections directly, without moving
    // values between register files.
    void descend(const TraversalRay& ray, __m128 tolerance)
    {
        const int32_t a = kd::splitAxis(*node_);
        const VekrKDTreeNode* pair = kd::child(node_, 0);
        const __m128 split = _mm_set_ss(kd::splitPosition(*node_));
        const __m128 ts = _mm_mul_ss(_mm_sub_ss(split, _mm_load_ss(&ray.o[a])), _mm_load_ss(&ray.inv[a]));
        // The three outcomes (far side only, near side only, both) are
        // close to random for incoherent rays, so they are taken by
        // arithmetic rather than by branches: the far cell is always
        // written to the free stack slot and kept only when straddling.
        // Straddling also covers ts undefined (NaN): both sides are visited.
        const __m128 farOnly = _mm_cmplt_ss(tolerance, _mm_sub_ss(tnear_, ts));
        const __m128 nearOnly = _mm_cmplt_ss(tolerance, _mm_sub_ss(ts, tfar_));
        const __m128 oneSide = _mm_or_ps(farOnly, nearOnly);
        const int32_t goFar = _mm_movemask_ps(farOnly) & 1;
        const int32_t straddle = (_mm_movemask_ps(oneSide) & 1) ^ 1;
        // The near child is the one on the side the ray comes from.
        const int32_t nearSide = ray.sign[a];
        assert(top_ < kTraversalStackSize);
        stack_[top_].node = pair + (nearSide ^ 1);
        _mm_store_ss(&stack_[top_].tfar, tfar_);
        top_ += straddle;
        const __m128 nearTfar = _mm_max_ss(_mm_min_ss(ts, tfar_), tnear_);
        tfar_ = _mm_or_ps(_mm_and_ps(oneSide, tfar_), _mm_andnot_ps(oneSide, nearTfar));
        node_ = pair + (nearSide ^ goFar);
        // A pushed far cell is taken up only after the near one, which
        // leaves time to bring in what it points at.
        __builtin_prefetch(kd::nextReadOf(pair + (nearSide ^ (goFar | straddle))));
    }

    struct Entry {
        const VekrKDTreeNode* node;
        float tfar;
    };
    // One spare slot: the far cell is written before it is known to be kept.
    Entry stack_[kTraversalStackSize + 1];
    int top_ = 0;
    bool leafPrepared_ = false;
    const VekrKDTreeNode* node_ = nullptr;
    __m128 tnear_, tfar_;
};

// Walks the tree with one ray from start to finish.
template <class Visitor>
inline void traverseKDTree(const VekrKDTreeNode* root, const TraversalRay& ray, float tnear, float tfar,
                           float splitTolerance, Visitor& visitor)
{
    KDTreeWalk walk;
    walk.start(root, tnear, tfar);
    while (walk.step(ray, splitTolerance, visitor)) {
    }
}

}  // namespace vekr

#endif
