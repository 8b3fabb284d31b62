#include "intersect/tree_geometry_bound.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "intersect/triangle_test.h"
#include "scene/kdtree_node.h"

namespace vekr::isect {

constexpr double kInf = std::numeric_limits<double>::infinity();

bool boundTriangleRecord(const VekrTriangleAccel& r, double box[6])
{
    if (r.axes == 0) return false;
    const int k = recordAxisK(r.axes), u = recordAxisU(r.axes), v = recordAxisV(r.axes);
    // Anything but a permutation of the three axes is not a record.
    if (k == 3 || u == 3 || v == 3 || k == u || k == v || u == v) return false;
    // The edge fields are the edges scaled by q = s / N[k]; their cross
    // product in (u, v) is q itself, which undoes the scaling. Where that
    // difference cancels badly (a sliver), the corners are not trusted.
    const double e1u = r.e1u, e1v = r.e1v, e2u = r.e2u, e2v = r.e2v;
    const double q = e1u * e2v - e1v * e2u;
    if (!(std::fabs(q) * 64.0 > std::fabs(e1u * e2v) + std::fabs(e1v * e2u))) return false;
    double e[2][3];  // the edges A - C and B - C by axis
    e[0][u] = e1u / q;
    e[0][v] = e1v / q;
    e[1][u] = e2u / q;
    e[1][v] = e2v / q;
    // Both edges lie in the plane N . x = N . C, and nu, nv are N[u], N[v]
    // over N[k].
    for (auto& edge : e) edge[k] = -(static_cast<double>(r.nu) * edge[u] + static_cast<double>(r.nv) * edge[v]);
    double c[3];
    c[k] = r.pk;
    c[u] = r.pu;
    c[v] = r.pv;
    double size = 0.0;
    for (int a = 0; a < 3; ++a) {
        box[a] = c[a] + std::fmin(0.0, std::fmin(e[0][a], e[1][a]));
        box[a + 3] = c[a] + std::fmax(0.0, std::fmax(e[0][a], e[1][a]));
        size = std::fmax(size, box[a + 3] - box[a]);
    }
    if (!std::isfinite(size)) return false;
    // The corners carry the rounding of the stored fields, a few parts in
    // 2^24 of the triangle's size after the test above; 2^-10 covers it.
    const double slack = size * 0x1p-10;
    for (int a = 0; a < 3; ++a) {
        box[a] -= slack;
        box[a + 3] += slack;
    }
    return true;
}

namespace {

struct Cell {
    double lo[3], hi[3];

    // Whether the cell is bounded on every side in `sides`.
    bool closedOn(unsigned sides) const
    {
        for (int a = 0; a < 3; ++a) {
            if ((sides >> a & 1) && !(lo[a] > -kInf)) return false;
            if ((sides >> (a + 3) & 1) && !(hi[a] < kInf)) return false;
        }
        return true;
    }
};

}  // namespace

bool boundTreeGeometry(const VekrKDTreeNode* root, const VekrTriangleAccel* accel, size_t budget, unsigned sides,
                       float box[6])
{
    struct Entry {
        const VekrKDTreeNode* node;
        Cell cell;
    };
    // One pending sibling per inner level: trees are at most 50 deep.
    Entry stack[51];
    int top = 0;
    Entry at{root, {{-kInf, -kInf, -kInf}, {kInf, kInf, kInf}}};
    double bound[6] = {kInf, kInf, kInf, -kInf, -kInf, -kInf};
    auto include = [&bound](const double* lo, const double* hi) {
        for (int a = 0; a < 3; ++a) {
            bound[a] = std::fmin(bound[a], lo[a]);
            bound[a + 3] = std::fmax(bound[a + 3], hi[a]);
        }
    };
    size_t steps = 0;
    bool any = false;
    // Every node visited here is open on one of the sides; children closed
    // on all of them are taken in whole from the parent's split.
    for (;;) {
        if (++steps > budget) return false;
        const VekrKDTreeNode* n = at.node;
        if (kd::isLeaf(*n)) {
            int32_t buf[3], count;
            const int32_t* list = kd::leafTriangles(n, buf, &count);
            if (static_cast<size_t>(count) > budget - steps) return false;
            steps += static_cast<size_t>(count);
            for (int32_t i = 0; i < count; ++i) __builtin_prefetch(accel + list[i]);
            for (int32_t i = 0; i < count; ++i) {
                const VekrTriangleAccel& r = accel[list[i]];
                if (r.axes == 0) continue;  // degenerate: never hit
                double t[6];
                if (!boundTriangleRecord(r, t)) return false;
                include(t, t + 3);
                any = true;
            }
        } else {
            const int a = kd::splitAxis(*n);
            const double split = kd::splitPosition(*n);
            const VekrKDTreeNode* pair = kd::child(n, 0);
            Entry child[2] = {{pair, at.cell}, {pair + 1, at.cell}};
            child[0].cell.hi[a] = std::fmin(child[0].cell.hi[a], split);
            child[1].cell.lo[a] = std::fmax(child[1].cell.lo[a], split);
            int open = 0;
            for (int c = 0; c < 2; ++c) {
                if (!child[c].cell.closedOn(sides)) {
                    open |= 1 << c;
                } else if (!kd::isEmptyLeaf(*child[c].node)) {
                    include(child[c].cell.lo, child[c].cell.hi);
                    any = true;
                }
            }
            if (open == 3) {
                if (top == 51) return false;
                __builtin_prefetch(kd::nextReadOf(child[1].node));
                stack[top++] = child[1];
            }
            if (open != 0) {
                at = child[open == 2 ? 1 : 0];
                continue;
            }
        }
        if (top == 0) break;
        at = stack[--top];
    }
    if (!any) return false;
    for (int s = 0; s < 6; ++s) {
        const bool isMax = s >= 3;
        const float outward = isMax ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
        if (!(sides >> s & 1)) {
            box[s] = outward;
            continue;
        }
        if (!std::isfinite(bound[s])) return false;
        // Round outwards so that the float box still holds the double one.
        const float f = static_cast<float>(bound[s]);
        box[s] = (isMax ? f < bound[s] : f > bound[s]) ? std::nextafter(f, outward) : f;
        if (!std::isfinite(box[s])) return false;
    }
    return true;
}

unsigned openSidesAt(const VekrKDTreeNode* root, const float p[3])
{
    unsigned open = kAllSides;
    const VekrKDTreeNode* n = root;
    while (!kd::isLeaf(*n)) {
        const int a = kd::splitAxis(*n);
        const bool below = p[a] < kd::splitPosition(*n);
        open &= ~(1u << (below ? a + 3 : a));
        n = kd::child(n, below ? 0 : 1);
    }
    return open;
}

}  // namespace vekr::isect
