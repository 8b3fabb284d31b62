// Splitting the polygons of a mesh file into triangles.
#ifndef VEKR_RENDER_TRIANGULATE_H
#define VEKR_RENDER_TRIANGULATE_H

#include <vector>

namespace vekr_render {

// Splits a polygon of n corners (x, y, z each, in order around it) into
// triangles by ear clipping in the polygon's own plane, which handles
// concave polygons that a fan from one corner would cover wrongly. Appends
// each triangle as three corner numbers (0 to n - 1), wound the same way
// round as the polygon, to triangles.
//
// Corners on a straight edge are kept as triangle corners (a neighbouring
// face may meet them), but no triangle of zero area is made; a polygon of
// no area gives no triangles. Returns false when the polygon crosses
// itself: it is then still split completely, as well as it allows.
bool triangulatePolygon(const std::vector<double>& corners, std::vector<int>& triangles);

}  // namespace vekr_render

#endif
