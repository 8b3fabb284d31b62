// Scene arrays assembled in tests: three floats per vertex, four index words
// per triangle (the fourth filled with a marker that must never matter).
#ifndef VEKR_TESTS_SCENE_SCENE_ARRAYS_H
#define VEKR_TESTS_SCENE_SCENE_ARRAYS_H

#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace vekr_test {

using Vec3 = std::array<float, 3>;

struct SceneArrays {
    std::vector<float> vertices;
    std::vector<int32_t> triangles;

    int32_t vertexCount() const { return static_cast<int32_t>(vertices.size() / 3); }
    int32_t triangleCount() const { return static_cast<int32_t>(triangles.size() / 4); }

    int32_t addVertex(const Vec3& p)
    {
        vertices.insert(vertices.end(), p.begin(), p.end());
        return vertexCount() - 1;
    }
    // Fresh vertices for each triangle, added in reverse so that vertex
    // numbers and triangle order differ.
    void addTriangle(const Vec3& a, const Vec3& b, const Vec3& c)
    {
        const int32_t ic = addVertex(c), ib = addVertex(b), ia = addVertex(a);
        triangles.insert(triangles.end(), {ia, ib, ic, -12345});
    }
    Vec3 vertex(int32_t i) const { return {vertices[3 * i], vertices[3 * i + 1], vertices[3 * i + 2]}; }
};

// Random triangles of mixed size and position, including slivers whose
// third vertex lies close to the line through the first two (where a float
// cross product would lose most of its digits).
inline SceneArrays randomTriangles(int count, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::uniform_real_distribution<float> logScale(-3.0f, 3.0f);
    SceneArrays s;
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

}  // namespace vekr_test

#endif
