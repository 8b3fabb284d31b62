// The split search of the SAH build: for one node, whether to split and
// where, by a surface-area cost over sorted candidate planes.
#ifndef VEKR_SCENE_SAH_SPLIT_SEARCH_H
#define VEKR_SCENE_SAH_SPLIT_SEARCH_H

#include "scene/sah_event_lists.h"

namespace vekr::sah {

struct SplitChoice {
    bool split;
    int axis;
    float position;
    int32_t left;   // fragments the children will hold
    int32_t right;
    int32_t side;   // fragments lying in the plane go left (0) or right (1)
};

// A node of n >= 1 fragments with the given cell, its candidates sorted
// in `lists`; factor is the descriptor's split factor. axisTasks: search
// the axes as three OpenMP tasks. Allocates nothing.
SplitChoice findSplit(const NodeLists& lists, int32_t n, const float box[6], float factor, bool axisTasks);

}  // namespace vekr::sah

#endif
