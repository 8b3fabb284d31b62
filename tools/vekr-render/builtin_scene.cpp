// Procedural room scene. Each object gets a share of the triangle budget and
// turns it into tessellation counts, so one number scales the whole scene
// from a few hundred triangles (fine for a single-leaf tree) to hundreds of
// thousands (a job for a real tree).
#include "builtin_scene.h"

#include <algorithm>
#include <cmath>

namespace vekr_render {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct V3 {
    double x, y, z;
};
V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V3 operator*(double s, V3 a) { return {s * a.x, s * a.y, s * a.z}; }

// Appends vertices and triangles to a mesh, one object at a time.
class Builder {
public:
    explicit Builder(Mesh& m) : m_(m) {}

    int32_t vertex(V3 p, V3 n)
    {
        m_.vertices.insert(m_.vertices.end(), {float(p.x), float(p.y), float(p.z)});
        m_.vertexNormals.insert(m_.vertexNormals.end(), {float(n.x), float(n.y), float(n.z)});
        return m_.vertexCount() - 1;
    }
    void triangle(int32_t a, int32_t b, int32_t c)
    {
        m_.triangles.insert(m_.triangles.end(), {a, b, c, 0});
        m_.triangleColors.insert(m_.triangleColors.end(), color_, color_ + 3);
        m_.triangleMirror.insert(m_.triangleMirror.end(), mirror_, mirror_ + 3);
    }
    void quad(int32_t a, int32_t b, int32_t c, int32_t d)
    {
        triangle(a, b, c);
        triangle(a, c, d);
    }
    void setColor(float r, float g, float b)
    {
        color_[0] = r;
        color_[1] = g;
        color_[2] = b;
        mirror_[0] = mirror_[1] = mirror_[2] = 0.0f;
    }
    // After setColor: the share of light the next triangles mirror.
    void setMirror(float r, float g, float b)
    {
        mirror_[0] = r;
        mirror_[1] = g;
        mirror_[2] = b;
    }

    // A (rows x cols) grid over a parametric surface, closed in u when wrapU.
    template <class Surface>
    void grid(int rows, int cols, bool wrapU, Surface&& surface)
    {
        const int32_t first = m_.vertexCount();
        const int uCount = wrapU ? cols : cols + 1;
        for (int i = 0; i <= rows; ++i)
            for (int j = 0; j < uCount; ++j) {
                V3 p, n;
                surface(double(j) / cols, double(i) / rows, p, n);
                vertex(p, n);
            }
        auto at = [&](int i, int j) { return first + i * uCount + (wrapU ? j % cols : j); };
        for (int i = 0; i < rows; ++i)
            for (int j = 0; j < cols; ++j) quad(at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1));
    }

    // A flat rectangle corner + s·edgeU + t·edgeV, facing `normal`.
    void panel(V3 corner, V3 edgeU, V3 edgeV, V3 normal, int cells)
    {
        grid(cells, cells, false, [&](double s, double t, V3& p, V3& n) {
            p = corner + s * edgeU + t * edgeV;
            n = normal;
        });
    }

private:
    Mesh& m_;
    float color_[3] = {0.8f, 0.8f, 0.8f};
    float mirror_[3] = {0.0f, 0.0f, 0.0f};
};

// Cells per side of a square grid of about `triangles` triangles.
int cellsFor(double triangles) { return std::max(1, int(std::lround(std::sqrt(triangles / 2.0)))); }

}  // namespace

Mesh makeBuiltinScene(int32_t targetTriangles)
{
    const double budget = std::max<double>(targetTriangles, 400.0);
    Mesh mesh;
    Builder b(mesh);

    // Room corner: floor y = 0, back wall z = -4, left wall x = -4.
    const int wall = cellsFor(0.04 * budget);
    b.setColor(0.80f, 0.78f, 0.72f);
    b.panel({-4, 0, 4}, {8, 0, 0}, {0, 0, -8}, {0, 1, 0}, cellsFor(0.07 * budget));
    b.setColor(0.55f, 0.65f, 0.80f);
    b.panel({-4, 0, -4}, {8, 0, 0}, {0, 5, 0}, {0, 0, 1}, wall);
    b.setColor(0.85f, 0.55f, 0.45f);
    b.panel({-4, 0, 4}, {0, 0, -8}, {0, 5, 0}, {1, 0, 0}, wall);

    // Sphere: rings x segments with segments = 2 rings.
    {
        const int rings = std::max(6, int(std::lround(std::sqrt(0.30 * budget / 4.0))));
        const V3 c{-1.6, 1.2, -1.6};
        const double r = 1.2;
        b.setColor(0.90f, 0.85f, 0.30f);
        b.setMirror(0.55f, 0.52f, 0.35f);  // a brass ball that mirrors the room
        b.grid(rings, 2 * rings, true, [&](double u, double v, V3& p, V3& n) {
            const double theta = kPi * v, phi = 2 * kPi * u;
            n = {std::sin(theta) * std::cos(phi), std::cos(theta), std::sin(theta) * std::sin(phi)};
            p = c + r * n;
        });
    }

    // Torus lying on the floor.
    {
        const int minor = std::max(6, int(std::lround(std::sqrt(0.30 * budget / 6.0))));
        const V3 c{1.7, 0.45, -1.2};
        const double big = 1.15, small = 0.45;
        b.setColor(0.35f, 0.75f, 0.45f);
        b.grid(minor, 3 * minor, true, [&](double u, double v, V3& p, V3& n) {
            const double a = 2 * kPi * u, t = 2 * kPi * v;
            n = {std::cos(t) * std::cos(a), std::sin(t), std::cos(t) * std::sin(a)};
            p = c + V3{big * std::cos(a), 0, big * std::sin(a)} + small * n;
        });
    }

    // Cylinder with a flat top.
    {
        const int segments = std::max(8, int(std::lround(std::sqrt(0.18 * budget * 2.0))));
        const int rows = std::max(1, segments / 4);
        const V3 c{-2.2, 0, 1.6};
        const double r = 0.65, h = 1.9;
        b.setColor(0.70f, 0.45f, 0.85f);
        b.grid(rows, segments, true, [&](double u, double v, V3& p, V3& n) {
            const double a = -2 * kPi * u;
            n = {std::cos(a), 0, std::sin(a)};
            p = c + V3{r * n.x, h * (1 - v), r * n.z};
        });
        const int32_t centre = b.vertex(c + V3{0, h, 0}, {0, 1, 0});
        const int32_t rim = b.vertex(c + V3{r, h, 0}, {0, 1, 0});
        for (int j = 1; j < segments; ++j) {
            const double a = 2 * kPi * j / segments;
            b.vertex(c + V3{r * std::cos(a), h, r * std::sin(a)}, {0, 1, 0});
        }
        for (int j = 0; j < segments; ++j) b.triangle(centre, rim + (j + 1) % segments, rim + j);
    }

    // Box turned by 30 degrees about the vertical.
    {
        const int cells = cellsFor(0.11 * budget / 5.0);
        const V3 c{1.3, 0, 1.7};
        const double s = 0.75, ca = std::cos(kPi / 6), sa = std::sin(kPi / 6);
        const V3 ex{s * ca, 0, -s * sa}, ey{0, 2 * s, 0}, ez{s * sa, 0, s * ca};
        auto unit = [](V3 a, double len) { return (1.0 / len) * a; };
        const V3 nx = unit(ex, s), nz = unit(ez, s);
        b.setColor(0.85f, 0.85f, 0.88f);
        const V3 base = c + (-1.0) * ex + (-1.0) * ez;
        b.panel(base + 2.0 * ex, 2.0 * ez, ey, nx, cells);                    // +x side
        b.panel(base, ey, 2.0 * ez, -1.0 * nx, cells);                         // -x side
        b.panel(base + 2.0 * ez, ey, 2.0 * ex, nz, cells);                     // +z side
        b.panel(base, 2.0 * ex, ey, -1.0 * nz, cells);                         // -z side
        b.panel(base + ey, 2.0 * ez, 2.0 * ex, {0, 1, 0}, cells);              // top
    }
    return mesh;
}

}  // namespace vekr_render
