#include "options.h"

#include <getopt.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vekr.h"

namespace vekr_render {

namespace {

const char kUsage[] =
    "Usage: vekr-render [OPTION]... [SCENE.obj]\n"
    "Ray-cast a triangle scene into a PNG image with the vekr library.\n"
    "With no SCENE, render a built-in room scene.\n"
    "\n"
    "Output:\n"
    "  -o, --output=FILE       write the image to FILE (default: render.png)\n"
    "  -s, --size=WxH          image size in pixels, or N for N x N (default: 512x512)\n"
    "      --triangle-map=FILE also write the triangle seen through each pixel as\n"
    "                          text: \"width height\", then one row of numbers per\n"
    "                          image row, -1 where no triangle is seen\n"
    "\n"
    "Scene:\n"
    "      --tree=KIND         kd-tree: sah (default) or simple (one leaf holding\n"
    "                          every triangle: each ray tests them all)\n"
    "      --tree-memory=MB    working memory the sah build may use, 32 to 4095\n"
    "                          (default: 1024); a scene needs about 81 MB and\n"
    "                          more for many triangles: too small a budget is\n"
    "                          reported with what the scene needs\n"
    "      --triangles=N       approximate size of the built-in scene (default:\n"
    "                          100000 with the sah tree, 2000 with the simple tree)\n"
    "      --smooth            interpolate vertex normals; computed from the faces\n"
    "                          when the file has none (default: the file's normals\n"
    "                          if it has them, flat shading otherwise)\n"
    "\n"
    "Camera and light (default: framed from the scene's bounding box):\n"
    "      --eye=X,Y,Z         camera position\n"
    "      --look-at=X,Y,Z     point at the centre of the image\n"
    "      --up=X,Y,Z          up direction (default: 0,1,0)\n"
    "      --fov=DEGREES       vertical field of view (default: 40)\n"
    "      --light=X,Y,Z       point light position\n"
    "      --no-shadows        light every surface that faces the light (default:\n"
    "                          hard shadows, one any-hit ray per lit point)\n"
    "      --bounces=N         mirror reflections followed per pixel, 0 to 16\n"
    "                          (default: 2). Only mirrors reflect: the built-in\n"
    "                          scene's ball, and in OBJ files the materials with\n"
    "                          illum 3 to 7, which mirror their Ks colour\n"
    "      --xray=N            x-ray picture: brightness counts the surfaces each\n"
    "                          eye ray passes through, up to N (1 to 64)\n"
    "\n"
    "Run:\n"
    "  -t, --threads=N         render threads (default: all available)\n"
    "  -q, --quiet             no progress bar and no summary\n"
    "  -h, --help              display this help and exit\n"
    "      --version           output version information and exit\n"
    "\n"
    "OBJ polygons are split into triangles by ear clipping, so concave ones keep\n"
    "their shape. Coordinates must be finite numbers within 1e18 in magnitude.\n"
    "The image and the triangle map appear whole or not at all: they are written\n"
    "to temporary files beside them and renamed into place when complete.\n"
    "\n"
    "Exit status: 0 on success, 1 when the scene cannot be loaded, the tree cannot\n"
    "be built, memory runs out or an output cannot be written, 2 on a command-line\n"
    "error.\n";

enum LongOnly {
    kTriangleMap = 256,
    kTree,
    kTreeMemory,
    kTriangles,
    kSmooth,
    kNoShadows,
    kXray,
    kBounces,
    kEye,
    kLookAt,
    kUp,
    kFov,
    kLight,
    kVersion,
};

bool usageError(const char* fmt, const char* arg)
{
    std::fprintf(stderr, "vekr-render: ");
    std::fprintf(stderr, fmt, arg);
    std::fprintf(stderr, "\nTry 'vekr-render --help' for more information.\n");
    return false;
}

bool parseInt(const char* text, long lo, long hi, int32_t& out)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno || end == text || *end || v < lo || v > hi) return false;
    out = static_cast<int32_t>(v);
    return true;
}

bool parseDouble(const char* text, double& out, char stop = '\0', const char** rest = nullptr)
{
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (errno || end == text || *end != stop || !std::isfinite(v)) return false;
    out = v;
    if (rest) *rest = end + (stop ? 1 : 0);
    return true;
}

// A point or direction: three numbers, each within the coordinate range
// that scenes are held to (beyond it single-precision distances overflow).
bool parseTriple(const char* text, double out[3])
{
    const char* p = text;
    return parseDouble(p, out[0], ',', &p) && parseDouble(p, out[1], ',', &p) && parseDouble(p, out[2]) &&
           std::fabs(out[0]) <= 1e18 && std::fabs(out[1]) <= 1e18 && std::fabs(out[2]) <= 1e18;
}

bool parseSize(const char* text, int32_t& w, int32_t& h)
{
    constexpr long kMax = 16384;
    const char* x = std::strchr(text, 'x');
    if (!x) {
        if (!parseInt(text, 1, kMax, w)) return false;
        h = w;
        return true;
    }
    const std::string first(text, x);
    return parseInt(first.c_str(), 1, kMax, w) && parseInt(x + 1, 1, kMax, h);
}

}  // namespace

const char* treeName(TreeKind kind) { return kind == TreeKind::Sah ? "sah" : "simple"; }

ParseResult parseOptions(int argc, char** argv, Options& o)
{
    static const option longOptions[] = {
        {"output", required_argument, nullptr, 'o'},
        {"size", required_argument, nullptr, 's'},
        {"threads", required_argument, nullptr, 't'},
        {"quiet", no_argument, nullptr, 'q'},
        {"help", no_argument, nullptr, 'h'},
        {"triangle-map", required_argument, nullptr, kTriangleMap},
        {"tree", required_argument, nullptr, kTree},
        {"tree-memory", required_argument, nullptr, kTreeMemory},
        {"triangles", required_argument, nullptr, kTriangles},
        {"smooth", no_argument, nullptr, kSmooth},
        {"no-shadows", no_argument, nullptr, kNoShadows},
        {"xray", required_argument, nullptr, kXray},
        {"bounces", required_argument, nullptr, kBounces},
        {"eye", required_argument, nullptr, kEye},
        {"look-at", required_argument, nullptr, kLookAt},
        {"up", required_argument, nullptr, kUp},
        {"fov", required_argument, nullptr, kFov},
        {"light", required_argument, nullptr, kLight},
        {"version", no_argument, nullptr, kVersion},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    int c;
    bool ok = true;
    while (ok && (c = getopt_long(argc, argv, ":o:s:t:qh", longOptions, nullptr)) != -1) {
        switch (c) {
        case 'o':
            o.outputPath = optarg;
            break;
        case 's':
            if (!parseSize(optarg, o.width, o.height))
                ok = usageError("invalid image size '%s' (expected WxH or N, 1 to 16384)", optarg);
            break;
        case 't':
            if (!parseInt(optarg, 1, 1024, o.threads)) ok = usageError("invalid thread count '%s'", optarg);
            break;
        case 'q':
            o.quiet = true;
            break;
        case 'h':
            std::fputs(kUsage, stdout);
            return ParseResult::Exit;
        case kVersion: {
            const VekLibraryVersion* v = vekrGetLibVersion();
            std::printf("vekr-render (vekr %d.%d build %d.%d)\n", v->versionMajor, v->versionMinor, v->buildMajor,
                        v->buildNumber);
            return ParseResult::Exit;
        }
        case kTriangleMap:
            o.triangleMapPath = optarg;
            break;
        case kTree:
            if (std::strcmp(optarg, "sah") == 0)
                o.tree = TreeKind::Sah;
            else if (std::strcmp(optarg, "simple") == 0)
                o.tree = TreeKind::Simple;
            else
                ok = usageError("unknown tree kind '%s' (expected sah or simple)", optarg);
            break;
        case kTreeMemory:
            if (!parseInt(optarg, 32, 4095, o.treeMemoryMB))
                ok = usageError("invalid tree memory '%s' (expected megabytes, 32 to 4095)", optarg);
            break;
        case kTriangles:
            if (!parseInt(optarg, 1, 50000000, o.builtinTriangles))
                ok = usageError("invalid triangle count '%s'", optarg);
            break;
        case kSmooth:
            o.smooth = true;
            break;
        case kNoShadows:
            o.shadows = false;
            break;
        case kBounces:
            if (!parseInt(optarg, 0, 16, o.bounces)) ok = usageError("invalid bounce count '%s' (0 to 16)", optarg);
            break;
        case kXray:
            if (!parseInt(optarg, 1, 64, o.xrayLayers)) ok = usageError("invalid x-ray layer count '%s' (1 to 64)", optarg);
            break;
        case kEye:
            o.hasEye = parseTriple(optarg, o.eye);
            if (!o.hasEye) ok = usageError("invalid eye position '%s' (expected X,Y,Z, each within 1e18)", optarg);
            break;
        case kLookAt:
            o.hasLookAt = parseTriple(optarg, o.lookAt);
            if (!o.hasLookAt) ok = usageError("invalid look-at point '%s' (expected X,Y,Z, each within 1e18)", optarg);
            break;
        case kUp:
            if (!parseTriple(optarg, o.up)) ok = usageError("invalid up direction '%s' (expected X,Y,Z, each within 1e18)", optarg);
            break;
        case kFov:
            if (!parseDouble(optarg, o.fovDegrees) || !(o.fovDegrees > 0.0 && o.fovDegrees < 180.0))
                ok = usageError("invalid field of view '%s' (expected degrees between 0 and 180)", optarg);
            break;
        case kLight:
            o.hasLight = parseTriple(optarg, o.light);
            if (!o.hasLight) ok = usageError("invalid light position '%s' (expected X,Y,Z, each within 1e18)", optarg);
            break;
        case ':':
            ok = usageError("option '%s' requires an argument", argv[optind - 1]);
            break;
        default:
            ok = usageError("unrecognized option '%s'", argv[optind - 1]);
            break;
        }
    }
    if (!ok) return ParseResult::UsageError;
    if (optind < argc) o.scenePath = argv[optind++];
    if (optind < argc) {
        usageError("unexpected argument '%s' (only one scene file is read)", argv[optind]);
        return ParseResult::UsageError;
    }
    return ParseResult::Run;
}

}  // namespace vekr_render
