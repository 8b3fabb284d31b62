// Closest hit ray by ray, rays with their own origins.
//
// Each ray is clipped to the scene box, then walks the tree near side first.
// Every triangle that beats the present hit is written out at once, so later
// triangles are measured against it. A candidate must be nearer than the
// present hit by more than a small margin: among hits that close together
// (a shared edge, coplanar overlaps) the one met first in traversal and list
// order stands, which keeps the result stable under tiny changes of the
// arithmetic. The triangle hit last is skipped outright, because a
// triangle that straddles a split sits in several leaves.
#include "intersect/scalar_intersect_mo.h"

#include <cstddef>
#include <cstdint>

#include "intersect/nearest_hit_visitor.h"
#include "intersect/ray_box_clip.h"
#include "intersect/rays_in_flight.h"
#include "intersect/scalar_traversal.h"
#include "intersect/triangle_test.h"
#include "scene/kdtree_node.h"

namespace vekr {

namespace {

// Added to the box exit so that a hit just on the far face still lies inside
// the segment the walk visits.
constexpr float kExitSlack = 0.0001f;  // bits 0x38D1B717

// How much nearer a candidate must be than the present hit.
constexpr float kAcceptMargin = 0.00001f;

// The triangle hit last is passed over outright (a triangle that straddles
// a split sits in several leaves), grazing crossings are refused, and a
// candidate must beat the present hit by the margin.
class ClosestRulesMO {
public:
    static constexpr bool kDetThreshold = true;
    bool passOver(int32_t n) const { return n == last_; }
    bool accepts(float t, float present) const { return present - kAcceptMargin > t && t > 0.0f; }
    bool reported(int32_t) const { return false; }
    void took(int32_t n) { last_ = n; }

private:
    int32_t last_ = -1;
};

// One ray of the block on its way through the tree.
class RayInFlight {
public:
    static constexpr int kInFlight = NearestHitWalk<ClosestRulesMO>::kInFlight;

    // Sets up ray i; false when it is finished at once (it misses the box).
    bool start(const RayBlockMO& b, const SceneView& scene, size_t i)
    {
        b.hit.tri[i] = -1;
        for (int a = 0; a < 3; ++a) {
            search_.ray.o[a] = b.origin[a][i];
            search_.d[a] = b.dir[a][i];
        }
        const float tmax = b.hit.dist[i];
        float tnear = 0.0f, tfar = tmax;
        if (!clipToBoxMO(scene.box, search_.d, tmax, search_.ray, tnear, tfar)) return false;
        rules_ = ClosestRulesMO();
        search_.begin(scene, entriesOf(b.hit, i), rules_, tnear, tfar + kExitSlack);
        return true;
    }

    // One step of the walk; false once the ray is finished.
    bool step() { return search_.step(kSplitTolerance); }

private:
    ClosestRulesMO rules_;
    NearestHitWalk<ClosestRulesMO> search_;
};

}  // namespace

void intersectScalarMO(const RayBlockMO& b, const SceneView& scene)
{
    if (b.height < 1 || b.width < 1) return;
    walkRaysInFlight<RayInFlight>(static_cast<size_t>(b.width) * static_cast<size_t>(b.height), b, scene);
}

}  // namespace vekr
