// What a resize kernel receives once the checks and the plan are done: the
// two typed volume layouts, the source volume's extent, the plan and the
// mode. Each kernel runs over a slab of destination planes with its own
// piece of the caller's scratch buffer.
#ifndef VEKR_VOLUME_RESIZE_JOB_H
#define VEKR_VOLUME_RESIZE_JOB_H

#include <cstdint>

#include "volume/resize_plan.h"

namespace vekr {
namespace volume {

template <class Src, class Dst>
struct ResizeJob {
    Src src;  // layout of const voxels
    Dst dst;
    VekrVolume srcVolume;
    VekrResizePlan plan;
    int32_t mode;
};

// A run of destination columns, relative to the plan's first column.
struct ColumnSpan {
    int32_t begin, end;
};

}  // namespace volume
}  // namespace vekr

#endif
