// Closest-hit packet kernels and their tile loop.
#include <cstddef>
#include <cstdint>

#include "intersect/packet_path.h"
#include "intersect/packet_tiles.h"
#include "intersect/packet_traversal.h"

namespace vekr::isect {
namespace {

struct ClosestOutputs {
    float* dist;
    float* u;
    float* v;
    int32_t* tri;
};

// One packet: W = 2 is two tile rows with every lane taking part, W = 1 one
// row restricted to laneMask. Lanes outside the mask search with a present
// distance of 0, so they can never be hit, and are not written.
template <int W, class MailboxT>
void closestKernel(const RayBlockView& in, size_t base, int code, __m128 laneMask, const SceneView& scene,
                   const ClosestOutputs& out)
{
    const size_t stride = static_cast<size_t>(in.width);
    PacketRays<W> r = loadPacketRays<W>(in, base);
    r.computeInverse();
    Lanes<W> dist;
    for (int j = 0; j < W; ++j) {
        dist[j] = _mm_load_ps(out.dist + base + j * stride);
        if (W == 1) dist[j] = _mm_and_ps(dist[j], laneMask);
    }
    PacketSegment<W> s;
    s.tfar = dist;
    if (!clipToBox(r, scene.box, s)) return;
    addExitMargin(s);

    NearestLanes<W> hit(dist);
    searchNearest<W, MailboxT>(scene, code, r, s, hit);

    for (int j = 0; j < W; ++j) {
        const size_t at = base + j * stride;
        if (W == 2) {
            _mm_store_ps(out.dist + at, hit.dist[j]);
            _mm_store_ps(out.u + at, hit.u[j]);
            _mm_store_ps(out.v + at, hit.v[j]);
            _mm_store_si128(reinterpret_cast<__m128i*>(out.tri + at), hit.tri[j]);
        } else {
            // Masked lanes: the distance is unchanged unless hit, u and v
            // read 0 without a hit; the other lanes keep what they had.
            _mm_store_ps(out.dist + at, select(laneMask, hit.dist[j], _mm_load_ps(out.dist + at)));
            _mm_store_ps(out.u + at, select(laneMask, hit.u[j], _mm_load_ps(out.u + at)));
            _mm_store_ps(out.v + at, select(laneMask, hit.v[j], _mm_load_ps(out.v + at)));
            __m128i* t = reinterpret_cast<__m128i*>(out.tri + at);
            _mm_store_si128(t, select(laneMask, hit.tri[j], _mm_load_si128(t)));
        }
    }
}

void closestTiles(const RayBlockView& in, const ClosestOutputs& out, const SceneView& scene,
                  int32_t height, bool eightRay)
{
    fillMinusOne(out.tri, blockEntries(in.width, height));
    const __m128 allLanes = _mm_castsi128_ps(_mm_set1_epi32(-1));
    runDistanceTiles(
        in, out.dist, height, eightRay,
        [&](size_t base, int code) { closestKernel<2, Mailbox>(in, base, code, allLanes, scene, out); },
        [&](size_t base, int code, __m128 lanes) {
            closestKernel<1, NoMailbox>(in, base, code, lanes, scene, out);
        });
}

}  // namespace

void packetClosestMO(const RayBlockMO& b, const SceneView& scene)
{
    const RayBlockView in{{b.origin[0], b.origin[1], b.origin[2]}, nullptr, {b.dir[0], b.dir[1], b.dir[2]}, b.width};
    closestTiles(in, ClosestOutputs{b.hit.dist, b.hit.u, b.hit.v, b.hit.tri}, scene, b.height, true);
}

void packetClosestSO(const RayBlockSO& b, const SceneView& scene)
{
    const RayBlockView in{{nullptr, nullptr, nullptr}, b.origin, {b.dir[0], b.dir[1], b.dir[2]}, b.width};
    closestTiles(in, ClosestOutputs{b.hit.dist, b.hit.u, b.hit.v, b.hit.tri}, scene, b.height, false);
}

}  // namespace vekr::isect
