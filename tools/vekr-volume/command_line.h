// The command line of vekr-volume: one command, options, INPUT and OUTPUT.
#ifndef VEKR_TOOLS_COMMAND_LINE_H
#define VEKR_TOOLS_COMMAND_LINE_H

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "volume_file.h"

namespace vekr_tool {

// A mistake in the command line: reported with a pointer to --help and
// exit status 2.
struct UsageError : ToolError {
    using ToolError::ToolError;
};

struct Options {
    std::string command;  // resize, warp, remap, filter
    std::string input, output;
    bool help = false, version = false, quiet = false;
    int interpolation = 2;  // linear
    int threads = 0;        // 0: the library's default
    std::optional<RawLayout> raw;
    std::optional<VoxelType> outputType;
    double fill = 0.0;
    std::string preview;
    int previewSize = 0;  // 0: the default

    // resize
    std::optional<std::array<double, 3>> factors;
    std::array<double, 3> shift{0.0, 0.0, 0.0};
    // resize and warp: the output extent
    std::optional<std::array<int, 3>> size;
    // warp
    std::optional<std::array<double, 12>> matrix;
    std::array<double, 3> rotate{0.0, 0.0, 0.0}, scale{1.0, 1.0, 1.0}, translate{0.0, 0.0, 0.0};
    bool similarity = false;  // any of rotate, scale, translate given
    // remap
    std::vector<std::string> maps;
    std::optional<RawLayout> mapRaw;
    // filter
    std::string kernelName, kernelFile;
    std::optional<int> divisor;
    std::optional<std::array<int, 3>> anchor;
};

Options parseCommandLine(int argc, char** argv);

// The interpolation mode of a name (nearest, linear, lagrange, bspline,
// catmull-rom, blend-cubic) or number.
int parseInterpolation(const std::string& name);
const char* interpolationName(int mode);

void printUsage(const std::string& command);

// The most threads --threads accepts: the processors this process may run
// on. More threads than that only wait for each other, and each one costs
// the resize a scratch area of its own.
int maxThreads();

}  // namespace vekr_tool

#endif
