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

    Lanes<W> u = splat<W>(0.0f), v = splat<W>(0.0f);
    IntLanes<W> tri;
    for (int j = 0; j < W; ++j) tri[j] = _mm_set1_epi32(-1);
    MailboxT mailbox;
    const VekrTriangleAccel* accel = scene.accel;

    auto testLeaf = [&](const VekrKDTreeNode* leaf) {
        int32_t buf[3], count;
        const int32_t* list = leafTriangles(leaf, buf, &count);
        for (int32_t i = 0; i < count; ++i) {
            const int32_t n = list[i];
            const VekrTriangleAccel& R = accel[n];
            if (R.axes == 0 || mailbox.seen(n)) continue;
            TriangleLanes<W> h;
            if (!intersectTriangle(R, r, h)) continue;
            const __m128i number = _mm_set1_epi32(n);
            for (int j = 0; j < W; ++j) {
                const __m128 hit = _mm_and_ps(h.inside[j], inWindow(h.t[j], dist[j]));
                dist[j] = select(hit, h.t[j], dist[j]);
                u[j] = select(hit, h.u[j], u[j]);
                v[j] = select(hit, h.v[j], v[j]);
                tri[j] = select(hit, number, tri[j]);
            }
        }
        return false;
    };
    // Lanes whose hit lies before the region still on the stack are done.
    auto resume = [&](PacketSegment<W>& seg) {
        for (int j = 0; j < W; ++j) seg.active[j] = _mm_cmplt_ps(seg.tnear[j], dist[j]);
        return anyLane(seg.active) != 0;
    };
    traversePacket<W>(scene.root, code, r, s, testLeaf, resume);

    for (int j = 0; j < W; ++j) {
        const size_t at = base + j * stride;
        if (W == 2) {
            _mm_store_ps(out.dist + at, dist[j]);
            _mm_store_ps(out.u + at, u[j]);
            _mm_store_ps(out.v + at, v[j]);
            _mm_store_si128(reinterpret_cast<__m128i*>(out.tri + at), tri[j]);
        } else {
            // Masked lanes: the distance is unchanged unless hit, u and v
            // read 0 without a hit; the other lanes keep what they had.
            _mm_store_ps(out.dist + at, select(laneMask, dist[j], _mm_load_ps(out.dist + at)));
            _mm_store_ps(out.u + at, select(laneMask, u[j], _mm_load_ps(out.u + at)));
            _mm_store_ps(out.v + at, select(laneMask, v[j], _mm_load_ps(out.v + at)));
            __m128i* t = reinterpret_cast<__m128i*>(out.tri + at);
            _mm_store_si128(t, select(laneMask, tri[j], _mm_load_si128(t)));
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
