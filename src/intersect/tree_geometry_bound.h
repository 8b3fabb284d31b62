// A box around every triangle a kd-tree can hand to a walk, found from the
// tree and the triangle records alone.
//
// The occlusion test gets no scene box, so a shadow ray from a light outside
// the scene walks the cells of the tree's outer layer, which reach out to
// infinity, all the way from the light to the scene. No triangle lies out
// there; knowing where the triangles end lets the packet walk start where the
// scene does.
//
// Only the tree's outer shell is read. A subtree whose cell is bounded on all
// six sides is bounded by that cell and not entered; a leaf whose cell is
// open on some side is bounded by its triangles, whose corners are recovered
// from their records.
//
// A walk that starts at the box still meets every triangle it could block a
// ray with, provided each triangle is listed in every leaf whose cell it
// crosses: a crossing inside the box then lies in a cell, visited from the
// box on, that lists the triangle. The library's builds list triangles so.
// Where a build box has cut a triangle, its part outside that box is listed
// nowhere; a walk from the light finds a crossing there only when the ray
// happens to pass an open cell listing the triangle on its way in, and a
// walk from the box does not.
#ifndef VEKR_INTERSECT_TREE_GEOMETRY_BOUND_H
#define VEKR_INTERSECT_TREE_GEOMETRY_BOUND_H

#include <cstddef>

#include "vekr_scene.h"

namespace vekr::isect {

// Sides of a box as bits: bit a for the min side of axis a, bit a + 3 for
// the max side, in the order of the box's six values.
constexpr unsigned kAllSides = 0x3F;

// Writes the box (min x, y, z, max x, y, z) and returns true. Only the sides
// in `sides` are bounded; the others are written as -inf or +inf, and cells
// open only on them count as closed, which keeps the walk to the part of
// the shell that faces those sides. Returns false, leaving box unspecified,
// when that shell takes more than `budget` steps (one per node and one per
// triangle read), when it holds no triangle that can be hit, or when a
// record is too ill-conditioned to give its corners reliably.
//
// The box is a superset: every triangle listed in a leaf whose cell is open
// on one of the sides (as the triangle test sees it: a record flagged as
// lying in its axis plane counts as flat), and every cell that is closed on
// all of them, lies inside it. Its values are the exact bounds rounded
// outwards; callers add the margin their own arithmetic needs.
bool boundTreeGeometry(const VekrKDTreeNode* root, const VekrTriangleAccel* accel, size_t budget, unsigned sides,
                       float box[6]);

// The sides on which the cell of the leaf holding p is open (bits as
// above): a side on which a point lies beyond the triangles is always among
// them. 0 means p lies inside the box that the tree's splits enclose.
unsigned openSidesAt(const VekrKDTreeNode* root, const float p[3]);

// The corners of a triangle from its record (min x, y, z, max x, y, z), or
// false for a degenerate record or one whose corners cannot be recovered to
// within a small fraction of its size.
bool boundTriangleRecord(const VekrTriangleAccel& r, double box[6]);

}  // namespace vekr::isect

#endif
