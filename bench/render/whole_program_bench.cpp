// The whole program as a user runs it: vekr-render's pipeline at 1920 x 1080
// with hard shadows and one mirror bounce, on the built-in room (its ball is
// a mirror) and on the spheres scene (every surface mirrors a third of the
// light, so every hit casts one reflected ray), on 1 and 2 threads.
//
// The peer is the same pipeline with Embree 3's calls in place of the
// library's two intersection calls (16-ray packets with the coherent-rays
// hint: rtcIntersect16 for the closest hits, rtcOccluded16 for the shadow
// rays), so both sides cast the same rays per pixel and shade them with the
// same code. The rate counts every ray cast (eye, shadow and reflected) per
// second of wall time, per thread.
#include <benchmark/benchmark.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "builtin_scene.h"
#include "camera.h"
#include "renderer.h"
#include "support/bench_scenes.h"
#include "vekr.h"

#ifdef VEKR_HAVE_EMBREE
#include <embree3/rtcore.h>

#include "support/embree_scene.h"
#endif

namespace {

using namespace vekr_render;

constexpr int32_t kWidth = 1920, kHeight = 1080;
constexpr int kRoom = 0, kSpheres = 1;
constexpr int kVekr = 0, kEmbree = 1;

struct Scene {
    bool ok = false;
    const char* name = "";
    Mesh mesh;
    std::vector<float> normals;
    std::vector<VekrTriangleAccel> accel;
    float box[6] = {};
    VekrKDTreeNode* tree = nullptr;
    RenderJob job{};
#ifdef VEKR_HAVE_EMBREE
    RTCDevice device = nullptr;
    RTCScene embree = nullptr;
#endif
};

// The scene set up as vekr-render sets up its own: records, SAH tree with
// the program's depth rule, camera framed on the box, light above it.
bool prepare(int which, Scene& s)
{
    if (which == kRoom) {
        s.name = "built-in room";
        s.mesh = makeBuiltinScene(100000);
    } else {
        s.name = "spheres";
        vekr_bench::BenchScene b;
        if (!vekr_bench::loadBenchScene(WL_SCENE_SPHERES, b)) return false;
        s.mesh.vertices = std::move(b.vertices);
        s.mesh.triangles = std::move(b.triangles);
        const size_t n = static_cast<size_t>(s.mesh.triangleCount());
        s.mesh.triangleColors.assign(3 * n, 0.7f);
        s.mesh.triangleMirror.assign(3 * n, 1.0f / 3.0f);
    }
    Mesh& m = s.mesh;
    const int32_t nt = m.triangleCount();
    vekrSetBoundBox_32f(m.vertices.data(), m.vertexCount(), s.box);
    s.accel.resize(static_cast<size_t>(nt));
    vekrTriangleAccelInit(s.accel.data(), m.vertices.data(), m.triangles.data(), nt);
    s.normals.resize(3 * static_cast<size_t>(nt));
    vekrTriangleNormal_32f(m.vertices.data(), m.triangles.data(), s.normals.data(), nt);
    VekrKDTreeBuildParams params{};
    params.algorithm = vekrKDTreeBuildSAH;
    params.maxDepth = std::min(50, 8 + static_cast<int32_t>(1.3 * std::log2(std::max(2, nt))));
    params.splitFactor = 0.5f;
    params.memoryLimit = 2047;
    int32_t bytes = 0;
    if (vekrKDTreeBuildAlloc(&s.tree, m.vertices.data(), m.triangles.data(), m.vertexCount(), nt, &bytes, &params) !=
        vekStsOk)
        return false;

    const CameraPose pose = frameBox(s.box, 40.0, double(kWidth) / kHeight);
    RenderJob& job = s.job;
    if (!makeCameraRays(pose, kWidth, kHeight, job.camera)) return false;
    double radius = 0.0;
    for (int k = 0; k < 3; ++k) radius += 0.25 * double(s.box[k + 3] - s.box[k]) * double(s.box[k + 3] - s.box[k]);
    radius = std::sqrt(radius);
    const double offset[3] = {0.2, 0.8, 0.45};
    double lightDistance = 0.0;
    for (int k = 0; k < 3; ++k) {
        job.lighting.light[k] = float(0.5 * double(s.box[k] + s.box[k + 3]) + radius * offset[k]);
        lightDistance += (job.lighting.light[k] - pose.lookAt[k]) * (job.lighting.light[k] - pose.lookAt[k]);
    }
    const float colour[3] = {1.0f, 0.97f, 0.92f}, ambient[3] = {0.14f, 0.15f, 0.17f};
    std::copy(colour, colour + 3, job.lighting.lightColor);
    std::copy(ambient, ambient + 3, job.lighting.ambient);
    job.lighting.falloffDistance = float(std::max(std::sqrt(lightDistance), 1.0));
    job.mesh = &s.mesh;
    job.triangleNormals = s.normals.data();
    job.scene = VekrIntersectContext{s.box, s.accel.data(), s.tree};
    job.width = kWidth;
    job.height = kHeight;
    job.smoothNormals = m.hasVertexNormals();
    job.shadows = true;
    job.bounces = 1;

#ifdef VEKR_HAVE_EMBREE
    s.device = rtcNewDevice(std::getenv("VEKR_BENCH_EMBREE_CONFIG"));
    s.embree = vekr_bench::newEmbreeScene(s.device, m.vertices.data(), m.vertexCount(), m.triangles.data(), nt,
                                          RTC_BUILD_QUALITY_HIGH);
#endif
    s.ok = true;
    return true;
}

Scene& scene(int which)
{
    static Scene scenes[2];
    static bool tried[2] = {false, false};
    if (!tried[which]) {
        tried[which] = true;
        prepare(which, scenes[which]);
    }
    return scenes[which];
}

#ifdef VEKR_HAVE_EMBREE

// Closest hits of a tile's rays, 16 at a time; a ray given no length (a
// pixel that does not reflect) is left out, as the library leaves it.
void embreeClosest(const RenderJob& job, float* const origin[3], float* const dir[3], float* dist, float* const uv[2],
                   int32_t* tri, int32_t w, int32_t h)
{
    const RTCScene sc = static_cast<RTCScene>(const_cast<void*>(job.tracer->engine));
    RTCIntersectContext ctx;
    rtcInitIntersectContext(&ctx);
    ctx.flags = RTC_INTERSECT_CONTEXT_FLAG_COHERENT;  // a tile's rays: Embree's best setting here
    const int32_t n = w * h;
    for (int32_t i = 0; i < n; i += 16) {
        alignas(64) RTCRayHit16 rh;
        alignas(64) int valid[16];
        for (int l = 0; l < 16; ++l) {
            const int32_t j = std::min(i + l, n - 1);
            valid[l] = i + l < n && dist[j] > 0.0f ? -1 : 0;
            rh.ray.org_x[l] = origin[0][j];
            rh.ray.org_y[l] = origin[1][j];
            rh.ray.org_z[l] = origin[2][j];
            rh.ray.dir_x[l] = dir[0][j];
            rh.ray.dir_y[l] = dir[1][j];
            rh.ray.dir_z[l] = dir[2][j];
            rh.ray.tnear[l] = 0.0f;
            rh.ray.tfar[l] = dist[j];
            rh.ray.time[l] = 0.0f;
            rh.ray.mask[l] = 0xFFFFFFFFu;
            rh.ray.id[l] = 0u;
            rh.ray.flags[l] = 0u;
            rh.hit.geomID[l] = RTC_INVALID_GEOMETRY_ID;
        }
        rtcIntersect16(valid, sc, &ctx, &rh);
        for (int l = 0; l < 16 && i + l < n; ++l) {
            const int32_t j = i + l;
            if (valid[l] && rh.hit.geomID[l] != RTC_INVALID_GEOMETRY_ID) {
                dist[j] = rh.ray.tfar[l];
                uv[0][j] = rh.hit.u[l];
                uv[1][j] = rh.hit.v[l];
                tri[j] = static_cast<int32_t>(rh.hit.primID[l]);
            } else {
                tri[j] = -1;
            }
        }
    }
}

// Shadow rays from the light over (0, 1) for the lanes still lit.
void embreeOccluded(const RenderJob& job, float* const dir[3], int32_t* blocker, int32_t* mask, int32_t w, int32_t h)
{
    const RTCScene sc = static_cast<RTCScene>(const_cast<void*>(job.tracer->engine));
    RTCIntersectContext ctx;
    rtcInitIntersectContext(&ctx);
    ctx.flags = RTC_INTERSECT_CONTEXT_FLAG_COHERENT;  // a tile's rays: Embree's best setting here
    const float end = std::nextafter(1.0f, 0.0f);
    const int32_t n = w * h;
    for (int32_t i = 0; i < n; i += 16) {
        alignas(64) RTCRay16 r;
        alignas(64) int valid[16];
        int any = 0;
        for (int l = 0; l < 16; ++l) {
            const int32_t j = std::min(i + l, n - 1);
            any |= valid[l] = i + l < n && mask[j] >= 0 ? -1 : 0;
            r.org_x[l] = job.lighting.light[0];
            r.org_y[l] = job.lighting.light[1];
            r.org_z[l] = job.lighting.light[2];
            r.dir_x[l] = dir[0][j];
            r.dir_y[l] = dir[1][j];
            r.dir_z[l] = dir[2][j];
            r.tnear[l] = 0.0f;
            r.tfar[l] = end;
            r.time[l] = 0.0f;
            r.mask[l] = 0xFFFFFFFFu;
            r.id[l] = 0u;
            r.flags[l] = 0u;
        }
        if (!any) continue;
        rtcOccluded16(valid, sc, &ctx, &r);
        for (int l = 0; l < 16 && i + l < n; ++l)
            if (valid[l] && r.tfar[l] < 0.0f) {
                mask[i + l] = -1;
                blocker[i + l] = 0;  // Embree does not say which triangle blocks
            }
    }
}

#endif

void renderWhole(benchmark::State& state)
{
    const int which = static_cast<int>(state.range(0));
    const int engine = static_cast<int>(state.range(1));
    const int threads = static_cast<int>(state.range(2));
    Scene& s = scene(which);
    if (!s.ok) {
        state.SkipWithError("scene unavailable");
        return;
    }
    RenderJob job = s.job;
    job.threads = threads;
#ifdef VEKR_HAVE_EMBREE
    const Tracer embree{embreeClosest, embreeOccluded, s.embree};
    if (engine == kEmbree) job.tracer = &embree;
#else
    if (engine == kEmbree) {
        state.SkipWithError("Embree peer absent: built without Embree 3 (scripts/setup-deps --peers)");
        return;
    }
#endif
    Image image;
    int64_t rays = 0;
    double seconds = 0.0;
    for (auto _ : state) {
        if (!render(job, image, nullptr)) {
            state.SkipWithError("out of memory while rendering");
            return;
        }
        rays += image.rays;
        seconds += image.seconds;
        state.SetIterationTime(image.seconds);
    }
    const int64_t hits = std::count_if(image.triangle.begin(), image.triangle.end(), [](int32_t t) { return t >= 0; });
    state.SetLabel(std::string(s.name) + (engine == kVekr ? ", vekr" : ", Embree"));
    state.counters["Mrays/s/thread"] = static_cast<double>(rays) / seconds * 1e-6 / threads;
    state.counters["rays/frame"] = static_cast<double>(image.rays);
    state.counters["eye hits"] = static_cast<double>(hits);
}

}  // namespace

int main(int argc, char** argv)
{
    for (const char* name : {"render/vekr", "render/embree"}) {
        const int engine = std::strcmp(name, "render/vekr") == 0 ? kVekr : kEmbree;
        benchmark::RegisterBenchmark(name, renderWhole)
            ->ArgNames({"scene", "engine", "threads"})
            ->Args({kRoom, engine, 1})
            ->Args({kRoom, engine, 2})
            ->Args({kSpheres, engine, 1})
            ->Args({kSpheres, engine, 2})
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
