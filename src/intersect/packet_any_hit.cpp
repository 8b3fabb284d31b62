// Any-hit packet path: occlusion of the open segments 0 < t < 1.
//
// Shadow rays of neighbouring pixels are often blocked by the same
// triangle, so the tile loop keeps one occluder from tile to tile and tries
// it on a whole tile before any tree walk; only the rays it leaves unblocked
// go through the packet kernels.
#include <cstddef>
#include <cstdint>

#include "intersect/packet_kernels.h"
#include "intersect/packet_tiles.h"
#include "intersect/packet_traversal.h"
#include "intersect/scalar_shared_origin.h"

namespace vekr::isect::VEKR_ISA_NS {
namespace {

struct OcclusionPlanes {
    int32_t* tri;
    int32_t* mask;
};

// Lanes of a row whose mask entry is not negative.
inline __m128 notNegative(const int32_t* mask)
{
    return _mm_castsi128_ps(
        _mm_cmpgt_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(mask)), _mm_set1_epi32(-1)));
}

// Marks the lanes of blocker that hold a number (>= 0) as blocked by that
// triangle, in the W rows from at.
template <int W>
inline void markBlocked(const OcclusionPlanes& out, size_t at, size_t stride, const IntLanes<W>& blocker)
{
    const Lanes<W> blocked = greater(blocker, splatInt<W>(-1));
    storeRowsMasked<W>(out.tri + at, stride, blocked, blocker);
    storeRowsMasked<W>(out.mask + at, stride, blocked, splatInt<W>(-1));
}

// One packet over [0, 1.0001] from the light, with no box clip: the walk
// must pass every cell the segment touches, flat ones included, because a
// triangle lying in a split plane is listed only in the zero-thickness cell
// there. searching: the lanes still looking for a blocker. A W = 1 packet
// keeps the first blocker of a lane; in a W = 2 packet a triangle tested
// later for the other rays may replace it.
template <int W>
void anyHitKernel(const RayBlockView& in, size_t base, int code, const Lanes<W>& lanes,
                  const SceneView& scene, const OcclusionPlanes& out)
{
    const size_t stride = static_cast<size_t>(in.width);
    PacketRays<W> r = loadPacketRays<W>(in, base);
    r.computeInverse();
    PacketSegment<W> s;
    Lanes<W> searching = lanes;
    s.tnear = zeros<W>();
    s.tfar = splat<W>(PacketConst::anyHitExit());
    s.active = searching;
    IntLanes<W> blocker = splatInt<W>(-1);
    const Lanes<W> one = splat<W>(1.0f);
    const VekrTriangleAccel* accel = scene.accel;

    auto testLeaf = [&](const VekrKDTreeNode* leaf) {
        int32_t buf[3], count;
        const int32_t* list = kd::leafTriangles(leaf, buf, &count);
        requestRecords(accel, list, count);
        for (int32_t i = 0; i < count; ++i) {
            if (!anyLane(searching)) return true;
            const int32_t n = list[i];
            const VekrTriangleAccel& R = accel[n];
            if (R.axes == 0) continue;
            TriangleLanes<W> h;
            if (!intersectTriangle(R, r, h)) continue;
            Lanes<W> hit = h.inside & inWindow(h.t, one);
            if constexpr (W == 1) hit = hit & searching;
            blocker = select(hit, splatInt<W>(n), blocker);
            searching = andNot(hit, searching);
        }
        return !anyLane(searching);
    };
    auto resume = [&](PacketSegment<W>& seg) {
        seg.active = searching;
        return anyLane(searching) != 0;
    };
    traversePacket<W>(scene.root, code, r, s, testLeaf, resume);

    markBlocked<W>(out, base, stride, blocker);
}

// Tries one triangle on every ray of a tile that is still unblocked.
// Returns true when no ray of the tile is left unblocked.
bool testCachedOccluder(const RayBlockView& in, size_t base, int32_t n, const VekrTriangleAccel& R,
                        const OcclusionPlanes& out)
{
    const Lanes<1> one = splat<1>(1.0f);
    int open = 0;
    for (int row = 0; row < 4; ++row) {
        const size_t at = base + row * static_cast<size_t>(in.width);
        const Lanes<1> live{notNegative(out.mask + at)};
        if (!anyLane(live)) continue;
        const PacketRays<1> r = loadPacketRays<1>(in, at);
        TriangleLanes<1> h;
        if (intersectTriangle(R, r, h)) {
            const Lanes<1> hit = live & (h.inside & inWindow(h.t, one));
            markBlocked<1>(out, at, 0, select(hit, splatInt<1>(n), splatInt<1>(-1)));
            open |= anyLane(andNot(hit, live));
        } else {
            open |= anyLane(live);
        }
    }
    return open == 0;
}

}  // namespace

void packetOcclusion(const OcclusionBlock& b, const SceneView& scene)
{
    // Without a whole tile there is nothing to do, nor a row 3 to prime from.
    if (b.width < 4 || b.height < 4) return;
    const int32_t width = b.width, height = b.height;
    const float* const* dir = b.dir;
    int32_t* tri = b.tri;
    int32_t* mask = b.mask;
    const RayBlockView in{{nullptr, nullptr, nullptr}, b.origin, {dir[0], dir[1], dir[2]}, width};
    const OcclusionPlanes out{tri, mask};
    const size_t stride = static_cast<size_t>(width);

    // Prime the cache with the nearest occluder of the first active ray
    // among the first four of block row 3.
    int32_t cached = -1;
    for (int l = 0; l < 4; ++l) {
        const size_t at = 3 * stride + l;
        if (mask[at] < 0) continue;
        const float d[3] = {dir[0][at], dir[1][at], dir[2][at]};
        cached = nearestOccluder(scene, b.origin, d);
        break;
    }

    forEachTile(width, height, [&](size_t base) {
        __m128 live[4];
        int anyLive = 0;
        for (int row = 0; row < 4; ++row) {
            const size_t at = base + row * stride;
            _mm_store_si128(reinterpret_cast<__m128i*>(tri + at), _mm_set1_epi32(-1));
            live[row] = notNegative(mask + at);
            anyLive |= _mm_movemask_ps(live[row]);
        }
        if (!anyLive) return;
        if (cached >= 0) {
            if (testCachedOccluder(in, base, cached, scene.accel[cached], out)) return;
            for (int row = 0; row < 4; ++row) live[row] = notNegative(mask + base + row * stride);
        }
        const TileCodes tc = classifyTile(in, base, live);
        if (tc.coherent) {
            for (size_t half = 0; half < 2; ++half) {
                const size_t at = base + 2 * half * stride;
                anyHitKernel<2>(in, at, tc.lowest, allLanes<2>(), scene, out);
                // Keep the second row's blocker only if it blocked that whole row.
                const bool rowBlocked =
                    _mm_movemask_ps(notNegative(mask + at + stride)) == 0;
                cached = rowBlocked ? tri[at + stride + 2] : -1;
            }
            return;
        }
        forEachCodeRow(tc, [&](int row, int code, __m128 lanes) {
            anyHitKernel<1>(in, base + row * stride, code, Lanes<1>{lanes}, scene, out);
        });
    });
}

}  // namespace vekr::isect::VEKR_ISA_NS
