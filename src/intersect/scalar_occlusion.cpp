// Occlusion, ray by ray, from a common origin.
//
// A shadow ray runs from the light (t = 0) to the lit point (t = 1); any
// triangle crossed strictly between the two blocks it, and the walk stops at
// the first one found. The segment is fixed, so the box is never consulted.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "intersect/ray_box_clip.h"
#include "intersect/rays_in_flight.h"
#include "intersect/scalar_shared_origin.h"
#include "intersect/scalar_traversal.h"
#include "intersect/triangle_test.h"
#include "scene/kdtree_node.h"

namespace vekr {

namespace {

// The walk covers the segment up to the target plus the usual exit slack.
constexpr float kOcclusionExit = 1.0001f;  // bits 0x3F800347

// Reciprocals and signs of a ray without a box clip: a tiny component keeps
// its own sign and gets the finite stand-in reciprocal.
TraversalRay occlusionRay(const float origin[3], const float d[3])
{
    TraversalRay ray;
    for (int a = 0; a < 3; ++a) {
        ray.o[a] = origin[a];
        ray.sign[a] = d[a] < 0.0f ? 1 : 0;
        ray.inv[a] = std::fabs(d[a]) <= kTinyComponent ? kTinyInverseMO : 1.0f / d[a];
    }
    return ray;
}

bool crossesWithinTarget(const VekrTriangleAccel& r, const float o[3], const float d[3], float* t)
{
    TriangleCrossing c;
    if (!crossTriangle<false>(r, o, d, c)) return false;
    *t = c.tn / c.det;
    return true;
}

// Settles the ray at the first triangle crossed in 0 < t < 1.
class FirstBlocker {
public:
    FirstBlocker(const VekrTriangleAccel* accel, const float* o, const float* d) : accel_(accel), o_(o), d_(d) {}

    bool visitLeaf(const VekrKDTreeNode* leaf)
    {
        int32_t buf[3], count;
        const int32_t* list = kd::leafTriangles(leaf, buf, &count);
        for (int32_t k = 0; k < count; ++k) {
            float t;
            if (crossesWithinTarget(accel_[list[k]], o_, d_, &t) && t < 1.0f && t > 0.0f) {
                blocker_ = list[k];
                return true;
            }
        }
        return false;
    }
    float reach() const { return 1.0f; }
    int32_t blocker() const { return blocker_; }

private:
    const VekrTriangleAccel* accel_;
    const float* o_;
    const float* d_;
    int32_t blocker_ = -1;
};

// Keeps the nearest crossing in 0 < t < 1; a candidate must be nearer by
// more than 2^-23, so among near-equal crossings the first found stays.
class NearestBlocker {
public:
    NearestBlocker(const VekrTriangleAccel* accel, const float* o, const float* d) : accel_(accel), o_(o), d_(d) {}

    bool visitLeaf(const VekrKDTreeNode* leaf)
    {
        kd::forEachLeafTriangle(leaf, [this](int32_t n) {
            float t;
            if (crossesWithinTarget(accel_[n], o_, d_, &t) && best_ - t > kTinyComponent && t > 0.0f) {
                best_ = t;
                blocker_ = n;
            }
        });
        return false;
    }
    float reach() const { return best_; }
    int32_t blocker() const { return blocker_; }

private:
    const VekrTriangleAccel* accel_;
    const float* o_;
    const float* d_;
    float best_ = 1.0f;
    int32_t blocker_ = -1;
};

// Occlusion of one ray; a blocked ray gets its blocker and mask -1.
class OcclusionRay {
public:
    static constexpr int kInFlight = kRaysInFlight;

    bool start(const OcclusionBlock& b, const SceneView& scene, size_t i)
    {
        b.tri[i] = -1;
        if (b.mask[i] < 0) return false;
        for (int a = 0; a < 3; ++a) d_[a] = b.dir[a][i];
        ray_ = occlusionRay(b.origin, d_);
        first_.emplace(scene.accel, ray_.o, d_);
        walk_.start(scene.root, 0.0f, kOcclusionExit);
        b_ = &b;
        i_ = i;
        return true;
    }

    bool step()
    {
        if (walk_.step(ray_, kSplitTolerance, *first_)) return true;
        if (first_->blocker() >= 0) {
            b_->mask[i_] = -1;
            b_->tri[i_] = first_->blocker();
        }
        return false;
    }

private:
    const OcclusionBlock* b_ = nullptr;
    size_t i_ = 0;
    float d_[3];
    TraversalRay ray_;
    std::optional<FirstBlocker> first_;
    KDTreeWalk walk_;
};

}  // namespace

void occlusionScalar(const OcclusionBlock& b, const SceneView& scene)
{
    if (b.height < 1 || b.width < 1) return;
    walkRaysInFlight<OcclusionRay>(static_cast<size_t>(b.width) * static_cast<size_t>(b.height), b, scene);
}

int32_t nearestOccluder(const SceneView& scene, const float origin[3], const float d[3])
{
    const TraversalRay ray = occlusionRay(origin, d);
    NearestBlocker nearest(scene.accel, ray.o, d);
    traverseKDTree(scene.root, ray, 0.0f, kOcclusionExit, kSplitTolerance, nearest);
    return nearest.blocker();
}

}  // namespace vekr
