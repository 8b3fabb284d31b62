// Successive-hit packet kernels: every lane of a packet is followed through
// the scene hit after hit, the packet searching once per hit plane.
#include <cstddef>
#include <cstdint>

#include "intersect/packet_path.h"
#include "intersect/packet_tiles.h"
#include "intersect/packet_traversal.h"

namespace vekr::isect {
namespace {

struct PlaneOutputs {
    float* dist;
    float* u;
    float* v;
    int32_t* tri;
    size_t planeStride;  // entries from one hit plane to the next
    int32_t hitCount;
};

// Stores value into the lanes of mask, keeping the others.
inline void storeMasked(float* p, __m128 mask, __m128 value)
{
    _mm_store_ps(p, select(mask, value, _mm_load_ps(p)));
}

inline void storeMasked(int32_t* p, __m128 mask, __m128i value)
{
    __m128i* q = reinterpret_cast<__m128i*>(p);
    _mm_store_si128(q, select(mask, value, _mm_load_si128(q)));
}

// Runs the searches of one packet. A lane takes part in a search when its
// segment was non-empty as the search began; the others keep a present
// distance of 0, which no crossing can undercut. Planes of lanes that took
// no part are never written.
template <int W, class MailboxT>
void successiveKernel(const RayBlockView& in, size_t base, int code, __m128 laneMask,
                      const SceneView& scene, const PlaneOutputs& out)
{
    const size_t stride = static_cast<size_t>(in.width);
    PacketRays<W> r = loadPacketRays<W>(in, base);
    r.computeInverse();
    PacketSegment<W> s;
    for (int j = 0; j < W; ++j) {
        s.tfar[j] = _mm_load_ps(out.dist + base + j * stride);
        if (W == 1) s.tfar[j] = _mm_and_ps(s.tfar[j], laneMask);
    }
    Lanes<W> present = s.tfar;  // present hit distance of the running search
    if (!clipToBox(r, scene.box, s)) return;
    addExitMargin(s);
    Lanes<W> takesPart = s.active;
    for (int j = 0; j < W; ++j) present[j] = _mm_and_ps(present[j], takesPart[j]);

    // Hits of the last four searches, which a lane may not report again.
    IntLanes<W> earlier[4];
    for (auto& e : earlier)
        for (int j = 0; j < W; ++j) e[j] = _mm_set1_epi32(-1);
    Lanes<W> behind = splat<W>(0.0f);  // distance from the common origin to the current origin
    const float* box = scene.box;

    for (int32_t k = 0;; ++k) {
        NearestLanes<W> hit(present);
        searchNearest<W, MailboxT>(scene, code, r, s, hit, [&](int j, __m128i number) {
            const __m128i repeat = _mm_or_si128(
                _mm_or_si128(_mm_cmpeq_epi32(earlier[0][j], number), _mm_cmpeq_epi32(earlier[1][j], number)),
                _mm_or_si128(_mm_cmpeq_epi32(earlier[2][j], number), _mm_cmpeq_epi32(earlier[3][j], number)));
            return _mm_castsi128_ps(repeat);
        });
        present = hit.dist;
        const IntLanes<W>& tri = hit.tri;

        Lanes<W> found;
        for (int j = 0; j < W; ++j)
            found[j] = _mm_andnot_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(tri[j], _mm_set1_epi32(-1))),
                                     _mm_castsi128_ps(_mm_set1_epi32(-1)));
        if (!anyLane(found)) return;

        const size_t plane = static_cast<size_t>(k) * out.planeStride;
        for (int j = 0; j < W; ++j) {
            const size_t at = plane + base + j * stride;
            // Plane k holds the distance from the common origin.
            const __m128 total = k == 0 ? present[j] : _mm_add_ps(present[j], behind[j]);
            storeMasked(out.dist + at, found[j], total);
            storeMasked(out.u + at, found[j], hit.u[j]);
            storeMasked(out.v + at, found[j], hit.v[j]);
            storeMasked(out.tri + at, found[j], tri[j]);
            behind[j] = select(found[j], total, behind[j]);
            for (int a = 0; a < 3; ++a)
                r.o[a][j] = select(found[j], _mm_add_ps(r.o[a][j], _mm_mul_ps(r.d[a][j], present[j])), r.o[a][j]);
            earlier[k & 3][j] = tri[j];
        }
        if (k + 1 >= out.hitCount) return;

        // Later searches are limited by the box alone, not by the caller's
        // maximum: the next plane starts at the largest float.
        const __m128 farthest = _mm_set1_ps(PacketConst::floatMax());
        for (int j = 0; j < W; ++j) {
            storeMasked(out.dist + plane + out.planeStride + base + j * stride, found[j], farthest);
            __m128 exit = farthest;
            for (int a = 0; a < 3; ++a) {
                const __m128 t0 = _mm_mul_ps(_mm_sub_ps(_mm_set1_ps(box[a]), r.o[a][j]), r.inv[a][j]);
                const __m128 t1 = _mm_mul_ps(_mm_sub_ps(_mm_set1_ps(box[a + 3]), r.o[a][j]), r.inv[a][j]);
                exit = _mm_min_ps(exit, _mm_max_ps(t0, t1));
            }
            exit = _mm_add_ps(exit, _mm_set1_ps(PacketConst::exitMargin()));
            s.tnear[j] = _mm_setzero_ps();
            takesPart[j] = _mm_and_ps(found[j], _mm_cmplt_ps(_mm_setzero_ps(), exit));
            s.tfar[j] = _mm_and_ps(exit, takesPart[j]);
            s.active[j] = takesPart[j];
            present[j] = _mm_and_ps(farthest, takesPart[j]);
        }
        if (!anyLane(takesPart)) return;
    }
}

}  // namespace

void packetSuccessiveHits(const SuccessiveBlock& b, const SceneView& scene)
{
    const size_t entries = blockEntries(b.width, b.height);
    if (b.hitCount > 0) fillMinusOne(b.hit.tri, entries * static_cast<size_t>(b.hitCount));
    const RayBlockView in{{nullptr, nullptr, nullptr}, b.origin, {b.dir[0], b.dir[1], b.dir[2]}, b.width};
    const PlaneOutputs out{b.hit.dist, b.hit.u, b.hit.v, b.hit.tri, entries, b.hitCount};
    const __m128 allLanes = _mm_castsi128_ps(_mm_set1_epi32(-1));
    runDistanceTiles(
        in, b.hit.dist, b.height, true,
        [&](size_t base, int code) { successiveKernel<2, Mailbox>(in, base, code, allLanes, scene, out); },
        [&](size_t base, int code, __m128 lanes) {
            successiveKernel<1, Mailbox>(in, base, code, lanes, scene, out);
        });
}

}  // namespace vekr::isect
