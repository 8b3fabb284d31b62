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
#ifndef VEKR_INTERSECT_TREE_GEOMETRY_BOUND_H
#define VEKR_INTERSECT_TREE_GEOMETRY_BOUND_H

#include <cstddef>

#include "vekr_scene.h"

namespace vekr::isect {

// Writes the box (min x, y, z, max x, y, z) and returns true. Returns false,
// leaving box unspecified, when the shell takes more than `budget` steps (one
// per node and one per triangle read), when it holds no triangle that can be
// hit, or when a record is too ill-conditioned to give its corners reliably.
// The box is a superset: every triangle listed in a leaf whose cell is open,
// and every cell that is closed, lies inside it with a margin of at least
// 2^-12 of the box's largest coordinate magnitude.
bool boundTreeGeometry(const VekrKDTreeNode* root, const VekrTriangleAccel* accel, size_t budget, float box[6]);

// Whether p lies in a leaf whose cell is closed on all six sides, that is,
// inside the box that the tree's splits enclose. A point in an open cell
// may lie outside the triangles' box; one in a closed cell does not gain
// from knowing it.
bool liesInClosedCell(const VekrKDTreeNode* root, const float p[3]);

// The corners of a triangle from its record (min x, y, z, max x, y, z), or
// false for a degenerate record or one whose corners cannot be recovered to
// within a small fraction of its size.
bool boundTriangleRecord(const VekrTriangleAccel& r, double box[6]);

}  // namespace vekr::isect

#endif
