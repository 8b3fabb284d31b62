// Wavefront OBJ input through tinyobjloader, with the checks the loader
// leaves to its caller: it only warns about face indices outside the vertex
// list, and it reads a number it cannot parse ("nan", "inf", "1,5") as 0
// without a word, so coordinates are read and checked here before the
// library ever sees them.
#include "obj_loader.h"

#include <tiny_obj_loader.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "triangulate.h"

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

// How a material shades: its diffuse colour and the share of light it
// mirrors, each channel in 0..1 (the reader takes "nan" as 0 and 1e400 as
// infinity, neither of which may reach the shading).
struct Surface {
    float albedo[3];
    float mirror[3];
    bool mirrors() const { return mirror[0] > 0 || mirror[1] > 0 || mirror[2] > 0; }
};

float unit(float v) { return v > 0.0f ? std::min(v, 1.0f) : 0.0f; }

// The MTL illumination models 3 to 7 are the ones with ray-traced
// reflection (3 plain, 4 glass, 5 Fresnel, 6 and 7 with refraction): their
// surfaces mirror the share of light their Ks colour gives. The others
// (0 to 2: flat, diffuse, highlights; 8 and 9: reflection without ray
// tracing) are diffuse here.
Surface surfaceOf(const tinyobj::material_t& m)
{
    Surface s{};
    const bool reflects = m.illum >= 3 && m.illum <= 7;
    for (int k = 0; k < 3; ++k) {
        s.albedo[k] = unit(m.diffuse[k]);
        s.mirror[k] = reflects ? unit(m.specular[k]) : 0.0f;
    }
    return s;
}

// The coordinates of the "v" (positions) and "vn" (normals) lines of an
// OBJ file, read with the line splitting and line tests that tinyobjloader
// uses, so that both see the same lines in the same order.
//
// It also counts the corners of each face ("f" line) of three or more
// corners: the reader keeps that count in a byte, so a face of more than
// 255 corners would be misread from its count alone.
class CoordinateReader {
public:
    std::vector<float> positions, normals;
    std::vector<uint32_t> faceCorners;

    bool read(const std::string& path, std::string& error)
    {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) {
            error = "cannot open '" + path + "': " + std::strerror(errno);
            return false;
        }
        std::string line;
        int64_t number = 0;
        bool ok = true;
        int c = 0;
        while (ok && c != EOF) {
            line.clear();
            while ((c = getc_unlocked(f)) != EOF && c != '\n' && c != '\r') line += static_cast<char>(c);
            if (c == '\r') {
                const int d = std::getc(f);
                if (d != '\n' && d != EOF) std::ungetc(d, f);
            }
            ++number;
            ok = readLine(path, number, line, error);
        }
        const bool failed = std::ferror(f);
        std::fclose(f);
        if (ok && failed) {
            error = "cannot read '" + path + "': " + std::strerror(errno);
            ok = false;
        }
        return ok;
    }

private:
    bool readLine(const std::string& path, int64_t number, const std::string& line, std::string& error)
    {
        const char* p = line.c_str();
        p += std::strspn(p, " \t");
        std::vector<float>* out = nullptr;
        const char* what = nullptr;
        if (p[0] == 'v' && (p[1] == ' ' || p[1] == '\t')) {
            out = &positions, what = "vertex";
            p += 2;
        } else if (p[0] == 'v' && p[1] == 'n' && (p[2] == ' ' || p[2] == '\t')) {
            out = &normals, what = "normal";
            p += 3;
        } else if (p[0] == 'f' && (p[1] == ' ' || p[1] == '\t')) {
            uint32_t corners = 0;
            for (p += 2; *(p += std::strspn(p, " \t")) != '\0'; p += std::strcspn(p, " \t")) ++corners;
            if (corners >= 3) faceCorners.push_back(corners);
            return true;
        } else {
            return true;
        }
        const std::string where = "'" + path + "' line " + std::to_string(number) + ": ";
        for (int k = 0; k < 3; ++k) {
            p += std::strspn(p, " \t");
            const size_t length = std::strcspn(p, " \t");
            if (length == 0) {
                error = where + what + " with fewer than three coordinates";
                return false;
            }
            const std::string token(p, length);
            p += length;
            char* end = nullptr;
            const double value = std::strtod(token.c_str(), &end);
            if (*end != '\0') {
                error = where + what + " coordinate '" + token + "' is not a number";
                return false;
            }
            if (!std::isfinite(value)) {
                error = where + what + " coordinate '" + token + "' is not a finite number";
                return false;
            }
            if (std::fabs(value) > kMaxCoordinate) {
                error = where + what + " coordinate '" + token + "' is out of range (magnitudes up to 1e18)";
                return false;
            }
            out->push_back(static_cast<float>(value));
        }
        return true;
    }
};

}  // namespace

bool loadObj(const std::string& path, Mesh& mesh, ObjLoadReport& report, std::string& error)
{
    CoordinateReader coordinates;
    if (!coordinates.read(path, error)) return false;

    tinyobj::ObjReaderConfig config;
    config.triangulate = false;  // done below, correctly for concave polygons
    config.vertex_color = false;
    tinyobj::ObjReader reader;
    if (!reader.ParseFromFile(path, config)) {
        error = "cannot read '" + path + "': " + firstLine(reader.Error());
        return false;
    }
    const tinyobj::attrib_t& attrib = reader.GetAttrib();
    const auto& shapes = reader.GetShapes();
    const auto& materials = reader.GetMaterials();
    if (attrib.vertices.size() != coordinates.positions.size() || attrib.normals.size() != coordinates.normals.size()) {
        error = "cannot read '" + path + "': its vertex lines could not be read consistently";
        return false;
    }
    const std::vector<float>& positions = coordinates.positions;
    const std::vector<float>& normals = coordinates.normals;

    const int64_t positionCount = static_cast<int64_t>(positions.size() / 3);
    if (positionCount > INT32_MAX) {
        error = "'" + path + "' has more vertices than the library can index";
        return false;
    }
    const int64_t normalCount = static_cast<int64_t>(normals.size() / 3);

    // The corner counts the reader kept (modulo 256) must agree with those
    // counted here, face by face; then the ones counted here are used.
    const std::vector<uint32_t>& faceCorners = coordinates.faceCorners;
    bool consistent = true;
    size_t face = 0;
    for (const auto& shape : shapes) {
        size_t corners = 0;
        for (const unsigned char byte : shape.mesh.num_face_vertices) {
            if (face == faceCorners.size() || (faceCorners[face] & 0xFF) != byte) {
                consistent = false;
                break;
            }
            corners += faceCorners[face++];
        }
        if (!consistent || corners != shape.mesh.indices.size()) {
            consistent = false;
            break;
        }
    }
    if (!consistent || face != faceCorners.size()) {
        error = "cannot read '" + path + "': its face lines could not be read consistently";
        return false;
    }

    // Normals are used only when every corner of every face names one.
    bool allNormals = normalCount > 0;
    size_t triangleBound = 0;  // triangles the faces can give at most
    for (const auto& shape : shapes) {
        for (const auto& idx : shape.mesh.indices) {
            if (idx.vertex_index < 0 || idx.vertex_index >= positionCount) {
                error = "'" + path + "' has a face whose vertex number is outside the vertex list";
                return false;
            }
            if (idx.normal_index < 0 || idx.normal_index >= normalCount) allNormals = false;
        }
    }
    for (const uint32_t corners : faceCorners) triangleBound += corners - 2;
    if (triangleBound > static_cast<size_t>(INT32_MAX / 4)) {
        error = "'" + path + "' has more triangles than the library can index";
        return false;
    }
    if (!reader.Warning().empty()) report.warnings = firstLine(reader.Warning());

    mesh = Mesh{};
    // Without normals the vertex list is taken as it is. With normals, each
    // distinct (position, normal) pair becomes a vertex of its own.
    std::map<std::pair<int, int>, int32_t> pairs;
    if (!allNormals) mesh.vertices = positions;
    auto vertexOf = [&](const tinyobj::index_t& idx) -> int32_t {
        if (!allNormals) return idx.vertex_index;
        const auto key = std::make_pair(idx.vertex_index, idx.normal_index);
        const auto found = pairs.find(key);
        if (found != pairs.end()) return found->second;
        const int32_t v = mesh.vertexCount();
        for (int k = 0; k < 3; ++k) {
            mesh.vertices.push_back(positions[3 * static_cast<size_t>(idx.vertex_index) + k]);
            mesh.vertexNormals.push_back(normals[3 * static_cast<size_t>(idx.normal_index) + k]);
        }
        pairs.emplace(key, v);
        return v;
    };

    std::vector<Surface> surfaces;
    for (const auto& material : materials) surfaces.push_back(surfaceOf(material));
    const Surface plain{{kDefaultAlbedo[0], kDefaultAlbedo[1], kDefaultAlbedo[2]}, {0, 0, 0}};

    std::vector<double> corners;
    std::vector<int> split;
    face = 0;
    for (const auto& shape : shapes) {
        const auto& m = shape.mesh;
        size_t first = 0;  // the face's first entry in m.indices
        for (size_t f = 0; f < m.num_face_vertices.size(); first += faceCorners[face++], ++f) {
            const int n = static_cast<int>(faceCorners[face]);
            corners.clear();
            for (int c = 0; c < n; ++c) {
                const size_t v = static_cast<size_t>(m.indices[first + c].vertex_index);
                corners.insert(corners.end(), {positions[3 * v], positions[3 * v + 1], positions[3 * v + 2]});
            }
            split.clear();
            if (!triangulatePolygon(corners, split)) ++report.polygonsCrossed;
            if (n > 3) ++report.polygonsSplit;

            const int mat = f < m.material_ids.size() ? m.material_ids[f] : -1;
            const Surface& look = mat >= 0 && static_cast<size_t>(mat) < surfaces.size() ? surfaces[mat] : plain;
            for (size_t t = 0; t < split.size(); t += 3) {
                for (int k = 0; k < 3; ++k) mesh.triangles.push_back(vertexOf(m.indices[first + split[t + k]]));
                mesh.triangles.push_back(0);
                mesh.triangleColors.insert(mesh.triangleColors.end(), look.albedo, look.albedo + 3);
                mesh.triangleMirror.insert(mesh.triangleMirror.end(), look.mirror, look.mirror + 3);
                report.mirrorTriangles += look.mirrors();
            }
        }
    }
    if (mesh.triangles.empty()) {
        error = "'" + path + "' holds no triangles";
        return false;
    }
    if (report.mirrorTriangles == 0) mesh.triangleMirror.clear();  // no mirror pass at all
    return true;
}

}  // namespace vekr_render
