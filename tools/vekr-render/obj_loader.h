// Reading a Wavefront OBJ file into a Mesh.
#ifndef VEKR_RENDER_OBJ_LOADER_H
#define VEKR_RENDER_OBJ_LOADER_H

#include <cstdint>
#include <string>

#include "mesh.h"

namespace vekr_render {

// The largest coordinate magnitude a scene may have. Beyond it the
// products of two coordinate differences that ray tracing and the tree
// build's cost estimates form in single precision (areas, squared
// distances) could overflow; no real scene comes near it.
constexpr double kMaxCoordinate = 1e18;

// What loading did beyond filling the mesh, for the program's summary.
struct ObjLoadReport {
    int64_t polygonsSplit = 0;    // faces of more than three corners, split into triangles
    int64_t polygonsCrossed = 0;  // of those, faces that cross themselves
    int64_t mirrorTriangles = 0;  // triangles whose material mirrors light
    std::string warnings;         // one line, empty when there is nothing to say
};

// Loads path into mesh. Polygons are split into triangles (ear clipping,
// so concave ones keep their shape); per-corner normals, when every face
// has them, become per-vertex normals (a vertex used with several normals
// is split). Material colours (Kd) are used when the file names a material
// library, otherwise one neutral colour; materials with a reflecting
// illumination model (illum 3 to 7) mirror the share of light that their
// Ks colour gives.
// Returns false with a one-line reason in error when the file cannot be
// read or does not describe a usable triangle mesh: among others, a vertex
// or normal coordinate that is not a finite number (nan, inf, 1e400) or is
// larger in magnitude than kMaxCoordinate, with its line number.
bool loadObj(const std::string& path, Mesh& mesh, ObjLoadReport& report, std::string& error);

}  // namespace vekr_render

#endif
