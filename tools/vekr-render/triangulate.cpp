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
    // Areas this small relative to the polygon's size are rounding noise:
    // such a corner is straight, not convex.
    const double size = std::max(hi[0] - lo[0], hi[1] - lo[1]);
    const double flat = 1e-12 * size * size;

    std::vector<int> next(static_cast<size_t>(n)), prev(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        next[i] = (i + 1) % n;
        prev[i] = (i + n - 1) % n;
    }
    auto turn = [&](int i) { return cross(p[prev[i]], p[i], p[next[i]]); };
    // An ear's triangle must hold no other corner, on its border included
    // (else the cut would run through that corner), except corners lying
    // on one of its own three corners, as where a polygon touches itself.
    auto isEar = [&](int i) {
        const int a = prev[i], c = next[i];
        if (turn(i) <= flat) return false;
        for (int j = next[c]; j != a; j = next[j]) {
            const P2 q = p[j];
            if (same(q, p[a]) || same(q, p[i]) || same(q, p[c])) continue;
            if (cross(p[a], p[i], q) >= -flat && cross(p[i], p[c], q) >= -flat && cross(p[c], p[a], q) >= -flat)
                return false;
        }
        return true;
    };
    auto cut = [&](int i, bool emit) {
        if (emit) triangles.insert(triangles.end(), {prev[i], i, next[i]});
        next[prev[i]] = next[i];
        prev[next[i]] = prev[i];
    };

    bool simple = true;
    int left = n, at = 0;
    while (left > 3) {
        // Look for an ear from where the last one was cut, so that
        // successive cuts move around the polygon rather than all meeting
        // in one corner.
        int found = -1;
        for (int i = at, step = 0; step < left; i = next[i], ++step)
            if (isEar(i)) {
                found = i;
                break;
            }
        if (found >= 0) {
            at = next[found];
            cut(found, true);
            --left;
            continue;
        }
        // No ear. A straight corner (on a straight edge, a spike folded
        // back onto itself, a repeated point) can go without a triangle.
        for (int i = at, step = 0; step < left && found < 0; i = next[i], ++step)
            if (std::fabs(turn(i)) <= flat) found = i;
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
            if (turn(i) > flat) {
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
    if (turn(at) > flat) {
        cut(at, true);
    } else if (turn(at) < -flat) {
        triangles.insert(triangles.end(), {next[at], at, prev[at]});
        simple = false;
    }
    return simple;
}

}  // namespace vekr_render
