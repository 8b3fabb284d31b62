// A triangle scene as the renderer holds it: the library's scene arrays plus
// what shading needs beyond them.
#ifndef VEKR_RENDER_MESH_H
#define VEKR_RENDER_MESH_H

#include <cstdint>
#include <vector>

namespace vekr_render {

struct Mesh {
    std::vector<float> vertices;        // x, y, z per vertex
    std::vector<int32_t> triangles;     // first, second, third vertex, unused word
    std::vector<float> vertexNormals;   // x, y, z per vertex; empty when the scene has none
    std::vector<float> triangleColors;  // linear RGB albedo per triangle
    std::vector<float> triangleMirror;  // RGB share of light mirrored per triangle; empty: no mirrors

    int32_t vertexCount() const { return static_cast<int32_t>(vertices.size() / 3); }
    int32_t triangleCount() const { return static_cast<int32_t>(triangles.size() / 4); }
    bool hasVertexNormals() const { return !vertexNormals.empty(); }
    bool hasMirrors() const { return !triangleMirror.empty(); }
};

}  // namespace vekr_render

#endif
