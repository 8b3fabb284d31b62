// Several single-ray walks kept in flight at once.
//
// A walk is a chain of dependent loads (node, child pair, triangle record),
// so with one ray at a time the memory system idles while each load is out.
// The ray-by-ray paths therefore step a few independent rays in turn, one
// node each: while one waits the others go on. Rays are started in index
// order and each touches only its own entries, so results do not depend on
// the interleaving.
#ifndef VEKR_INTERSECT_RAYS_IN_FLIGHT_H
#define VEKR_INTERSECT_RAYS_IN_FLIGHT_H

#include <cstddef>

namespace vekr {

// Four is where the gain levels off on the standard scenes for walks that
// visit each leaf as soon as they reach it.
constexpr int kRaysInFlight = 4;
// Walks that request a leaf's triangle records first and visit the leaf a
// step later (a KDTreeWalk whose visitor prepares leaves) have more waits to
// cover, and so do incoherent rays in a tree too large for the caches,
// where most steps wait on a node: on the larger standard scene such rays
// gain up to some two dozen walks in flight, while a tree that stays in
// the caches neither gains nor loses.
constexpr int kPreparingRaysInFlight = 24;

// Runs rays 0 .. count-1 through R::kInFlight objects of type R:
//   bool R::start(const Block&, const SceneView&, size_t i)  sets ray i up;
//                                    false when it is finished at once
//   bool R::step()                   one step; false once the ray is finished
template <class R, class Block, class Scene>
inline void walkRaysInFlight(size_t count, const Block& block, const Scene& scene)
{
    constexpr int kInFlight = R::kInFlight;
    R rays[kInFlight];
    bool live[kInFlight];
    size_t next = 0;
    auto startNext = [&](R& r) {
        while (next < count)
            if (r.start(block, scene, next++)) return true;
        return false;
    };
    int running = 0;
    for (int k = 0; k < kInFlight; ++k) running += live[k] = startNext(rays[k]);
    while (running > 0) {
        for (int k = 0; k < kInFlight; ++k) {
            if (!live[k] || rays[k].step()) continue;
            live[k] = startNext(rays[k]);
            running -= !live[k];
        }
    }
}

}  // namespace vekr

#endif
