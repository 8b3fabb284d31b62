// The scene rendered when no file is given: a room corner (floor, back and
// left wall) holding a sphere, a torus, a cylinder and a box.
#ifndef VEKR_RENDER_BUILTIN_SCENE_H
#define VEKR_RENDER_BUILTIN_SCENE_H

#include <cstdint>

#include "mesh.h"

namespace vekr_render {

// Tessellates the scene so that it has about targetTriangles triangles (at
// least a few hundred: every object keeps a recognisable shape). Curved
// objects carry smooth vertex normals; flat faces have vertices of their own.
Mesh makeBuiltinScene(int32_t targetTriangles);

}  // namespace vekr_render

#endif
