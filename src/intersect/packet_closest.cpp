// Closest-hit packet kernels and their tile loop.
#include <cstddef>
#include <cstdint>

#include "intersect/packet_kernels.h"
#include "intersect/packet_tiles.h"
#include "intersect/packet_traversal.h"

namespace vekr::isect::VEKR_ISA_NS {
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
void closestKernel(const RayBlockView& in, size_t base, int code, const Lanes<W>& laneMask, const SceneView& scene,
                   const ClosestOutputs& out)
{
    const size_t stride = static_cast<size_t>(in.width);
    PacketRays<W> r = loadPacketRays<W>(in, base);
    r.computeInverse();
    Lanes<W> dist = loadRows<W>(out.dist + base, stride);
    if constexpr (W == 1) dist = dist & laneMask;
    PacketSegment<W> s;
    s.tfar = dist;
    if (!clipToBox(r, scene.box, s)) return;
    addExitMargin(s);

    NearestLanes<W> hit(dist);
    searchNearest<W, MailboxT>(scene, code, r, s, hit);

    if constexpr (W == 2) {
        storeRows<W>(out.dist + base, stride, hit.dist);
        storeRows<W>(out.u + base, stride, hit.u);
        storeRows<W>(out.v + base, stride, hit.v);
        storeRows<W>(out.tri + base, stride, hit.tri);
    } else {
        // Masked lanes: the distance is unchanged unless hit, u and v read
        // 0 without a hit; the other lanes keep what they had.
        storeRowsMasked<W>(out.dist + base, stride, laneMask, hit.dist);
        storeRowsMasked<W>(out.u + base, stride, laneMask, hit.u);
        storeRowsMasked<W>(out.v + base, stride, laneMask, hit.v);
        storeRowsMasked<W>(out.tri + base, stride, laneMask, hit.tri);
    }
}

void closestTiles(const RayBlockView& in, const ClosestOutputs& out, const SceneView& scene,
                  int32_t height, bool eightRay)
{
    runDistanceTiles(
        in, out.dist, TriPlanes{out.tri, 0, 1}, height, eightRay,
        [&](size_t base, int code) { closestKernel<2, Mailbox>(in, base, code, allLanes<2>(), scene, out); },
        [&](size_t base, int code, __m128 lanes) {
            closestKernel<1, NoMailbox>(in, base, code, Lanes<1>{lanes}, scene, out);
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

}  // namespace vekr::isect::VEKR_ISA_NS
