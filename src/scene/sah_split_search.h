// The split search of the SAH build: for one node, whether to split and
// where, by a surface-area cost over sorted candidate planes.
#ifndef VEKR_SCENE_SAH_SPLIT_SEARCH_H
#define VEKR_SCENE_SAH_SPLIT_SEARCH_H

#include "scene/sah_context.h"

namespace vekr::sah {

// Nodes with more fragments than this search their axes on one thread each.
constexpr int32_t kParallelSearchMinimum = 75;

struct SplitChoice {
    bool split;
    int axis;
    float position;
    int32_t left;   // fragments the children will hold
    int32_t right;
    int32_t side;   // fragments lying in the plane go left (0) or right (1)
};

// n >= 1 fragments of a node with the given cell; factor is the descriptor's
// split factor. Uses the context's scratch groups; allocates nothing.
SplitChoice findSplit(const Context& ctx, const Fragment* entries, int32_t n, const float box[6], float factor);

// Ascending sort of order-preserving float keys: a three-pass radix sort for
// lists longer than 320 values, a comparison sort below. scratch holds at
// least count values.
void sortKeys(uint32_t* keys, int32_t count, uint32_t* scratch);

}  // namespace vekr::sah

#endif
