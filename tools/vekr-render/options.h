// Command line of vekr-render.
#ifndef VEKR_RENDER_OPTIONS_H
#define VEKR_RENDER_OPTIONS_H

#include <cstdint>
#include <string>

namespace vekr_render {

enum class TreeKind { Sah, Simple };

struct Options {
    std::string scenePath;  // empty: the built-in scene
    std::string outputPath = "render.png";
    std::string triangleMapPath;  // empty: none
    int32_t width = 512, height = 512;
    TreeKind tree = TreeKind::Sah;
    int32_t builtinTriangles = 0;  // 0: chosen from the tree kind
    int32_t treeMemoryMB = 1024;   // working-memory limit of the SAH build
    bool hasEye = false, hasLookAt = false, hasLight = false;
    double eye[3] = {0, 0, 0}, lookAt[3] = {0, 0, 0}, up[3] = {0, 1, 0}, light[3] = {0, 0, 0};
    double fovDegrees = 40.0;
    bool smooth = false;
    bool shadows = true;  // trace a shadow ray from the light to every lit point
    int32_t bounces = 2;     // mirror reflections followed per eye ray
    int32_t xrayLayers = 0;  // above 0: count up to this many surfaces per eye ray instead of shading
    int threads = 0;  // 0: all available
    bool quiet = false;
};

enum class ParseResult { Run, Exit, UsageError };

// Parses argv into options. Prints --help or --version to stdout (Exit) or a
// diagnostic to stderr (UsageError).
ParseResult parseOptions(int argc, char** argv, Options& options);

const char* treeName(TreeKind kind);

}  // namespace vekr_render

#endif
