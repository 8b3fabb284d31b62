// Packet traversal of the kd-tree and the packet triangle test.
//
// All rays of a packet share one octant code, so they meet the children of
// every inner node in the same order and can walk the tree together: a
// node is visited when any active lane needs it, and every triangle record
// is loaded once for all lanes. Decisions use exact comparisons; the
// per-lane segments carry the precision.
#ifndef VEKR_INTERSECT_PACKET_TRAVERSAL_H
#define VEKR_INTERSECT_PACKET_TRAVERSAL_H

#include <cstdint>

#include "intersect/ray_block.h"
#include "intersect/packet_lanes.h"
#include "intersect/triangle_test.h"
#include "scene/kdtree_node.h"
#include "vekr_scene.h"

namespace vekr::isect {

// The stack holds one entry per inner level; trees are at most 50 deep.
constexpr int kPacketStackDepth = 50;

// Origin, direction and inverse direction of every lane, per axis.
template <int W>
struct PacketRays {
    Lanes<W> o[3];
    Lanes<W> d[3];
    Lanes<W> inv[3];

    void computeInverse()
    {
        for (int a = 0; a < 3; ++a)
            for (int j = 0; j < W; ++j) inv[a][j] = packetInverse(d[a][j]);
    }
};

// Current ray segment of every lane and which lanes still steer the walk.
template <int W>
struct PacketSegment {
    Lanes<W> tnear, tfar, active;
};

// Narrows every lane's segment [tnear, tfar] to the box (min x, y, z, max x,
// y, z). A tiny component's stand-in inverse makes its slab either
// all-covering or empty, so it needs no test of its own.
template <int W>
inline void narrowToBox(const PacketRays<W>& r, const float* box, PacketSegment<W>& s)
{
    for (int a = 0; a < 3; ++a) {
        const __m128 lo = _mm_set1_ps(box[a]);
        const __m128 hi = _mm_set1_ps(box[a + 3]);
        for (int j = 0; j < W; ++j) {
            const __m128 t0 = _mm_mul_ps(_mm_sub_ps(lo, r.o[a][j]), r.inv[a][j]);
            const __m128 t1 = _mm_mul_ps(_mm_sub_ps(hi, r.o[a][j]), r.inv[a][j]);
            s.tfar[j] = _mm_min_ps(s.tfar[j], _mm_max_ps(t0, t1));
            s.tnear[j] = _mm_max_ps(s.tnear[j], _mm_min_ps(t0, t1));
        }
    }
}

// Clips every lane to the box from tnear = 0; tfar starts as given (the
// lane's maximum distance). Returns false when no lane keeps a non-empty
// segment.
template <int W>
inline bool clipToBox(const PacketRays<W>& r, const float* box, PacketSegment<W>& s)
{
    for (int j = 0; j < W; ++j) s.tnear[j] = _mm_setzero_ps();
    narrowToBox(r, box, s);
    for (int j = 0; j < W; ++j) s.active[j] = _mm_cmplt_ps(s.tnear[j], s.tfar[j]);
    return anyLane(s.active) != 0;
}

template <int W>
inline void addExitMargin(PacketSegment<W>& s)
{
    const __m128 m = _mm_set1_ps(PacketConst::exitMargin());
    for (int j = 0; j < W; ++j) s.tfar[j] = _mm_add_ps(s.tfar[j], m);
}

// Walks the tree from the root with every lane of the packet.
//
//   testLeaf(node) -> bool      tests the leaf's triangles; true stops the walk
//   resumeActive(seg) -> bool   at a resume, with tnear already advanced to
//                               each lane's tfar: sets seg.active and says
//                               whether any lane still needs the stack
template <int W, class LeafTest, class ResumeRule>
inline void traversePacket(const VekrKDTreeNode* root, int code, const PacketRays<W>& r, PacketSegment<W>& s,
                           LeafTest&& testLeaf, ResumeRule&& resumeActive)
{
    struct Entry {
        const VekrKDTreeNode* node;
        Lanes<W> tfar;
    };
    Entry stack[kPacketStackDepth];
    int top = 0;
    const VekrKDTreeNode* node = root;
    for (;;) {
        while (!kd::isLeaf(*node)) {
            const int a = kd::splitAxis(*node);
            const __m128 split = _mm_set1_ps(kd::splitPosition(*node));
            const VekrKDTreeNode* pair = kd::child(node, 0);
            const int nearSide = (code >> a) & 1;
            Lanes<W> ts;
            __m128 nearLanes = _mm_setzero_ps(), farLanes = _mm_setzero_ps();
            for (int j = 0; j < W; ++j) {
                ts[j] = _mm_mul_ps(_mm_sub_ps(split, r.o[a][j]), r.inv[a][j]);
                nearLanes = _mm_or_ps(nearLanes, _mm_and_ps(s.active[j], _mm_cmple_ps(s.tnear[j], ts[j])));
                farLanes = _mm_or_ps(farLanes, _mm_and_ps(s.active[j], _mm_cmple_ps(ts[j], s.tfar[j])));
            }
            const int needNear = _mm_movemask_ps(nearLanes), needFar = _mm_movemask_ps(farLanes);
            if (!needNear) {
                node = pair + (nearSide ^ 1);
                continue;
            }
            if (!needFar) {
                node = pair + nearSide;
                continue;
            }
            stack[top].node = pair + (nearSide ^ 1);
            stack[top].tfar = s.tfar;
            ++top;
            // The far cell is taken up only after the near one, which leaves
            // time to bring in what it points at.
            __builtin_prefetch(kd::nextReadOf(pair + (nearSide ^ 1)));
            for (int j = 0; j < W; ++j) {
                const __m128 cut = _mm_min_ps(s.tfar[j], ts[j]);
                s.active[j] = _mm_and_ps(s.active[j], _mm_cmple_ps(s.tnear[j], cut));
                s.tfar[j] = _mm_max_ps(cut, s.tnear[j]);
            }
            node = pair + nearSide;
        }
        if (testLeaf(node) || top == 0) return;
        s.tnear = s.tfar;
        if (!resumeActive(s)) return;
        --top;
        node = stack[top].node;
        s.tfar = stack[top].tfar;
    }
}

// Per-lane outcome of the packet triangle test before the hit window.
template <int W>
struct TriangleLanes {
    Lanes<W> inside;  // all three weights of one sign (a NaN product counts as inside)
    Lanes<W> t;       // ray parameter of the plane crossing
    Lanes<W> u, v;    // weights of the first and second vertex
};

// Packet triangle test without the hit window. Returns false (and leaves
// out undefined) when no lane is inside. The operation order is that of the
// single-ray test; only 1/det differs (refined estimate).
template <int W>
inline bool intersectTriangle(const VekrTriangleAccel& R, const PacketRays<W>& r, TriangleLanes<W>& out)
{
    const int k = recordAxisK(R.axes), ua = recordAxisU(R.axes), va = recordAxisV(R.axes);
    const __m128 nu = _mm_set1_ps(R.nu), nv = _mm_set1_ps(R.nv);
    const __m128 pk = _mm_set1_ps(R.pk), pu = _mm_set1_ps(R.pu), pv = _mm_set1_ps(R.pv);
    const __m128 e2u = _mm_set1_ps(R.e2u), e2v = _mm_set1_ps(R.e2v);
    const __m128 e1u = _mm_set1_ps(R.e1u), e1v = _mm_set1_ps(R.e1v);
    const __m128 zero = _mm_setzero_ps();
    Lanes<W> det, tn;
    int anyInside = 0;
    for (int j = 0; j < W; ++j) {
        const __m128 du = r.d[ua][j], dv = r.d[va][j];
        det[j] = _mm_add_ps(_mm_add_ps(_mm_mul_ps(nu, du), _mm_mul_ps(nv, dv)), r.d[k][j]);
        const __m128 pu1 = _mm_sub_ps(pu, r.o[ua][j]);
        const __m128 pv1 = _mm_sub_ps(pv, r.o[va][j]);
        tn[j] = _mm_sub_ps(_mm_add_ps(_mm_add_ps(pk, _mm_mul_ps(nu, pu1)), _mm_mul_ps(nv, pv1)), r.o[k][j]);
        const __m128 A = _mm_sub_ps(_mm_mul_ps(du, tn[j]), _mm_mul_ps(pu1, det[j]));
        const __m128 B = _mm_sub_ps(_mm_mul_ps(dv, tn[j]), _mm_mul_ps(pv1, det[j]));
        const __m128 l1 = _mm_sub_ps(_mm_mul_ps(e2v, A), _mm_mul_ps(e2u, B));
        const __m128 l2 = _mm_sub_ps(_mm_mul_ps(e1u, B), _mm_mul_ps(e1v, A));
        const __m128 l0 = _mm_sub_ps(_mm_sub_ps(det[j], l1), l2);
        // "not less than" keeps NaN products inside.
        out.inside[j] = _mm_and_ps(_mm_and_ps(_mm_cmpnlt_ps(_mm_mul_ps(l0, l1), zero),
                                              _mm_cmpnlt_ps(_mm_mul_ps(l1, l2), zero)),
                                   _mm_cmpnlt_ps(_mm_mul_ps(l0, l2), zero));
        anyInside |= _mm_movemask_ps(out.inside[j]);
        out.u[j] = l1;
        out.v[j] = l2;
    }
    if (!anyInside) return false;
    for (int j = 0; j < W; ++j) {
        const __m128 rc = _mm_and_ps(rcpRefined(det[j]), out.inside[j]);
        out.t[j] = _mm_mul_ps(tn[j], rc);
        out.u[j] = _mm_mul_ps(out.u[j], rc);
        out.v[j] = _mm_mul_ps(out.v[j], rc);
    }
    return true;
}

// Lanes whose crossing lies strictly inside (0, limit).
inline __m128 inWindow(__m128 t, __m128 limit)
{
    return _mm_and_ps(_mm_cmplt_ps(t, limit), _mm_cmpgt_ps(t, _mm_setzero_ps()));
}

// Four most recently tested triangle numbers of a packet, so a triangle
// that spans several leaves is tested once.
struct Mailbox {
    int32_t slot[4] = {-1, -1, -1, -1};
    uint32_t tested = 0;

    // True when n was tested lately; otherwise records it.
    bool seen(int32_t n)
    {
        if (slot[0] == n || slot[1] == n || slot[2] == n || slot[3] == n) return true;
        slot[tested++ & 3] = n;
        return false;
    }
};

// Stands in for the mailbox in kernels that have none.
struct NoMailbox {
    bool seen(int32_t) { return false; }
};

// Nearest hit of every lane so far: distance (the lane's present limit
// until a hit), weights and triangle number (-1 without a hit).
template <int W>
struct NearestLanes {
    Lanes<W> dist, u, v;
    IntLanes<W> tri;

    explicit NearestLanes(const Lanes<W>& limit) : dist(limit), u(splat<W>(0.0f)), v(splat<W>(0.0f))
    {
        for (int j = 0; j < W; ++j) tri[j] = _mm_set1_epi32(-1);
    }
};

// Never rejects a candidate.
struct AcceptAll {
    __m128 operator()(int, __m128i) const { return _mm_setzero_ps(); }
};

// Closest-hit search of one packet from the root: every triangle of a
// visited leaf is tried on all lanes, a lane takes a candidate strictly
// inside (0, its present distance) unless rejected(j, number) flags it, and
// after a leaf only lanes whose hit lies beyond the leaf keep the walk going.
template <int W, class MailboxT, class Reject = AcceptAll>
inline void searchNearest(const SceneView& scene, int code, const PacketRays<W>& r, PacketSegment<W>& s,
                          NearestLanes<W>& hit, Reject&& rejected = Reject())
{
    MailboxT mailbox;
    auto testLeaf = [&](const VekrKDTreeNode* leaf) {
        int32_t buf[3], count;
        const int32_t* list = kd::leafTriangles(leaf, buf, &count);
        for (int32_t i = 0; i < count; ++i) {
            const int32_t n = list[i];
            const VekrTriangleAccel& R = scene.accel[n];
            if (R.axes == 0 || mailbox.seen(n)) continue;
            TriangleLanes<W> h;
            if (!intersectTriangle(R, r, h)) continue;
            const __m128i number = _mm_set1_epi32(n);
            for (int j = 0; j < W; ++j) {
                const __m128 take =
                    _mm_andnot_ps(rejected(j, number), _mm_and_ps(h.inside[j], inWindow(h.t[j], hit.dist[j])));
                hit.dist[j] = select(take, h.t[j], hit.dist[j]);
                hit.u[j] = select(take, h.u[j], hit.u[j]);
                hit.v[j] = select(take, h.v[j], hit.v[j]);
                hit.tri[j] = select(take, number, hit.tri[j]);
            }
        }
        return false;
    };
    // Lanes whose hit lies before the region still on the stack are done.
    auto resume = [&](PacketSegment<W>& seg) {
        for (int j = 0; j < W; ++j) seg.active[j] = _mm_cmplt_ps(seg.tnear[j], hit.dist[j]);
        return anyLane(seg.active) != 0;
    };
    traversePacket<W>(scene.root, code, r, s, testLeaf, resume);
}

}  // namespace vekr::isect

#endif
