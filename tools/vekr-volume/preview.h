// The --preview picture: the three middle slices of a volume side by side in
// one grey-scale PNG, for a quick look without a viewer.
#ifndef VEKR_TOOLS_PREVIEW_H
#define VEKR_TOOLS_PREVIEW_H

#include <string>

#include "volume_file.h"

namespace vekr_tool {

// Left to right: the x-y slice at z = depth / 2, the x-z slice at
// y = height / 2 and the y-z slice at x = width / 2, separated by a dark
// gap. Grey levels span the volume's smallest to largest value.
void writePreview(const std::string& path, const Volume& v);

}  // namespace vekr_tool

#endif
