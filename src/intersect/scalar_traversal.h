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

// c ? x : y by masks: the compiler keeps these free of branches, which
// a plain conditional does not guarantee.
inline float pickIf(bool c, float x, float y)
{
    const uint32_t m = 0u - static_cast<uint32_t>(c);
    uint32_t bx, by;
    std::memcpy(&bx, &x, sizeof bx);
    std::memcpy(&by, &y, sizeof by);
    const uint32_t r = (bx & m) | (by & ~m);
    float f;
    std::memcpy(&f, &r, sizeof f);
    return f;
}
inline const VekrKDTreeNode* pickIf(bool c, const VekrKDTreeNode* x, const VekrKDTreeNode* y)
{
    const uintptr_t m = uintptr_t{0} - static_cast<uintptr_t>(c);
    return reinterpret_cast<const VekrKDTreeNode*>((reinterpret_cast<uintptr_t>(x) & m) |
                                                   (reinterpret_cast<uintptr_t>(y) & ~m));
}

template <class Visitor>
inline void traverseKDTree(const VekrKDTreeNode* root, const TraversalRay& ray, float tnear, float tfar,
                           float splitTolerance, Visitor& visitor)
{
    struct Entry {
        const VekrKDTreeNode* node;
        float tfar;
    };
    // One spare slot: the far cell is written before it is known to be kept.
    Entry stack[kTraversalStackSize + 1];
    int top = 0;

    const VekrKDTreeNode* node = root;
    for (;;) {
        while (!kd::isLeaf(*node)) {
            const int32_t a = kd::splitAxis(*node);
            const float ts = (kd::splitPosition(*node) - ray.o[a]) * ray.inv[a];
            const VekrKDTreeNode* nearChild = kd::child(node, ray.sign[a]);
            const VekrKDTreeNode* farChild = kd::child(node, 1 - ray.sign[a]);
            // The three outcomes (far side only, near side only, both) are
            // close to random for incoherent rays, so they are taken by
            // selection rather than by branches: the far cell is always
            // written to the free stack slot and kept only when straddling.
            // Straddling also covers ts undefined (NaN): both sides are visited.
            const bool farOnly = tnear - ts > splitTolerance;
            const bool nearOnly = ts - tfar > splitTolerance;
            const bool straddle = !(farOnly | nearOnly);
            assert(top < kTraversalStackSize);
            stack[top] = Entry{farChild, tfar};
            top += straddle;
            const float cut = ts < tfar ? ts : tfar;
            const float nearTfar = cut > tnear ? cut : tnear;
            tfar = pickIf(straddle, nearTfar, tfar);
            node = pickIf(farOnly, farChild, nearChild);
            // A pushed far cell is taken up only after the near one, which
            // leaves time to bring in what it points at.
            __builtin_prefetch(kd::nextReadOf(pickIf(straddle, farChild, node)));
        }

        const float leafTfar = tfar;
        if (visitor.visitLeaf(node)) return;
        if (top == 0) return;
        if (leafTfar >= visitor.reach()) return;
        const Entry& e = stack[--top];
        tnear = leafTfar;
        tfar = e.tfar;
        node = e.node;
    }
}

}  // namespace vekr

#endif
