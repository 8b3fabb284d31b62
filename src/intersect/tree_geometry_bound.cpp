#include "intersect/tree_geometry_bound.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "scene/kdtree_node.h"

namespace vekr::isect {

constexpr double kInf = std::numeric_limits<double>::infinity();

bool boundTriangleRecord(const VekrTriangleAccel& r, double box[6])
{
    if (r.axes == 0) return false;
    const int k = (r.axes >> 4) & 3, u = (r.axes >> 2) & 3, v = r.axes & 3;
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

    bool closed() const
    {
        for (int a = 0; a < 3; ++a)
            if (!(lo[a] > -kInf && hi[a] < kInf)) return false;
        return true;
    }
};

}  // namespace

bool boundTreeGeometry(const VekrKDTreeNode* root, const VekrTriangleAccel* accel, size_t budget, float box[6])
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
    // Every node visited here has an open cell; closed children are taken
    // in whole from the parent's split.
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
            }
        } else {
            const int a = kd::splitAxis(*n);
            const double split = kd::splitPosition(*n);
            const VekrKDTreeNode* pair = kd::child(n, 0);
            Entry child[2] = {{pair, at.cell}, {pair + 1, at.cell}};
            child[0].cell.hi[a] = std::fmin(child[0].cell.hi[a], split);
            child[1].cell.lo[a] = std::fmax(child[1].cell.lo[a], split);
            int open = 0;
            for (Entry& c : child) {
                if (!c.cell.closed()) {
                    open |= &c == child ? 1 : 2;
                } else if (!kd::isEmptyLeaf(*c.node)) {
                    include(c.cell.lo, c.cell.hi);
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
    if (!(bound[0] <= bound[3] && bound[1] <= bound[4] && bound[2] <= bound[5])) return false;
    for (int a = 0; a < 6; ++a) {
        // Round outwards so that the float box still holds the double one.
        const float f = static_cast<float>(bound[a]);
        box[a] = a < 3 ? (f > bound[a] ? std::nextafter(f, -std::numeric_limits<float>::infinity()) : f)
                       : (f < bound[a] ? std::nextafter(f, std::numeric_limits<float>::infinity()) : f);
    }
    for (int a = 0; a < 6; ++a)
        if (!std::isfinite(box[a])) return false;
    return true;
}

bool liesInClosedCell(const VekrKDTreeNode* root, const float p[3])
{
    bool openBelow[3] = {true, true, true}, openAbove[3] = {true, true, true};
    const VekrKDTreeNode* n = root;
    while (!kd::isLeaf(*n)) {
        const int a = kd::splitAxis(*n);
        const bool below = p[a] < kd::splitPosition(*n);
        (below ? openAbove : openBelow)[a] = false;
        n = kd::child(n, below ? 0 : 1);
    }
    for (int a = 0; a < 3; ++a)
        if (openBelow[a] || openAbove[a]) return false;
    return true;
}

}  // namespace vekr::isect
