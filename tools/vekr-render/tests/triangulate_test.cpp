// Polygon splitting checked against the polygon itself: the triangles must
// tile it exactly (their areas add up to its area, every one lies inside
// it and turns its way), whatever the shape, orientation or plane.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "triangulate.h"

namespace {

using vekr_render::triangulatePolygon;

struct Pt {
    double x, y;
};

// Even-odd point-in-polygon test by ray crossing, an independent reference.
bool inside(const std::vector<Pt>& poly, Pt q)
{
    bool in = false;
    for (size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++) {
        const Pt a = poly[i], b = poly[j];
        if ((a.y > q.y) != (b.y > q.y) && q.x < a.x + (q.y - a.y) * (b.x - a.x) / (b.y - a.y)) in = !in;
    }
    return in;
}

double shoelace(const std::vector<Pt>& poly)
{
    double twice = 0;
    for (size_t i = 0; i < poly.size(); ++i) {
        const Pt a = poly[i], b = poly[(i + 1) % poly.size()];
        twice += a.x * b.y - b.x * a.y;
    }
    return 0.5 * twice;
}

// Puts a 2-D polygon into 3-D: the plane through `origin` spanned by the
// orthonormal pair e1, e2, so the 3-D normal of a counter-clockwise
// polygon is e1 x e2.
std::vector<double> embed(const std::vector<Pt>& poly, const double origin[3], const double e1[3], const double e2[3])
{
    std::vector<double> out;
    for (const Pt& p : poly)
        for (int k = 0; k < 3; ++k) out.push_back(origin[k] + p.x * e1[k] + p.y * e2[k]);
    return out;
}

struct Case {
    std::string name;
    std::vector<Pt> polygon;
    size_t triangles;  // expected count
};

std::vector<Case> cases()
{
    std::vector<Case> c = {
        {"square", {{0, 0}, {1, 0}, {1, 1}, {0, 1}}, 2},
        {"concave quad (dart)", {{0, 0}, {2, 1}, {4, 0}, {2, 3}}, 2},
        {"U", {{-1, -1}, {1, -1}, {1, 1}, {0.5, 1}, {0.5, -0.5}, {-0.5, -0.5}, {-0.5, 1}, {-1, 1}}, 6},
        {"L", {{0, 0}, {3, 0}, {3, 1}, {1, 1}, {1, 3}, {0, 3}}, 4},
        {"square with edge midpoints", {{0, 0}, {1, 0}, {2, 0}, {2, 1}, {2, 2}, {1, 2}, {0, 2}, {0, 1}}, 6},
        {"repeated corner", {{0, 0}, {2, 0}, {2, 0}, {2, 2}, {0, 2}}, 2},
        {"comb", {{0, 0}, {5, 0}, {5, 3}, {4, 3}, {4, 1}, {3, 1}, {3, 3}, {2, 3}, {2, 1}, {1, 1}, {1, 3}, {0, 3}}, 10},
    };
    // A ten-pointed star and a spiral, generated.
    std::vector<Pt> star;
    for (int i = 0; i < 20; ++i) {
        const double r = i % 2 ? 0.35 : 1.0, a = M_PI * i / 10;
        star.push_back({r * std::cos(a), r * std::sin(a)});
    }
    c.push_back({"star", star, 18});
    std::vector<Pt> spiral;
    const int turns = 24;
    for (int i = 0; i <= turns; ++i) {
        const double a = 0.5 * i, r = 1.0 + 0.4 * i;
        spiral.push_back({r * std::cos(a), r * std::sin(a)});
    }
    for (int i = turns; i >= 0; --i) {
        const double a = 0.5 * i, r = 1.3 + 0.4 * i;
        spiral.push_back({r * std::cos(a), r * std::sin(a)});
    }
    c.push_back({"spiral band", spiral, spiral.size() - 2});
    // Many corners: a fine circle, and a gear whose every other corner is
    // pulled in (half of them reflex).
    std::vector<Pt> circle, gear;
    for (int i = 0; i < 2000; ++i) {
        const double a = 2 * M_PI * i / 2000;
        circle.push_back({std::cos(a), std::sin(a)});
        gear.push_back({(i % 2 ? 0.9 : 1.0) * std::cos(a), (i % 2 ? 0.9 : 1.0) * std::sin(a)});
    }
    c.push_back({"circle of 2000 corners", circle, circle.size() - 2});
    c.push_back({"gear of 2000 corners", gear, gear.size() - 2});
    return c;
}

TEST(Triangulate, TrianglesTileThePolygon)
{
    const double s = std::sqrt(0.5), t = std::sqrt(1.0 / 3.0);
    struct Plane {
        const char* name;
        double origin[3], e1[3], e2[3];
    };
    const Plane planes[] = {
        {"z = 0", {0, 0, 0}, {1, 0, 0}, {0, 1, 0}},
        {"z = 0 seen from below", {0, 0, 0}, {0, 1, 0}, {1, 0, 0}},
        {"x = 3", {3, 0, 0}, {0, 0, 1}, {0, 1, 0}},
        {"tilted", {10, -4, 7}, {s, -s, 0}, {t, t, t}},
    };
    for (const Case& c : cases()) {
        for (bool reversed : {false, true}) {
            std::vector<Pt> poly = c.polygon;
            if (reversed) poly.assign(c.polygon.rbegin(), c.polygon.rend());
            const double area = shoelace(poly);
            for (const Plane& pl : planes) {
                SCOPED_TRACE(c.name + (reversed ? " reversed" : "") + " in " + pl.name);
                std::vector<int> tri;
                EXPECT_TRUE(triangulatePolygon(embed(poly, pl.origin, pl.e1, pl.e2), tri));
                ASSERT_EQ(tri.size(), 3 * c.triangles);
                double sum = 0;
                for (size_t i = 0; i < tri.size(); i += 3) {
                    Pt q[3];
                    for (int k = 0; k < 3; ++k) {
                        ASSERT_GE(tri[i + k], 0);
                        ASSERT_LT(tri[i + k], static_cast<int>(poly.size()));
                        q[k] = poly[static_cast<size_t>(tri[i + k])];
                    }
                    // Turning the polygon's way: same sign as its area.
                    const double twice = (q[1].x - q[0].x) * (q[2].y - q[0].y) - (q[1].y - q[0].y) * (q[2].x - q[0].x);
                    EXPECT_GT(twice * area, 0) << "triangle " << i / 3 << " is flat or turned over";
                    sum += 0.5 * std::fabs(twice);
                    // Inside: the centroid and the points just inside each
                    // corner lie in the polygon.
                    const Pt g{(q[0].x + q[1].x + q[2].x) / 3, (q[0].y + q[1].y + q[2].y) / 3};
                    EXPECT_TRUE(inside(poly, g)) << "triangle " << i / 3;
                    for (int k = 0; k < 3; ++k)
                        EXPECT_TRUE(inside(poly, {q[k].x + 0.01 * (g.x - q[k].x), q[k].y + 0.01 * (g.y - q[k].y)}))
                            << "triangle " << i / 3 << " corner " << k;
                }
                EXPECT_NEAR(sum, std::fabs(area), 1e-9 * std::fabs(area));
            }
        }
    }
}

TEST(Triangulate, DegenerateAndSelfCrossingPolygons)
{
    std::vector<int> tri;
    // Every corner on one line: no area, no triangles.
    EXPECT_TRUE(triangulatePolygon({0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3}, tri));
    EXPECT_TRUE(tri.empty());
    // A triangle is passed through as it is, even a flat one.
    EXPECT_TRUE(triangulatePolygon({0, 0, 0, 1, 0, 0, 2, 0, 0}, tri));
    EXPECT_EQ(tri, (std::vector<int>{0, 1, 2}));
    // A bow tie crosses itself: reported, and still split completely.
    tri.clear();
    EXPECT_FALSE(triangulatePolygon({0, 0, 0, 2, 2, 0, 2, 0, 0, 0, 2, 0, 1, 3, 0}, tri));
    EXPECT_EQ(tri.size() % 3, 0u);
    EXPECT_GE(tri.size(), 3u);
}

}  // namespace

namespace {

TEST(Triangulate, ManyShortEdgesKeepTheirCorners)
{
    // Corners of a fine polygon turn by tiny angles; measured against the
    // polygon's size they would look straight and be dropped without a
    // triangle. Every corner must count, the area must be kept, and the
    // split must not take quadratic time (a second at most here).
    for (const double inner : {1.0, 0.9}) {
        const int n = 100000;
        std::vector<double> corners;
        double area = 0;
        for (int i = 0; i < n; ++i) {
            const double a = 2 * M_PI * i / n, r = i % 2 ? inner : 1.0;
            corners.insert(corners.end(), {r * std::cos(a), r * std::sin(a), 0.0});
        }
        for (int i = 0; i < n; ++i) {
            const int j = (i + 1) % n;
            area += 0.5 * (corners[3 * i] * corners[3 * j + 1] - corners[3 * j] * corners[3 * i + 1]);
        }
        std::vector<int> tri;
        EXPECT_TRUE(triangulatePolygon(corners, tri));
        ASSERT_EQ(tri.size(), 3u * (n - 2)) << "inner radius " << inner;
        double sum = 0;
        for (size_t t = 0; t < tri.size(); t += 3) {
            const double* a = &corners[3 * tri[t]];
            const double* b = &corners[3 * tri[t + 1]];
            const double* c = &corners[3 * tri[t + 2]];
            const double twice = (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]);
            EXPECT_GT(twice, 0) << "triangle " << t / 3;
            sum += 0.5 * twice;
        }
        EXPECT_NEAR(sum, area, 1e-9 * area);
    }
}

}  // namespace
