// Successive-hit packet kernels: every lane of a packet is followed through
// the scene hit after hit, the packet searching once per hit plane.
#include <cstddef>
#include <cstdint>

#include "intersect/packet_kernels.h"
#include "intersect/packet_tiles.h"
#include "intersect/packet_traversal.h"

namespace vekr::isect::VEKR_ISA_NS {
namespace {

struct PlaneOutputs {
    float* dist;
    float* u;
    float* v;
    int32_t* tri;
    size_t planeStride;  // entries from one hit plane to the next
    int32_t hitCount;
};

// Runs the searches of one packet. A lane takes part in a search when its
// segment was non-empty as the search began; the others keep a present
// distance of 0, which no crossing can undercut. Planes of lanes that took
// no part are never written.
template <int W, class MailboxT>
void successiveKernel(const RayBlockView& in, size_t base, int code, const Lanes<W>& laneMask,
                      const SceneView& scene, const PlaneOutputs& out)
{
    const size_t stride = static_cast<size_t>(in.width);
    PacketRays<W> r = loadPacketRays<W>(in, base);
    r.computeInverse();
    PacketSegment<W> s;
    s.tfar = loadRows<W>(out.dist + base, stride);
    if constexpr (W == 1) s.tfar = s.tfar & laneMask;
    Lanes<W> present = s.tfar;  // present hit distance of the running search
    if (!clipToBox(r, scene.box, s)) return;
    addExitMargin(s);
    Lanes<W> takesPart = s.active;
    present = present & takesPart;

    // Hits of the last four searches, which a lane may not report again.
    IntLanes<W> earlier[4];
    for (auto& e : earlier) e = splatInt<W>(-1);
    Lanes<W> behind = zeros<W>();  // distance from the common origin to the current origin
    const float* box = scene.box;
    const IntLanes<W> none = splatInt<W>(-1);

    for (int32_t k = 0;; ++k) {
        NearestLanes<W> hit(present);
        searchNearest<W, MailboxT>(scene, code, r, s, hit, [&](const IntLanes<W>& number) {
            return (equal(earlier[0], number) | equal(earlier[1], number)) |
                   (equal(earlier[2], number) | equal(earlier[3], number));
        });
        present = hit.dist;
        const IntLanes<W>& tri = hit.tri;

        const Lanes<W> found = andNot(equal(tri, none), allLanes<W>());
        if (!anyLane(found)) return;

        const size_t at = static_cast<size_t>(k) * out.planeStride + base;
        // Plane k holds the distance from the common origin.
        const Lanes<W> total = k == 0 ? present : present + behind;
        storeRowsMasked<W>(out.dist + at, stride, found, total);
        storeRowsMasked<W>(out.u + at, stride, found, hit.u);
        storeRowsMasked<W>(out.v + at, stride, found, hit.v);
        storeRowsMasked<W>(out.tri + at, stride, found, tri);
        behind = select(found, total, behind);
        for (int a = 0; a < 3; ++a) r.o[a] = select(found, r.o[a] + r.d[a] * present, r.o[a]);
        earlier[k & 3] = tri;
        if (k + 1 >= out.hitCount) return;

        // Later searches are limited by the box alone, not by the caller's
        // maximum: the next plane starts at the largest float.
        const Lanes<W> farthest = splat<W>(PacketConst::floatMax());
        storeRowsMasked<W>(out.dist + at + out.planeStride, stride, found, farthest);
        Lanes<W> exit = farthest;
        for (int a = 0; a < 3; ++a) {
            const Lanes<W> t0 = (splat<W>(box[a]) - r.o[a]) * r.inv[a];
            const Lanes<W> t1 = (splat<W>(box[a + 3]) - r.o[a]) * r.inv[a];
            exit = min(exit, max(t0, t1));
        }
        exit = exit + splat<W>(PacketConst::exitMargin());
        s.tnear = zeros<W>();
        takesPart = found & lt(zeros<W>(), exit);
        s.tfar = exit & takesPart;
        s.active = takesPart;
        present = farthest & takesPart;
        if (!anyLane(takesPart)) return;
    }
}

}  // namespace

void packetSuccessiveHits(const SuccessiveBlock& b, const SceneView& scene)
{
    const size_t entries = blockEntries(b.width, b.height);
    const RayBlockView in{{nullptr, nullptr, nullptr}, b.origin, {b.dir[0], b.dir[1], b.dir[2]}, b.width};
    const PlaneOutputs out{b.hit.dist, b.hit.u, b.hit.v, b.hit.tri, entries, b.hitCount};
    runDistanceTiles(
        in, b.hit.dist, TriPlanes{b.hit.tri, entries, b.hitCount > 0 ? b.hitCount : 0}, b.height, true,
        [&](size_t base, int code) { successiveKernel<2, Mailbox>(in, base, code, allLanes<2>(), scene, out); },
        [&](size_t base, int code, __m128 lanes) {
            successiveKernel<1, Mailbox>(in, base, code, Lanes<1>{lanes}, scene, out);
        });
}

}  // namespace vekr::isect::VEKR_ISA_NS
