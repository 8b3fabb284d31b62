// Ear clipping. The polygon is projected onto the coordinate plane that
// its (Newell) normal is most nearly perpendicular to, oriented so that it
// runs counter-clockwise there; then, again and again, a corner whose
// triangle with its two neighbours is convex and holds no other corner
// (an "ear") is cut off. A simple polygon always has an ear, so this ends
// with n - 2 triangles.
#include "triangulate.h"

#include <algorithm>
#include <cmath>

namespace vekr_render {

namespace {

struct P2 {
    double x, y;
};

// Twice the signed area of triangle a, b, c: positive when counter-clockwise.
double cross(P2 a, P2 b, P2 c) { return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x); }

bool same(P2 a, P2 b) { return a.x == b.x && a.y == b.y; }

// Which side of the line from a through b point c lies on: +1 left
// (counter-clockwise), -1 right, 0 on the line. "On" allows a sine of 1e-9
// for the angle at a: far more than rounding makes of points truly in line,
// far less than any corner a mesh means to have. The test is relative to
// the edges at hand, not to the polygon's size, so a polygon of very many
// short edges keeps its corners.
int side(P2 a, P2 b, P2 c)
{
    const double t = cross(a, b, c);
    const double tolerance = 1e-9 * std::hypot(b.x - a.x, b.y - a.y) * std::hypot(c.x - a.x, c.y - a.y);
    return t > tolerance ? 1 : (t < -tolerance ? -1 : 0);
}

}  // namespace

bool triangulatePolygon(const std::vector<double>& corners, std::vector<int>& triangles)
{
    const int n = static_cast<int>(corners.size() / 3);
    if (n < 3) return true;
    if (n == 3) {
        triangles.insert(triangles.end(), {0, 1, 2});
        return true;
    }

    // Newell's normal: exact for planar polygons, a sensible average plane
    // for slightly bent ones, and oriented by the polygon's winding.
    double normal[3] = {0, 0, 0};
    for (int i = 0; i < n; ++i) {
        const double* a = &corners[3 * static_cast<size_t>(i)];
        const double* b = &corners[3 * static_cast<size_t>((i + 1) % n)];
        normal[0] += (a[1] - b[1]) * (a[2] + b[2]);
        normal[1] += (a[2] - b[2]) * (a[0] + b[0]);
        normal[2] += (a[0] - b[0]) * (a[1] + b[1]);
    }
    int k = 0;
    for (int a = 1; a < 3; ++a)
        if (std::fabs(normal[a]) > std::fabs(normal[k])) k = a;
    if (normal[k] == 0.0) return true;  // no area: nothing to see
    // Axes (k + 1, k + 2) form a right-handed frame with k, so the polygon
    // runs counter-clockwise in them exactly when normal[k] > 0.
    int u = (k + 1) % 3, v = (k + 2) % 3;
    if (normal[k] < 0) std::swap(u, v);

    std::vector<P2> p(static_cast<size_t>(n));
    double lo[2] = {INFINITY, INFINITY}, hi[2] = {-INFINITY, -INFINITY};
    for (int i = 0; i < n; ++i) {
        p[i] = {corners[3 * static_cast<size_t>(i) + u], corners[3 * static_cast<size_t>(i) + v]};
        lo[0] = std::min(lo[0], p[i].x), hi[0] = std::max(hi[0], p[i].x);
        lo[1] = std::min(lo[1], p[i].y), hi[1] = std::max(hi[1], p[i].y);
    }

    std::vector<int> next(static_cast<size_t>(n)), prev(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        next[i] = (i + 1) % n;
        prev[i] = (i + n - 1) % n;
    }
    // +1 at a convex corner, -1 at a reflex one, 0 at a straight one (or
    // one that repeats a neighbour).
    auto turn = [&](int i) { return side(p[prev[i]], p[i], p[next[i]]); };

    // Only a corner that is not convex can lie in a convex corner's
    // triangle, so only those are tested against ears, and they are kept in
    // a grid over the polygon's box so that an ear looks only at the cells
    // its triangle covers: a polygon of many corners costs about linear
    // time rather than quadratic. Cutting an ear only narrows its
    // neighbours' angles, so a convex corner never turns reflex, but it may
    // fold flat; such corners join the grid as they appear.
    std::vector<char> listed(static_cast<size_t>(n), 0), gone(static_cast<size_t>(n), 0);
    int reflex = 0;
    for (int i = 0; i < n; ++i) reflex += turn(i) <= 0;
    const int cellsPerSide = std::max(1, std::min(1024, static_cast<int>(std::sqrt(static_cast<double>(reflex)))));
    const double cellWidth[2] = {std::max(hi[0] - lo[0], 1e-300) / cellsPerSide,
                                 std::max(hi[1] - lo[1], 1e-300) / cellsPerSide};
    auto cellOf = [&](double value, int axis) {
        const double c = std::floor((value - lo[axis]) / cellWidth[axis]);
        return static_cast<int>(std::min<double>(cellsPerSide - 1, std::max(0.0, c)));
    };
    std::vector<std::vector<int>> grid(static_cast<size_t>(cellsPerSide) * cellsPerSide);
    auto watch = [&](int i) {
        if (!listed[i] && turn(i) <= 0) {
            listed[i] = 1;
            grid[static_cast<size_t>(cellOf(p[i].y, 1)) * cellsPerSide + cellOf(p[i].x, 0)].push_back(i);
        }
    };
    for (int i = 0; i < n; ++i) watch(i);

    // An ear's triangle must hold no other corner, on its border included
    // (else the cut would run through that corner), except corners lying
    // on one of its own three corners, as where a polygon touches itself.
    auto isEar = [&](int i) {
        const int a = prev[i], c = next[i];
        if (turn(i) <= 0) return false;
        const P2 pa = p[a], pi = p[i], pc = p[c];
        const int x0 = cellOf(std::min({pa.x, pi.x, pc.x}), 0), x1 = cellOf(std::max({pa.x, pi.x, pc.x}), 0);
        const int y0 = cellOf(std::min({pa.y, pi.y, pc.y}), 1), y1 = cellOf(std::max({pa.y, pi.y, pc.y}), 1);
        for (int cy = y0; cy <= y1; ++cy)
            for (int cx = x0; cx <= x1; ++cx)
                for (const int j : grid[static_cast<size_t>(cy) * cellsPerSide + cx]) {
                    if (gone[j] || j == a || j == i || j == c) continue;
                    const P2 q = p[j];
                    if (same(q, pa) || same(q, pi) || same(q, pc)) continue;
                    if (side(pa, pi, q) >= 0 && side(pi, pc, q) >= 0 && side(pc, pa, q) >= 0)
                        return false;
                }
        return true;
    };
    auto cut = [&](int i, bool emit) {
        if (emit) triangles.insert(triangles.end(), {prev[i], i, next[i]});
        next[prev[i]] = next[i];
        prev[next[i]] = prev[i];
        gone[i] = 1;
        watch(prev[i]);
        watch(next[i]);
    };

    bool simple = true;
    int left = n, at = 0;
    while (left > 3) {
        // Look for the next ear one corner past the last one's far
        // neighbour: starting at that neighbour would cut (a, c, d), (a, d,
        // e), ... next, a fan of slivers all meeting in a, whereas skipping
        // it makes successive cuts go round the polygon, each round joining
        // neighbours of the last, so a convex polygon of many corners ends
        // in triangles of reasonable shape.
        int found = -1;
        for (int i = at, step = 0; step < left; i = next[i], ++step)
            if (isEar(i)) {
                found = i;
                break;
            }
        if (found >= 0) {
            at = next[next[found]];
            cut(found, true);
            --left;
            continue;
        }
        // No ear. A straight corner (on a straight edge, a spike folded
        // back onto itself, a repeated point) can go without a triangle.
        for (int i = at, step = 0; step < left && found < 0; i = next[i], ++step)
            if (turn(i) == 0) found = i;
        if (found >= 0) {
            at = next[found];
            cut(found, false);
            --left;
            continue;
        }
        // Otherwise the polygon crosses itself: cut a convex corner anyway
        // (any corner when none is convex) so that the split still ends.
        simple = false;
        found = at;
        for (int i = at, step = 0; step < left; i = next[i], ++step)
            if (turn(i) > 0) {
                found = i;
                break;
            }
        at = next[found];
        cut(found, true);
        --left;
    }
    // The last three corners. Wound the wrong way they can only come from a
    // polygon that crosses itself; they are kept, turned the polygon's way,
    // so that no part of it goes missing.
    if (turn(at) > 0) {
        cut(at, true);
    } else if (turn(at) < 0) {
        triangles.insert(triangles.end(), {next[at], at, prev[at]});
        simple = false;
    }
    return simple;
}

}  // namespace vekr_render
