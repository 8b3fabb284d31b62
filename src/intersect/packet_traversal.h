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

#include "intersect/packet_lanes.h"
#include "intersect/ray_block.h"
#include "vekr_scene.h"

// The node accessors and the record's axis fields are shared with code that
// is built for SSE3 only. An out-of-line copy of them (a debug build makes
// one) is merged with that code's copy at link time, and either may be
// kept, so the AVX2 build of this header compiles them without AVX: the
// kept copy then runs on every processor, and inlined calls cost nothing.
#if defined(__AVX__)
#pragma GCC push_options
#pragma GCC target("no-ssse3")
#endif
#include "intersect/triangle_test.h"
#include "scene/kdtree_node.h"
#if defined(__AVX__)
#pragma GCC pop_options
#endif

namespace vekr::isect::VEKR_ISA_NS {

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
        for (int a = 0; a < 3; ++a) inv[a] = packetInverse(d[a]);
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
        const Lanes<W> t0 = (splat<W>(box[a]) - r.o[a]) * r.inv[a];
        const Lanes<W> t1 = (splat<W>(box[a + 3]) - r.o[a]) * r.inv[a];
        s.tfar = min(s.tfar, max(t0, t1));
        s.tnear = max(s.tnear, min(t0, t1));
    }
}

// Clips every lane to the box from tnear = 0; tfar starts as given (the
// lane's maximum distance). Returns false when no lane keeps a non-empty
// segment.
template <int W>
inline bool clipToBox(const PacketRays<W>& r, const float* box, PacketSegment<W>& s)
{
    s.tnear = zeros<W>();
    narrowToBox(r, box, s);
    s.active = lt(s.tnear, s.tfar);
    return anyLane(s.active) != 0;
}

template <int W>
inline void addExitMargin(PacketSegment<W>& s)
{
    s.tfar = s.tfar + splat<W>(PacketConst::exitMargin());
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
            const VekrKDTreeNode* pair = kd::child(node, 0);
            const int nearSide = (code >> a) & 1;
            const Lanes<W> ts = (splat<W>(kd::splitPosition(*node)) - r.o[a]) * r.inv[a];
            const int needNear = anyLane(s.active & le(s.tnear, ts));
            const int needFar = anyLane(s.active & le(ts, s.tfar));
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
            const Lanes<W> cut = min(s.tfar, ts);
            s.active = s.active & le(s.tnear, cut);
            s.tfar = max(cut, s.tnear);
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
    const Lanes<W> nu = splat<W>(R.nu), nv = splat<W>(R.nv);
    const Lanes<W> du = r.d[ua], dv = r.d[va];
    const Lanes<W> det = (nu * du + nv * dv) + r.d[k];
    const Lanes<W> pu1 = splat<W>(R.pu) - r.o[ua];
    const Lanes<W> pv1 = splat<W>(R.pv) - r.o[va];
    const Lanes<W> tn = ((splat<W>(R.pk) + nu * pu1) + nv * pv1) - r.o[k];
    const Lanes<W> A = du * tn - pu1 * det;
    const Lanes<W> B = dv * tn - pv1 * det;
    const Lanes<W> l1 = splat<W>(R.e2v) * A - splat<W>(R.e2u) * B;
    const Lanes<W> l2 = splat<W>(R.e1u) * B - splat<W>(R.e1v) * A;
    const Lanes<W> l0 = (det - l1) - l2;
    // "not less than" keeps NaN products inside.
    const Lanes<W> zero = zeros<W>();
    out.inside = (nlt(l0 * l1, zero) & nlt(l1 * l2, zero)) & nlt(l0 * l2, zero);
    if (!anyLane(out.inside)) return false;
    const Lanes<W> rc = rcpRefined(det) & out.inside;
    out.t = tn * rc;
    out.u = l1 * rc;
    out.v = l2 * rc;
    return true;
}

// Lanes whose crossing lies strictly inside (0, limit).
template <int W>
inline Lanes<W> inWindow(const Lanes<W>& t, const Lanes<W>& limit)
{
    return lt(t, limit) & gt(t, zeros<W>());
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

    explicit NearestLanes(const Lanes<W>& limit)
        : dist(limit), u(zeros<W>()), v(zeros<W>()), tri(splatInt<W>(-1))
    {
    }
};

// Never rejects a candidate.
struct AcceptAll {
    template <int W>
    Lanes<W> operator()(const IntLanes<W>&) const
    {
        return zeros<W>();
    }
};

// Closest-hit search of one packet from the root: every triangle of a
// visited leaf is tried on all lanes, a lane takes a candidate strictly
// inside (0, its present distance) unless rejected(number) flags it, and
// after a leaf only lanes whose hit lies beyond the leaf keep the walk going.
template <int W, class MailboxT, class Reject = AcceptAll>
inline void searchNearest(const SceneView& scene, int code, const PacketRays<W>& r, PacketSegment<W>& s,
                          NearestLanes<W>& hit, Reject&& rejected = Reject())
{
    MailboxT mailbox;
    auto testLeaf = [&](const VekrKDTreeNode* leaf) {
        int32_t buf[3], count;
        const int32_t* list = kd::leafTriangles(leaf, buf, &count);
        requestRecords(scene.accel, list, count);
        for (int32_t i = 0; i < count; ++i) {
            const int32_t n = list[i];
            const VekrTriangleAccel& R = scene.accel[n];
            if (R.axes == 0 || mailbox.seen(n)) continue;
            TriangleLanes<W> h;
            if (!intersectTriangle(R, r, h)) continue;
            const IntLanes<W> number = splatInt<W>(n);
            const Lanes<W> take = andNot(rejected(number), h.inside & inWindow(h.t, hit.dist));
            hit.dist = select(take, h.t, hit.dist);
            hit.u = select(take, h.u, hit.u);
            hit.v = select(take, h.v, hit.v);
            hit.tri = select(take, number, hit.tri);
        }
        return false;
    };
    // Lanes whose hit lies before the region still on the stack are done.
    auto resume = [&](PacketSegment<W>& seg) {
        seg.active = lt(seg.tnear, hit.dist);
        return anyLane(seg.active) != 0;
    };
    traversePacket<W>(scene.root, code, r, s, testLeaf, resume);
}

}  // namespace vekr::isect::VEKR_ISA_NS

#endif
