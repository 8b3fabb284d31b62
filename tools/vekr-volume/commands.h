// The four commands of vekr-volume, each from a loaded input to a result.
#ifndef VEKR_TOOLS_COMMANDS_H
#define VEKR_TOOLS_COMMANDS_H

#include "command_line.h"
#include "volume_file.h"

namespace vekr_tool {

// What a command produced, plus the grid change that a resize makes (for
// the output header's geometry).
struct Result {
    Volume volume;
    bool gridChanged = false;
    double gridScale[3] = {1.0, 1.0, 1.0};  // input voxels per output voxel
    double gridShift[3] = {0.0, 0.0, 0.0};  // input index of output voxel 0
};

Result runResize(const Options& o, const Volume& in);
Result runWarp(const Options& o, const Volume& in);
Result runRemap(const Options& o, const Volume& in);
Result runFilter(const Options& o, const Volume& in);

// The forward matrix of --rotate/--scale/--translate for an input and an
// output extent: rotation and scale about the input's centre, which lands on
// the output's centre, then the translation.
void similarityMatrix(const Options& o, const int inSize[3], const int outSize[3], double a[12]);

}  // namespace vekr_tool

#endif
