// Scene arrays for tests: seeded random triangle soups and ray sets, and the
// bunny of the data folder.
#ifndef VEKR_TESTS_SUPPORT_RANDOM_SCENE_H
#define VEKR_TESTS_SUPPORT_RANDOM_SCENE_H

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "support/brute_force.h"

namespace vekr_test {

using Vec3 = std::array<float, 3>;

struct TriangleSoup {
    std::vector<float> vertices;     // 3 per vertex
    std::vector<int32_t> triangles;  // 4 per triangle, the fourth a marker that must never matter
    int32_t vertexCount() const { return static_cast<int32_t>(vertices.size() / 3); }
    int32_t triangleCount() const { return static_cast<int32_t>(triangles.size() / 4); }
    MeshView view() const { return MeshView{vertices.data(), triangles.data(), triangleCount()}; }

    int32_t addVertex(float x, float y, float z)
    {
        vertices.insert(vertices.end(), {x, y, z});
        return vertexCount() - 1;
    }
    int32_t addTriangle(int32_t a, int32_t b, int32_t c)
    {
        triangles.insert(triangles.end(), {a, b, c, -12345});
        return triangleCount() - 1;
    }
    // Fresh vertices added in reverse, so that vertex numbers and triangle
    // order differ.
    int32_t addTriangle(const Vec3& a, const Vec3& b, const Vec3& c)
    {
        const int32_t ic = addVertex(c[0], c[1], c[2]), ib = addVertex(b[0], b[1], b[2]);
        return addTriangle(addVertex(a[0], a[1], a[2]), ib, ic);
    }
    int32_t addTriangle(const float a[3], const float b[3], const float c[3])
    {
        return addTriangle(Vec3{a[0], a[1], a[2]}, Vec3{b[0], b[1], b[2]}, Vec3{c[0], c[1], c[2]});
    }
    // Two triangles making the du x dv rectangle from corner o, lying flat
    // across `axis` (spanning the next two axes in turn).
    void addAxisQuad(const Vec3& o, int axis, float du, float dv)
    {
        const int u = (axis + 1) % 3, v = (axis + 2) % 3;
        Vec3 p[4] = {o, o, o, o};
        p[1][u] += du;
        p[2][u] += du;
        p[2][v] += dv;
        p[3][v] += dv;
        addTriangle(p[0], p[1], p[2]);
        addTriangle(p[0], p[2], p[3]);
    }
    Vec3 vertex(int32_t i) const { return {vertices[3 * i], vertices[3 * i + 1], vertices[3 * i + 2]}; }
};

// count triangles with centres uniform in [-extent, extent]^3 and corners up
// to `size` from the centre. Every 17th triangle is made degenerate (its third
// corner on the line through the other two), and about a quarter share an
// edge with the triangle before, so shared edges occur as in real meshes.
inline TriangleSoup randomSoup(uint32_t seed, int32_t count, float extent = 5.0f, float size = 1.5f)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> centre(-extent, extent), corner(-size, size), unit(0.0f, 1.0f);
    TriangleSoup s;
    for (int32_t j = 0; j < count; ++j) {
        const float cx = centre(rng), cy = centre(rng), cz = centre(rng);
        const int32_t prev = s.triangleCount() - 1;
        if (prev >= 0 && unit(rng) < 0.25f) {
            // Share the previous triangle's first edge, fold the new corner away.
            const int32_t a = s.triangles[4 * prev], b = s.triangles[4 * prev + 1];
            const float* pa = &s.vertices[3 * a];
            const int32_t c = s.addVertex(pa[0] + corner(rng), pa[1] + corner(rng), pa[2] + corner(rng));
            s.addTriangle(b, a, c);
            continue;
        }
        const int32_t a = s.addVertex(cx + corner(rng), cy + corner(rng), cz + corner(rng));
        const int32_t b = s.addVertex(cx + corner(rng), cy + corner(rng), cz + corner(rng));
        if (j % 17 == 16) {
            const float* pa = &s.vertices[3 * a];
            const float* pb = &s.vertices[3 * b];
            const int32_t c = s.addVertex(2 * pb[0] - pa[0], 2 * pb[1] - pa[1], 2 * pb[2] - pa[2]);
            s.addTriangle(a, b, c);
            continue;
        }
        const int32_t c = s.addVertex(cx + corner(rng), cy + corner(rng), cz + corner(rng));
        s.addTriangle(a, b, c);
    }
    return s;
}

// Triangles of mixed size (1e-3 to 1e3) and position, every fifth a sliver
// whose third vertex lies close to the line through the first two (where a
// float cross product loses most of its digits).
inline TriangleSoup randomTriangles(uint32_t seed, int count)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f), logScale(-3.0f, 3.0f);
    TriangleSoup s;
    for (int i = 0; i < count; ++i) {
        const float scale = std::pow(10.0f, logScale(rng));
        const Vec3 o = {unit(rng) * 100.0f, unit(rng) * 100.0f, unit(rng) * 100.0f};
        Vec3 p[3];
        for (auto& v : p)
            for (int k = 0; k < 3; ++k) v[k] = o[k] + scale * unit(rng);
        if (i % 5 == 4)
            for (int k = 0; k < 3; ++k) p[2][k] = 0.5f * (p[0][k] + p[1][k]) + 1e-6f * scale * unit(rng);
        s.addTriangle(p[0], p[1], p[2]);
    }
    return s;
}

// The soup without its near-degenerate triangles: twice the area against
// the square of the longest edge below 1e-3.
inline TriangleSoup wellShaped(const TriangleSoup& soup)
{
    TriangleSoup out;
    for (int32_t j = 0; j < soup.triangleCount(); ++j) {
        Vec3 p[3];
        for (int c = 0; c < 3; ++c) p[c] = soup.vertex(soup.triangles[4 * j + c]);
        double e1[3], e2[3], e3[3];
        for (int a = 0; a < 3; ++a) {
            e1[a] = double(p[1][a]) - p[0][a];
            e2[a] = double(p[2][a]) - p[0][a];
            e3[a] = double(p[2][a]) - p[1][a];
        }
        const double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                             e1[0] * e2[1] - e1[1] * e2[0]};
        auto sq = [](const double* v) { return v[0] * v[0] + v[1] * v[1] + v[2] * v[2]; };
        const double longest = std::max({sq(e1), sq(e2), sq(e3)});
        if (std::sqrt(sq(n)) > 1e-3 * longest) out.addTriangle(p[0], p[1], p[2]);
    }
    return out;
}

// The bunny of the data folder ("v x y z" and "f a b c" lines, 1-based);
// false when the file cannot be read.
inline bool loadBunny(TriangleSoup& s)
{
    FILE* f = std::fopen(VEKR_DATA_DIR "/bunny.obj", "r");
    if (!f) return false;
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
        float x, y, z;
        int a, b, c;
        if (std::sscanf(line, "v %f %f %f", &x, &y, &z) == 3)
            s.addVertex(x, y, z);
        else if (std::sscanf(line, "f %d %d %d", &a, &b, &c) == 3)
            s.addTriangle(a - 1, b - 1, c - 1);
    }
    std::fclose(f);
    return s.triangleCount() > 0;
}

struct RaySet {
    std::vector<float> o[3], d[3], tmax;
    size_t size() const { return tmax.size(); }
};

// count rays with origins uniform in [-extent, extent]^3 and random
// directions of length 0.5 to 2. Every 8th ray runs parallel to a coordinate
// axis (two exact zero components), and every 5th has a finite limit that
// cuts some hits off; the rest reach to 1e30.
inline RaySet randomRays(uint32_t seed, size_t count, float extent)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> pos(-extent, extent), unit(-1.0f, 1.0f), len(0.5f, 2.0f),
        limit(0.5f, 12.0f);
    RaySet r;
    for (size_t i = 0; i < count; ++i) {
        float dir[3];
        if (i % 8 == 7) {
            const int axis = static_cast<int>(i / 8 % 3);
            dir[0] = dir[1] = dir[2] = 0.0f;
            dir[axis] = (i / 24 % 2 ? -1.0f : 1.0f) * len(rng);
        } else {
            float q;
            do {
                for (float& c : dir) c = unit(rng);
                q = dir[0] * dir[0] + dir[1] * dir[1] + dir[2] * dir[2];
            } while (q > 1.0f || q < 1e-4f);
            const float s = len(rng) / std::sqrt(q);
            for (float& c : dir) c *= s;
        }
        for (int a = 0; a < 3; ++a) {
            r.o[a].push_back(pos(rng));
            r.d[a].push_back(dir[a]);
        }
        r.tmax.push_back(i % 5 == 4 ? limit(rng) : 1e30f);
    }
    return r;
}

}  // namespace vekr_test

#endif
