// Leaf visitor of the single-ray closest-hit searches: tests a leaf's
// triangles in list order and writes every accepted hit at once into the
// ray's entries, so later triangles are measured against it.
//
// What differs between the calls is a Rules object:
//   static constexpr bool kDetThreshold;   refuse crossings with tiny |det|
//   bool passOver(int32_t n) const;        skip n before any arithmetic
//   bool accepts(float t, float present) const;
//   bool reported(int32_t n) const;        refuse n once it is near enough
//   void took(int32_t n);                  n is the present hit
#ifndef VEKR_INTERSECT_NEAREST_HIT_VISITOR_H
#define VEKR_INTERSECT_NEAREST_HIT_VISITOR_H

#include <cstddef>
#include <cstdint>
#include <optional>

#include "intersect/ray_block.h"
#include "intersect/rays_in_flight.h"
#include "intersect/scalar_traversal.h"
#include "intersect/triangle_test.h"
#include "scene/kdtree_node.h"

namespace vekr {

// The entries of ray i in every plane of p.
inline HitPlanes entriesOf(const HitPlanes& p, size_t i)
{
    return HitPlanes{p.dist + i, p.u + i, p.v + i, p.tri + i};
}

// Records of a scene of up to this many triangles (5 MB of them) are read
// over and over by a call's rays and mostly come from the caches; waiting a
// step for them costs more than it saves. Beyond it they mostly come from
// memory, and the wait pays: on the 1.05M-triangle standard scene a third
// of the time of a call of incoherent rays.
constexpr int32_t kPrepareFromTriangle = 1 << 17;

template <class Rules>
class NearestHitVisitor {
public:
    // at: the ray's own entries; the search starts from the distance there.
    NearestHitVisitor(const VekrTriangleAccel* accel, const float* o, const float* d, const HitPlanes& at, Rules& rules)
        : accel_(accel), o_(o), d_(d), at_(at), rules_(rules), dist_(*at.dist)
    {
    }

    bool visitLeaf(const VekrKDTreeNode* leaf)
    {
        int32_t buf[3], count;
        const int32_t* list = kd::leafTriangles(leaf, buf, &count);
        for (int32_t i = 0; i < count; ++i) test(list[i]);
        return false;
    }
    float reach() const { return dist_; }

    // Requests the records of a leaf's triangles ahead of its visit; worth
    // a step's wait only where a record lies far into the array (see
    // kPrepareFromTriangle).
    bool prepareLeaf(const VekrKDTreeNode* leaf) const
    {
        int32_t buf[3], count;
        const int32_t* list = kd::leafTriangles(leaf, buf, &count);
        int32_t farthest = -1;
        for (int32_t i = 0; i < count; ++i) farthest = farthest > list[i] ? farthest : list[i];
        if (farthest < kPrepareFromTriangle) return false;
        requestRecords(accel_, list, count);
        return true;
    }

private:
    void test(int32_t n)
    {
        if (rules_.passOver(n)) return;
        TriangleCrossing c;
        if (!crossTriangle<Rules::kDetThreshold>(accel_[n], o_, d_, c)) return;
        const float t = c.tn / c.det;
        if (!rules_.accepts(t, dist_) || rules_.reported(n)) return;
        dist_ = t;
        *at_.dist = t;
        *at_.u = c.w1 / c.det;
        *at_.v = c.w2 / c.det;
        *at_.tri = n;
        rules_.took(n);
    }

    const VekrTriangleAccel* accel_;
    const float* o_;
    const float* d_;
    HitPlanes at_;
    Rules& rules_;
    float dist_;
};

// One ray's closest-hit search as a walk that can be stepped (see
// rays_in_flight.h): the ray, its leaf visitor and its place in the tree.
// The rules object stays with the caller, so that it may outlive a search.
template <class Rules>
class NearestHitWalk {
public:
    // Its visitor prepares leaves, so more of these walks go in flight.
    static constexpr int kInFlight = kPreparingRaysInFlight;

    TraversalRay ray;
    float d[3];

    // Starts a search of [tnear, tfar] whose hits go to the entries at.
    void begin(const SceneView& scene, const HitPlanes& at, Rules& rules, float tnear, float tfar)
    {
        hits_.emplace(scene.accel, ray.o, d, at, rules);
        walk_.start(scene.root, tnear, tfar);
    }
    bool step(float splitTolerance) { return walk_.step(ray, splitTolerance, *hits_); }

private:
    std::optional<NearestHitVisitor<Rules>> hits_;
    KDTreeWalk walk_;
};

}  // namespace vekr

#endif
