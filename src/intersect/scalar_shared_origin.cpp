// Closest and successive hits, ray by ray, from a common origin.
//
// These calls serve camera rays and their continuations, so the rules lean
// towards exactness rather than stability: slab distances are divided, no
// grazing ray is refused for its small determinant, and any candidate
// strictly nearer than the present hit replaces it.
#include <cstddef>
#include <cstdint>

#include "intersect/scalar_shared_origin.h"
#include "intersect/nearest_hit_visitor.h"
#include "intersect/rays_in_flight.h"
#include "intersect/scalar_traversal.h"
#include "intersect/shared_origin_clip.h"

namespace vekr {

namespace {

constexpr float kExitSlack = 0.0001f;  // bits 0x38D1B717

// Successive searches start on the previous hit's plane; the wider split
// tolerance keeps a restarted ray from slipping past a split it lies on.
constexpr float kSuccessiveSplitTolerance = 0.00019f;  // bits 0x39473ABD

constexpr float kFloatMax = 3.4028235e38f;  // bits 0x7F7FFFFF

// Closest hit from the origin: no determinant threshold, and any candidate
// strictly nearer than the present hit replaces it.
struct ClosestRules {
    static constexpr bool kDetThreshold = false;
    bool passOver(int32_t) const { return false; }
    bool accepts(float t, float present) const { return t < present && t > 0.0f; }
    bool reported(int32_t) const { return false; }
    void took(int32_t) {}
};

// Successive hits: as the closest hit, and a triangle already hit by this
// ray is not reported again. The hits of the last eight searches are kept;
// the most recent one is passed over before any arithmetic, the others once
// a candidate is near enough to matter.
class SuccessiveRules : public ClosestRules {
public:
    bool passOver(int32_t n) const { return n == last_; }
    bool reported(int32_t n) const
    {
        const int32_t filled = searches_ < 8 ? searches_ : 8;
        for (int32_t s = 0; s < filled; ++s)
            if (slot_[s] == n) return true;
        return false;
    }
    // Called after each search that found triangle n.
    void add(int32_t n)
    {
        slot_[searches_ & 7] = n;
        ++searches_;
        last_ = n;
    }

private:
    int32_t slot_[8] = {};
    int32_t searches_ = 0;
    int32_t last_ = -1;
};

// Ray i from the common origin, clipped to the box from [0, tmax]; false
// when it misses the box.
bool startRay(const float* origin, const float* const dir[3], size_t i, const OriginBox& box, float tmax,
              TraversalRay& ray, float d[3], float& tnear, float& tfar)
{
    for (int a = 0; a < 3; ++a) {
        ray.o[a] = origin[a];
        d[a] = dir[a][i];
    }
    return clipToBoxSO(box, d, tmax, ray, tnear, tfar);
}

// Closest hit of one ray from the common origin.
class ClosestRay {
public:
    static constexpr int kInFlight = NearestHitWalk<ClosestRules>::kInFlight;

    bool start(const RayBlockSO& b, const SceneView& scene, size_t i)
    {
        b.hit.tri[i] = -1;
        float tnear, tfar;
        if (!startRay(b.origin, b.dir, i, OriginBox(scene.box, b.origin), b.hit.dist[i], search_.ray, search_.d,
                      tnear, tfar))
            return false;
        search_.begin(scene, entriesOf(b.hit, i), rules_, tnear, tfar + kExitSlack);
        return true;
    }
    bool step() { return search_.step(kSplitTolerance); }

private:
    ClosestRules rules_;
    NearestHitWalk<ClosestRules> search_;
};

// Successive hits of one ray: after each hit the ray restarts at the hit
// point, limited by the box alone, until hitCount hits or a search that
// finds nothing.
class SuccessiveRay {
public:
    static constexpr int kInFlight = NearestHitWalk<SuccessiveRules>::kInFlight;

    bool start(const SuccessiveBlock& b, const SceneView& scene, size_t i)
    {
        float tnear, tfar;
        if (!startRay(b.origin, b.dir, i, OriginBox(scene.box, b.origin), b.hit.dist[i], search_.ray, search_.d,
                      tnear, tfar))
            return false;
        b_ = &b;
        scene_ = &scene;
        i_ = i;
        k_ = 0;
        earlier_ = SuccessiveRules();
        search(tnear, tfar + kExitSlack);
        return true;
    }

    bool step()
    {
        if (search_.step(kSuccessiveSplitTolerance)) return true;
        const size_t count = b_->planeEntries();
        const HitPlanes at = entriesOf(b_->hit, static_cast<size_t>(k_) * count + i_);
        if (*at.tri == -1) return false;

        // Restart at the hit point; the plane records the distance from
        // the common origin.
        const float t = *at.dist;
        TraversalRay& ray = search_.ray;
        for (int a = 0; a < 3; ++a) ray.o[a] = ray.o[a] + search_.d[a] * t;
        if (k_ >= 1) *at.dist = *at.dist + *(at.dist - count);
        earlier_.add(*at.tri);
        if (k_ + 1 >= b_->hitCount) return false;

        // Later hits are limited by the box alone.
        const HitPlanes next = entriesOf(at, count);
        *next.tri = -1;
        *next.dist = kFloatMax;
        float tfar = kFloatMax;
        for (int a = 0; a < 3; ++a) {
            const float t0 = (scene_->box[a] - ray.o[a]) * ray.inv[a];
            const float t1 = (scene_->box[a + 3] - ray.o[a]) * ray.inv[a];
            const float exit = t0 > t1 ? t0 : t1;
            tfar = exit < tfar ? exit : tfar;
        }
        ++k_;
        search(0.0f, tfar + kExitSlack);
        return true;
    }

private:
    // Starts search k_ over [tnear, tfar], writing into plane k_.
    void search(float tnear, float tfar)
    {
        search_.begin(*scene_, entriesOf(b_->hit, static_cast<size_t>(k_) * b_->planeEntries() + i_), earlier_,
                      tnear, tfar);
    }

    const SuccessiveBlock* b_ = nullptr;
    const SceneView* scene_ = nullptr;
    size_t i_ = 0;
    int32_t k_ = 0;
    SuccessiveRules earlier_;
    NearestHitWalk<SuccessiveRules> search_;
};

}  // namespace

void intersectScalarSO(const RayBlockSO& b, const SceneView& scene)
{
    if (b.height < 1 || b.width < 1) return;
    walkRaysInFlight<ClosestRay>(static_cast<size_t>(b.width) * static_cast<size_t>(b.height), b, scene);
}

void successiveHitsScalar(const SuccessiveBlock& b, const SceneView& scene)
{
    if (b.height < 1 || b.width < 1 || b.hitCount < 1) return;
    const size_t count = b.planeEntries();
    for (size_t i = 0; i < count * static_cast<size_t>(b.hitCount); ++i) b.hit.tri[i] = -1;
    walkRaysInFlight<SuccessiveRay>(count, b, scene);
}

}  // namespace vekr
