// Wavefront OBJ input through tinyobjloader, with the checks the loader
// leaves to its caller: it skips what it cannot parse and only warns about
// face indices outside the vertex list, so the mesh is validated here
// before the library ever sees it.
#include "obj_loader.h"

#include <tiny_obj_loader.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>

namespace vekr_render {

namespace {

// Clay grey for meshes without materials.
constexpr float kDefaultAlbedo[3] = {0.75f, 0.72f, 0.68f};

std::string firstLine(const std::string& text)
{
    std::string s = text.substr(0, text.find('\n'));
    while (!s.empty() && (s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

bool readable(const std::string& path, std::string& error)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = "cannot open '" + path + "': " + std::strerror(errno);
        return false;
    }
    std::fclose(f);
    return true;
}

}  // namespace

bool loadObj(const std::string& path, Mesh& mesh, std::string& error, std::string& warnings)
{
    if (!readable(path, error)) return false;

    tinyobj::ObjReaderConfig config;
    config.triangulate = true;
    config.vertex_color = false;
    tinyobj::ObjReader reader;
    if (!reader.ParseFromFile(path, config)) {
        error = "cannot read '" + path + "': " + firstLine(reader.Error());
        return false;
    }
    const tinyobj::attrib_t& attrib = reader.GetAttrib();
    const auto& shapes = reader.GetShapes();
    const auto& materials = reader.GetMaterials();

    const int64_t positionCount = static_cast<int64_t>(attrib.vertices.size() / 3);
    const int64_t normalCount = static_cast<int64_t>(attrib.normals.size() / 3);
    for (float c : attrib.vertices) {
        if (!std::isfinite(c)) {
            error = "'" + path + "' has a vertex coordinate that is not a finite number";
            return false;
        }
    }

    // Normals are used only when every corner of every face names one.
    bool allNormals = normalCount > 0;
    size_t cornerCount = 0;
    for (const auto& shape : shapes) {
        for (size_t f = 0; f < shape.mesh.num_face_vertices.size(); ++f) {
            if (shape.mesh.num_face_vertices[f] != 3) {
                error = "'" + path + "' has a face that could not be split into triangles";
                return false;
            }
        }
        for (const auto& idx : shape.mesh.indices) {
            if (idx.vertex_index < 0 || idx.vertex_index >= positionCount) {
                error = "'" + path + "' has a face whose vertex number is outside the vertex list";
                return false;
            }
            if (idx.normal_index < 0 || idx.normal_index >= normalCount) allNormals = false;
        }
        cornerCount += shape.mesh.indices.size();
    }
    if (cornerCount == 0) {
        error = "'" + path + "' holds no triangles";
        return false;
    }
    if (cornerCount / 3 > static_cast<size_t>(INT32_MAX / 4)) {
        error = "'" + path + "' has more triangles than the library can index";
        return false;
    }
    if (!reader.Warning().empty()) warnings += firstLine(reader.Warning());

    mesh = Mesh{};
    // Without normals the vertex list is taken as it is. With normals, each
    // distinct (position, normal) pair becomes a vertex of its own.
    std::map<std::pair<int, int>, int32_t> pairs;
    if (!allNormals) mesh.vertices = attrib.vertices;
    auto vertexOf = [&](const tinyobj::index_t& idx) -> int32_t {
        if (!allNormals) return idx.vertex_index;
        const auto key = std::make_pair(idx.vertex_index, idx.normal_index);
        const auto found = pairs.find(key);
        if (found != pairs.end()) return found->second;
        const int32_t v = mesh.vertexCount();
        for (int k = 0; k < 3; ++k) {
            mesh.vertices.push_back(attrib.vertices[3 * static_cast<size_t>(idx.vertex_index) + k]);
            mesh.vertexNormals.push_back(attrib.normals[3 * static_cast<size_t>(idx.normal_index) + k]);
        }
        pairs.emplace(key, v);
        return v;
    };

    for (const auto& shape : shapes) {
        const auto& m = shape.mesh;
        for (size_t f = 0; f < m.num_face_vertices.size(); ++f) {
            for (int k = 0; k < 3; ++k) mesh.triangles.push_back(vertexOf(m.indices[3 * f + k]));
            mesh.triangles.push_back(0);
            const int mat = f < m.material_ids.size() ? m.material_ids[f] : -1;
            const float* albedo = kDefaultAlbedo;
            if (mat >= 0 && static_cast<size_t>(mat) < materials.size()) albedo = materials[mat].diffuse;
            mesh.triangleColors.insert(mesh.triangleColors.end(), albedo, albedo + 3);
        }
    }
    return true;
}

}  // namespace vekr_render
