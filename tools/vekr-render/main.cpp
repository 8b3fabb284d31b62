// vekr-render: ray-casts a triangle scene into a PNG image.
//
// Scene set-up (bounds, triangle records, kd-tree, triangle normals) and every
// per-ray step of the rendering go through the library's exports; this
// program only loads the scene, lays out buffers, and writes the result.
#include <omp.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "builtin_scene.h"
#include "camera.h"
#include "mesh.h"
#include "obj_loader.h"
#include "options.h"
#include "output_file.h"
#include "png_writer.h"
#include "renderer.h"
#include "vekr.h"

using namespace vekr_render;

namespace {

constexpr int32_t kBuiltinTrianglesSimple = 2000;
constexpr int32_t kBuiltinTrianglesSah = 100000;
constexpr int32_t kMaxTreeMemoryMB = 4095;  // the largest --tree-memory

int fail(const std::string& message)
{
    std::fprintf(stderr, "vekr-render: %s\n", message.c_str());
    return 1;
}

const char* statusText(VekStatus s)
{
    switch (s) {
    case vekStsErr: return "internal error of the tree build";
    case vekStsNoMemErr: return "out of memory";
    case vekStsMemAllocErr: return "the build ran out of its working memory";
    case vekStsBadArgErr: return "unknown build algorithm";
    case vekStsSizeErr: return "size out of range";
    case vekStsNullPtrErr: return "null pointer";
    case vekStsBadParamErr: return "build parameter out of range";
    default: return "failure";
    }
}

// Per-vertex normals as the normalised sum of the unit normals of the
// triangles around each vertex.
void vertexNormalsFromFaces(Mesh& mesh, const std::vector<float>& triangleNormals)
{
    mesh.vertexNormals.assign(mesh.vertices.size(), 0.0f);
    for (int32_t t = 0; t < mesh.triangleCount(); ++t)
        for (int c = 0; c < 3; ++c) {
            const size_t v = static_cast<size_t>(mesh.triangles[4 * static_cast<size_t>(t) + c]);
            for (int k = 0; k < 3; ++k) mesh.vertexNormals[3 * v + k] += triangleNormals[3 * static_cast<size_t>(t) + k];
        }
    for (size_t v = 0; v < mesh.vertexNormals.size(); v += 3) {
        float* n = &mesh.vertexNormals[v];
        const float len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        if (len > 0.0f)
            for (int k = 0; k < 3; ++k) n[k] /= len;
    }
}

void drawProgress(int64_t done, int64_t total)
{
    constexpr int kWidth = 40;
    const int filled = static_cast<int>(kWidth * done / std::max<int64_t>(total, 1));
    std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################", kWidth - filled, "",
                 static_cast<int>(100 * done / std::max<int64_t>(total, 1)));
    if (done == total) std::fputc('\n', stderr);
    std::fflush(stderr);
}

float toSrgb(float linear)
{
    if (!(linear > 0.0f)) return 0.0f;  // NaN included: it has no byte value
    const float c = std::min(linear, 1.0f);
    return c <= 0.0031308f ? 12.92f * c : 1.055f * std::pow(c, 1.0f / 2.4f) - 0.055f;
}

// Image row r as 8-bit sRGB; pixels that see no triangle get the background.
void encodeRow(const Image& image, int32_t r, uint8_t* out)
{
    // Background: a soft vertical gradient, so misses are easy to tell from
    // dark surfaces.
    const float s = static_cast<float>(r) / std::max(1, image.height - 1);
    const float background[3] = {0.30f - 0.18f * s, 0.34f - 0.19f * s, 0.42f - 0.22f * s};
    const size_t first = static_cast<size_t>(r) * static_cast<size_t>(image.width);
    for (int32_t c = 0; c < image.width; ++c) {
        const size_t px = first + static_cast<size_t>(c);
        for (int k = 0; k < 3; ++k) {
            const float v = image.triangle[px] < 0 ? background[k] : image.rgb[3 * px + k];
            out[3 * static_cast<size_t>(c) + k] = static_cast<uint8_t>(std::lround(255.0f * toSrgb(v)));
        }
    }
}

bool writeTriangleMap(OutputFile& file, const Image& image, std::string& error)
{
    std::FILE* f = file.stream();
    errno = 0;
    bool ok = std::fprintf(f, "%d %d\n", image.width, image.height) > 0;
    for (int32_t r = 0; ok && r < image.height; ++r)
        for (int32_t c = 0; ok && c < image.width; ++c)
            ok = std::fprintf(f, "%d%c", image.triangle[static_cast<size_t>(r) * image.width + c],
                              c + 1 == image.width ? '\n' : ' ') > 0;
    if (!ok) error = file.writeError(errno);
    return ok;
}

// Writes the image and, when asked for, the triangle map. Both files are
// finished in temporary files first and renamed into place only when both
// are complete, so a failure leaves neither behind.
bool writeOutputs(const Options& opt, const Image& image, std::string& error)
{
    OutputFile png, map;
    if (!png.open(opt.outputPath, error)) return false;
    if (!writePng(png, image.width, image.height,
                  [&image](int32_t r, uint8_t* out) { encodeRow(image, r, out); }, error))
        return false;
    if (!opt.triangleMapPath.empty() && (!map.open(opt.triangleMapPath, error) || !writeTriangleMap(map, image, error)))
        return false;
    return png.commit(error) && (opt.triangleMapPath.empty() || map.commit(error));
}

// Bytes this process may still map under its address-space limit
// (ulimit -v), or UINT64_MAX when it has none.
uint64_t addressSpaceLeft()
{
    rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
    uint64_t pages = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        unsigned long long size = 0;
        if (std::fscanf(f, "%llu", &size) == 1) pages = size;
        std::fclose(f);
    }
    const uint64_t used = pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    return limit.rlim_cur > used ? limit.rlim_cur - used : 0;
}

// The least working memory, in bytes, that the SAH build can manage with:
// its own starting test, or what its set-up takes (context, sort arrays,
// fragment and vertex arenas, one 16 MB chunk for each of its three pools)
// if that is more. Figures from the build's documentation in vekr_scene.h.
int64_t sahLeastBytes(int64_t vertices, int64_t triangles)
{
    constexpr int64_t kChunk = int64_t(1) << 24;
    const int64_t refused = 12 * vertices + 84 * triangles + 0x20000F4;
    const int64_t setup = 204 + 48 * triangles + (36 * triangles / kChunk * kChunk + kChunk) +
                          kChunk * (1 + 12 * vertices / (kChunk / 4)) + 3 * (kChunk + 20);
    return std::max(refused, setup);
}

// About the smallest --tree-memory, in MB, with which the SAH build of
// mesh succeeds (within a sixteenth above it), found by building: what a
// build needs beyond its set-up depends on how the scene splits. `failed`
// is a limit known to fail. Returns -1 when even the largest limit fails.
int32_t leastTreeMemoryMB(const Mesh& mesh, VekrKDTreeBuildParams params, int32_t failed, int64_t leastBytes)
{
    auto builds = [&](int32_t mb) {
        params.memoryLimit = mb;
        VekrKDTreeNode* tree = nullptr;
        int32_t bytes = 0;
        const VekStatus s = vekrKDTreeBuildAlloc(&tree, mesh.vertices.data(), mesh.triangles.data(), mesh.vertexCount(),
                                                 mesh.triangleCount(), &bytes, &params);
        if (s == vekStsOk) vekrKDTreeFree(tree);
        return s == vekStsOk;
    };
    // Try what the set-up takes (often enough), then double until a build
    // succeeds, then halve the gap to the last failure. Each try is a whole
    // build, so the search stops at a sixteenth rather than one megabyte.
    const int64_t leastMB = (leastBytes + (1 << 20) - 1) >> 20;
    int32_t lo = failed;
    int32_t hi = static_cast<int32_t>(std::min<int64_t>(kMaxTreeMemoryMB, std::max<int64_t>(failed + 1, leastMB)));
    while (!builds(hi)) {
        if (hi == kMaxTreeMemoryMB) return -1;
        lo = hi;
        hi = static_cast<int32_t>(std::min<int64_t>(kMaxTreeMemoryMB, 2 * int64_t(hi)));
    }
    while (hi - lo > std::max(1, hi / 16)) {
        const int32_t mid = lo + (hi - lo) / 2;
        (builds(mid) ? hi : lo) = mid;
    }
    return hi;
}

std::string megabytes(double bytes) { return std::to_string(static_cast<long long>(std::ceil(bytes / 1048576.0))) + " MB"; }

void freeTree(VekrKDTreeNode* tree) { vekrKDTreeFree(tree); }
using TreeBlock = std::unique_ptr<VekrKDTreeNode, decltype(&freeTree)>;

// The program after its command line. `step` names what it is doing, for
// the message main prints should memory run out.
int run(const Options& opt, const char*& step)
{
    std::string error;
    if (!OutputFile::checkTarget(opt.outputPath, error)) return fail(error);
    if (!opt.triangleMapPath.empty() && !OutputFile::checkTarget(opt.triangleMapPath, error)) return fail(error);

    // The image and its triangle numbers are the largest allocations;
    // when they cannot fit under the address-space limit, say so before
    // anything is loaded or built.
    const double imageBytes = double(opt.width) * double(opt.height) * (3 * sizeof(float) + sizeof(int32_t));
    const uint64_t left = addressSpaceLeft();
    if (left != UINT64_MAX && imageBytes > double(left))
        return fail("out of memory: a " + std::to_string(opt.width) + " x " + std::to_string(opt.height) +
                    " image needs " + megabytes(imageBytes) + ", and this process may use only " +
                    megabytes(double(left)) + " more (ulimit -v)");

    step = "loading the scene";
    Mesh mesh;
    ObjLoadReport objReport;
    if (opt.scenePath.empty()) {
        const int32_t target = opt.builtinTriangles > 0 ? opt.builtinTriangles
                               : opt.tree == TreeKind::Sah ? kBuiltinTrianglesSah
                                                           : kBuiltinTrianglesSimple;
        mesh = makeBuiltinScene(target);
    } else {
        if (!loadObj(opt.scenePath, mesh, objReport, error)) return fail(error);
        if (!objReport.warnings.empty() && !opt.quiet)
            std::fprintf(stderr, "vekr-render: warning: %s\n", objReport.warnings.c_str());
        if (objReport.polygonsCrossed > 0 && !opt.quiet)
            std::fprintf(stderr, "vekr-render: warning: %lld self-crossing polygon%s, split as well as the shape allows\n",
                         static_cast<long long>(objReport.polygonsCrossed), objReport.polygonsCrossed == 1 ? "" : "s");
    }
    const int32_t triangleCount = mesh.triangleCount();

    // Scene records.
    step = "building the scene records";
    float box[6];
    vekrSetBoundBox_32f(mesh.vertices.data(), mesh.vertexCount(), box);
    int32_t recordBytes = 0;
    vekrTriangleAccelGetSize(&recordBytes);
    std::vector<VekrTriangleAccel> accel(static_cast<size_t>(triangleCount));
    if (recordBytes != static_cast<int32_t>(sizeof(VekrTriangleAccel)))
        return fail("the library's triangle record size does not match its header");
    vekrTriangleAccelInit(accel.data(), mesh.vertices.data(), mesh.triangles.data(), triangleCount);

    std::vector<float> triangleNormals(3 * static_cast<size_t>(triangleCount));
    vekrTriangleNormal_32f(mesh.vertices.data(), mesh.triangles.data(), triangleNormals.data(), triangleCount);
    if (opt.smooth && !mesh.hasVertexNormals()) vertexNormalsFromFaces(mesh, triangleNormals);

    VekrKDTreeBuildParams params{};
    if (opt.tree == TreeKind::Sah) {
        params.algorithm = vekrKDTreeBuildSAH;
        params.maxDepth = std::min(50, 8 + static_cast<int32_t>(1.3 * std::log2(std::max(2, triangleCount))));
        params.splitFactor = 0.5f;
        params.memoryLimit = opt.treeMemoryMB;
        params.pBuildBox = nullptr;
    } else {
        params.algorithm = vekrKDTreeBuildSimple;
        params.maxDepth = 0;
    }
    step = "building the kd-tree";
    VekrKDTreeNode* treeBlock = nullptr;
    int32_t treeBytes = 0;
    const auto buildStart = std::chrono::steady_clock::now();
    const VekStatus built = vekrKDTreeBuildAlloc(&treeBlock, mesh.vertices.data(), mesh.triangles.data(),
                                                 mesh.vertexCount(), triangleCount, &treeBytes, &params);
    const TreeBlock tree(built == vekStsOk ? treeBlock : nullptr, freeTree);
    const double buildSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - buildStart).count();
    if (built != vekStsOk) {
        const int64_t lowest = sahLeastBytes(mesh.vertexCount(), triangleCount);
        const bool budgetTooSmall = opt.tree == TreeKind::Sah &&
                                    (built == vekStsMemAllocErr ||
                                     (built == vekStsNoMemErr && int64_t(opt.treeMemoryMB) << 20 < lowest));
        if (!budgetTooSmall)
            return fail(std::string("cannot build the ") + treeName(opt.tree) + " kd-tree: " + statusText(built) +
                        " (status " + std::to_string(built) + ")");
        step = "finding the kd-tree's working memory";
        const std::string given = "the kd-tree build needs more working memory than --tree-memory=" +
                                  std::to_string(opt.treeMemoryMB) + " MB allows";
        const int32_t needed = leastTreeMemoryMB(mesh, params, opt.treeMemoryMB, lowest);
        if (needed < 0)
            return fail(given + ": this scene does not build even with the largest, " +
                        std::to_string(kMaxTreeMemoryMB) + " MB; use --tree=simple");
        return fail(given + ": this scene needs about " + std::to_string(needed) + " MB (--tree-memory=" +
                    std::to_string(needed) + ")");
    }

    // Camera and light.
    CameraPose pose = frameBox(box, opt.fovDegrees, static_cast<double>(opt.width) / opt.height);
    if (opt.hasEye) std::copy(opt.eye, opt.eye + 3, pose.eye);
    if (opt.hasLookAt) std::copy(opt.lookAt, opt.lookAt + 3, pose.lookAt);
    std::copy(opt.up, opt.up + 3, pose.up);
    RenderJob job{};
    if (!makeCameraRays(pose, opt.width, opt.height, job.camera)) {
        std::fprintf(stderr, "vekr-render: the eye coincides with the look-at point, or up is parallel to the view\n");
        return 2;
    }
    double radius = 0.0;
    for (int k = 0; k < 3; ++k) radius += 0.25 * double(box[k + 3] - box[k]) * double(box[k + 3] - box[k]);
    radius = std::sqrt(radius);
    double light[3];
    for (int k = 0; k < 3; ++k) {
        const double offset[3] = {0.2, 0.8, 0.45};
        light[k] = opt.hasLight ? opt.light[k] : 0.5 * double(box[k] + box[k + 3]) + radius * offset[k];
    }
    double lightDistance = 0.0;
    for (int k = 0; k < 3; ++k) lightDistance += (light[k] - pose.lookAt[k]) * (light[k] - pose.lookAt[k]);
    job.lighting = Lighting{{float(light[0]), float(light[1]), float(light[2])},
                            {1.0f, 0.97f, 0.92f},
                            {0.14f, 0.15f, 0.17f},
                            float(std::max(std::sqrt(lightDistance), 1.0))};

    job.mesh = &mesh;
    job.triangleNormals = triangleNormals.data();
    job.scene = VekrIntersectContext{box, accel.data(), tree.get()};
    job.width = opt.width;
    job.height = opt.height;
    job.smoothNormals = mesh.hasVertexNormals();
    job.shadows = opt.shadows;
    job.xrayLayers = opt.xrayLayers;
    job.bounces = opt.bounces;
    job.threads = opt.threads > 0 ? opt.threads : omp_get_max_threads();

    step = "rendering";
    Image image;
    const bool showProgress = !opt.quiet && isatty(STDERR_FILENO);
    if (!render(job, image, showProgress ? drawProgress : nullptr)) {
        if (showProgress) std::fputc('\n', stderr);
        return fail("out of memory while rendering");
    }

    step = "writing the image";
    if (!writeOutputs(opt, image, error)) return fail(error);

    if (!opt.quiet) {
        const double rays = static_cast<double>(image.width) * image.height;
        const int64_t hits = std::count_if(image.triangle.begin(), image.triangle.end(), [](int32_t t) { return t >= 0; });
        std::printf("scene      %s: %d triangles, %d vertices", opt.scenePath.empty() ? "built-in room" : opt.scenePath.c_str(),
                    triangleCount, mesh.vertexCount());
        if (objReport.mirrorTriangles > 0)
            std::printf(", %lld mirror triangle%s", static_cast<long long>(objReport.mirrorTriangles),
                        objReport.mirrorTriangles == 1 ? "" : "s");
        if (objReport.polygonsSplit > 0)
            std::printf(", %lld polygon%s split into triangles", static_cast<long long>(objReport.polygonsSplit),
                        objReport.polygonsSplit == 1 ? "" : "s");
        std::printf("\n");
        std::printf("tree       %s, %d bytes, built in %.3f s\n", treeName(opt.tree), treeBytes, buildSeconds);
        std::printf("image      %d x %d, %d thread%s, %s normals, %s", image.width, image.height, job.threads,
                    job.threads == 1 ? "" : "s", job.smoothNormals ? "smooth" : "flat",
                    job.xrayLayers > 0 ? "x-ray" : (job.shadows ? "hard shadows" : "no shadows"));
        // Say when --bounces had nothing to reflect, so it is not mistaken
        // for having no effect at all.
        if (job.xrayLayers == 0 && job.bounces > 0 && mesh.hasMirrors())
            std::printf(", up to %d mirror bounce%s", job.bounces, job.bounces == 1 ? "" : "s");
        else if (job.xrayLayers == 0 && job.bounces > 0)
            std::printf(", no mirrors to bounce off");
        std::printf("\n");
        std::printf("rays       %.0f primary, %lld hit\n", rays, static_cast<long long>(hits));
        std::printf("time       %.3f s render, %.3f s in intersection (summed over threads)\n", image.seconds,
                    image.intersectSeconds);
        std::printf("speed      %.2f Mrays/s overall, %.2f Mrays/s per thread in intersection\n",
                    rays / image.seconds * 1e-6, image.intersectSeconds > 0 ? rays / image.intersectSeconds * 1e-6 : 0.0);
        std::printf("wrote      %s\n", opt.outputPath.c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // Past a file-size limit the kernel sends SIGXFSZ, whose default action
    // kills the process before it can remove its temporary file; ignored,
    // the write fails with EFBIG and is reported like any other failure.
    signal(SIGXFSZ, SIG_IGN);
    OutputFile::removeOnInterrupt();

    // No exception leaves the program: running out of memory anywhere (a
    // huge image or scene) ends with one line that says where.
    const char* step = "reading the command line";
    try {
        Options opt;
        switch (parseOptions(argc, argv, opt)) {
        case ParseResult::Exit: return 0;
        case ParseResult::UsageError: return 2;
        case ParseResult::Run: break;
        }
        step = "starting";
        return run(opt, step);
    } catch (const std::bad_alloc&) {
        return fail(std::string("out of memory while ") + step);
    } catch (const std::exception& e) {
        return fail(std::string("failed while ") + step + ": " + e.what());
    }
}
