// The --preview picture: the three middle slices of a volume side by side in
// one grey-scale PNG, for a quick look without a viewer.
#ifndef VEKR_TOOLS_PREVIEW_H
#define VEKR_TOOLS_PREVIEW_H

#include "output_file.h"
#include "volume_file.h"

namespace vekr_tool {

// Longer side of the picture when --preview-size is not given: big enough
// to judge a resampling on a screen, small enough to open anywhere.
constexpr int kDefaultPreviewSize = 768;

// Left to right: the x-y slice at z = depth / 2, the x-z slice at
// y = height / 2 and the y-z slice at x = width / 2, separated by a dark
// gap. The slices keep the proportions of the voxel sizes (spacing, in any
// unit) and are scaled, with bilinear sampling, so that the picture's longer
// side is `size` pixels. Grey levels span the volume's smallest to largest
// finite value; NaN voxels are left out of the sampling.
void writePreview(OutputFile& file, const Volume& v, const double spacing[3], int size);

}  // namespace vekr_tool

#endif
