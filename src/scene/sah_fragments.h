// Fragments of the SAH build: triangles as convex polygons, clipped to the
// build box at the root and cut in two where they straddle a split plane.
#ifndef VEKR_SCENE_SAH_FRAGMENTS_H
#define VEKR_SCENE_SAH_FRAGMENTS_H

#include "scene/sah_context.h"

namespace vekr::sah {

// Per axis the index of a vertex with the largest and one with the smallest
// coordinate, ties going to the lower index, packed as a fragment's
// extremes word.
uint32_t extremeWord(const float* const* vertices, int count);

// Makes the fragments of all triangles as the consecutive working array at
// the bottom of the entry arena and the root cell. Without a build box every
// triangle becomes one whole fragment and the cell is the bounds of all
// vertices; with one, triangles are clipped to it (those left with fewer
// than three vertices are dropped) and the cell is the box as given. Whole
// triangles are made on up to `threads` threads.
VekStatus makeRootFragments(Context& ctx, const float* buildBox, int threads, float rootBox[6], int32_t* rootCount,
                            uint32_t* workingArray);

// Cuts a fragment with lo < p < hi on the axis into the part below and the
// part above the plane; vertices made on the plane go to the vertex arena.
VekStatus cutFragment(Context& ctx, const Fragment& f, int axis, float p, Fragment* lower, Fragment* upper);

}  // namespace vekr::sah

#endif
