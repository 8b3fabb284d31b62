// Reading a Wavefront OBJ file into a Mesh.
#ifndef VEKR_RENDER_OBJ_LOADER_H
#define VEKR_RENDER_OBJ_LOADER_H

#include <string>

#include "mesh.h"

namespace vekr_render {

// Loads path into mesh. Polygons are split into triangles; per-corner
// normals, when every face has them, become per-vertex normals (a vertex
// used with several normals is split). Material colours (Kd) are used when
// the file names a material library, otherwise one neutral colour.
// Returns false with a one-line reason in error when the file cannot be read
// or does not describe a usable triangle mesh; warnings that do not stop
// the load are appended to warnings.
bool loadObj(const std::string& path, Mesh& mesh, std::string& error, std::string& warnings);

}  // namespace vekr_render

#endif
