// Speed of the intersection calls on the standard ray workloads, single
// thread, each call on its packet path (aligned 1024 x 1024 blocks) and on
// its ray-by-ray path (the same data one float off alignment). Every run
// hands the whole block over in one call; the inputs that a call rewrites
// (distances, masks) are restored outside the timed region.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "ray_workloads.h"
#include "support/bench_scenes.h"

namespace vekr_bench {

namespace {

bool loadScene(int which, SceneSet& s)
{
    BenchScene scene;
    if (!loadBenchScene(which == kBunny ? WL_SCENE_BUNNY : WL_SCENE_SPHERES, scene)) return false;
    s.vertices = std::move(scene.vertices);
    s.triangles = std::move(scene.triangles);
    s.vertexCount = scene.vertexCount;
    s.triangleCount = scene.triangleCount;
    // W3 origins are drawn from the box of the vertices themselves.
    for (int k = 0; k < 3; ++k) s.bmin[k] = s.bmax[k] = s.vertices[k];
    for (int32_t i = 1; i < s.vertexCount; ++i)
        for (int k = 0; k < 3; ++k) {
            const float x = s.vertices[3 * static_cast<size_t>(i) + k];
            s.bmin[k] = x < s.bmin[k] ? x : s.bmin[k];
            s.bmax[k] = x > s.bmax[k] ? x : s.bmax[k];
        }
    return true;
}

// The SAH tree settings the benchmarks use; overridable for tuning runs
// through VEKR_BENCH_SAH_DEPTH and VEKR_BENCH_SAH_FACTOR.
VekrKDTreeBuildParams treeParams()
{
    const char* depth = std::getenv("VEKR_BENCH_SAH_DEPTH");
    const char* factor = std::getenv("VEKR_BENCH_SAH_FACTOR");
    return VekrKDTreeBuildParams{vekrKDTreeBuildSAH, depth ? std::atoi(depth) : 40,
                                 factor ? static_cast<float>(std::atof(factor)) : 0.5f, 2048, nullptr};
}

void buildScene(int which, SceneSet& s)
{
    s.name = which == kBunny ? "bunny" : "spheres";
    if (!loadScene(which, s)) return;
    s.accel.resize(static_cast<size_t>(s.triangleCount));
    vekrTriangleAccelInit(s.accel.data(), s.vertices.data(), s.triangles.data(), s.triangleCount);
    vekrSetBoundBox_32f(s.vertices.data(), s.vertexCount, s.box);
    const VekrKDTreeBuildParams p = treeParams();
    if (vekrKDTreeBuildAlloc(&s.tree, s.vertices.data(), s.triangles.data(), s.vertexCount, s.triangleCount,
                             &s.treeSize, &p) != vekStsOk)
        return;
    wl_camera_for(which == kBunny ? WL_SCENE_BUNNY : WL_SCENE_SPHERES, &s.cam);
    for (int a = 0; a < 3; ++a) {
        s.w1[a].resize(kRays);
        s.w3o[a].resize(kRays);
        s.w3d[a].resize(kRays);
        s.w2[a].assign(kRays, 0.0f);
    }
    wl_eye_dirs(&s.cam, s.w1[0].data(), s.w1[1].data(), s.w1[2].data());
    wl_random_rays(s.bmin, s.bmax, static_cast<int32_t>(kRays), s.w3o[0].data(), s.w3o[1].data(), s.w3o[2].data(),
                   s.w3d[0].data(), s.w3d[1].data(), s.w3d[2].data());

    // Shadow rays of our own camera hits (packet path), as the workload
    // defines them.
    Plane<float> dx(kRays), dy(kRays), dz(kRays), dist(kRays), u(kRays), v(kRays);
    Plane<int32_t> tri(kRays);
    dx.assign(s.w1[0]);
    dy.assign(s.w1[1]);
    dz.assign(s.w1[2]);
    for (size_t i = 0; i < kRays; ++i) dist.p[i] = WL_TFAR;
    const float* dir[3] = {dx.p, dy.p, dz.p};
    float* uv[2] = {u.p, v.p};
    const VekrIntersectContext ctx = s.context();
    vekrIntersectEyeSO_32f(s.cam.eye, dir, dist.p, uv, tri.p, &ctx, VekrSize{kSide, kSide});
    s.w2mask.assign(tri.p, tri.p + kRays);
    for (size_t i = 0; i < kRays; ++i) {
        if (tri.p[i] < 0) continue;
        ++s.w1Hits;
        float D[3];
        wl_shadow_dir(&s.cam, dx.p[i], dy.p[i], dz.p[i], dist.p[i], D);
        for (int a = 0; a < 3; ++a) s.w2[a][i] = D[a];
    }
    s.ok = true;
}

enum class Call { Eye, MultipleOne, MultipleFour, PerRayOrigin, Incoherent };

// W1 through the closest-hit calls (and the successive-hit call with one
// and four planes), or W3 through the per-origin call.
void closestHit(benchmark::State& state, Call call, bool packet)
{
    const SceneSet& s = sceneSet(static_cast<int>(state.range(0)));
    if (!s.ok) {
        state.SkipWithError("scene unavailable");
        return;
    }
    const bool w3 = call == Call::Incoherent;
    const int32_t planes = call == Call::MultipleFour ? 4 : 1;
    const size_t out = kRays * static_cast<size_t>(planes);
    Plane<float> d[3] = {Plane<float>(kRays, packet), Plane<float>(kRays, packet), Plane<float>(kRays, packet)};
    Plane<float> o[3] = {Plane<float>(kRays, packet), Plane<float>(kRays, packet), Plane<float>(kRays, packet)};
    Plane<float> dist(out, packet), u(out, packet), v(out, packet);
    Plane<int32_t> tri(out, packet);
    for (int a = 0; a < 3; ++a) {
        d[a].assign(w3 ? s.w3d[a] : s.w1[a]);
        if (w3) {
            o[a].assign(s.w3o[a]);
        } else {
            for (size_t i = 0; i < kRays; ++i) o[a].p[i] = s.cam.eye[a];
        }
    }
    const float* dir[3] = {d[0].p, d[1].p, d[2].p};
    const float* org[3] = {o[0].p, o[1].p, o[2].p};
    float* uv[2] = {u.p, v.p};
    const VekrIntersectContext ctx = s.context();
    const VekrSize size{kSide, kSide};
    size_t hits = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (size_t i = 0; i < kRays; ++i) dist.p[i] = WL_TFAR;
        state.ResumeTiming();
        switch (call) {
        case Call::Eye:
            vekrIntersectEyeSO_32f(s.cam.eye, dir, dist.p, uv, tri.p, &ctx, size);
            break;
        case Call::MultipleOne:
        case Call::MultipleFour:
            vekrIntersectMultipleSO_32f(s.cam.eye, dir, dist.p, uv, tri.p, size, planes, &ctx);
            break;
        case Call::PerRayOrigin:
        case Call::Incoherent:
            vekrIntersectMO_32f(org, dir, dist.p, uv, tri.p, &ctx, size);
            break;
        }
        benchmark::ClobberMemory();
    }
    for (size_t i = 0; i < out; ++i) hits += tri.p[i] >= 0;
    state.counters["hits"] = static_cast<double>(hits);
    reportRays(state, s, kRays);
}

// W2: the shadow rays of the W1 hits as one masked 1024 x 1024 block; the
// rate counts only the rays cast.
void occlusion(benchmark::State& state, bool packet)
{
    const SceneSet& s = sceneSet(static_cast<int>(state.range(0)));
    if (!s.ok) {
        state.SkipWithError("scene unavailable");
        return;
    }
    Plane<float> d[3] = {Plane<float>(kRays, packet), Plane<float>(kRays, packet), Plane<float>(kRays, packet)};
    for (int a = 0; a < 3; ++a) d[a].assign(s.w2[a]);
    Plane<int32_t> tri(kRays, packet), mask(kRays, packet);
    const float* dir[3] = {d[0].p, d[1].p, d[2].p};
    const VekrIntersectContext ctx = s.context();
    for (auto _ : state) {
        state.PauseTiming();
        mask.assign(s.w2mask);
        state.ResumeTiming();
        vekrIntersectAnySO_32f(s.cam.light, dir, tri.p, mask.p, VekrSize{kSide, kSide}, &ctx);
        benchmark::ClobberMemory();
    }
    size_t blocked = 0;
    for (size_t i = 0; i < kRays; ++i) blocked += s.w2mask[i] >= 0 && mask.p[i] < 0;
    state.counters["blocked"] = static_cast<double>(blocked);
    reportRays(state, s, s.w1Hits);
}

void registerAll()
{
    struct Entry {
        const char* name;
        Call call;
    };
    for (const Entry& e : {Entry{"W1/EyeSO", Call::Eye}, Entry{"W1/MO", Call::PerRayOrigin},
                           Entry{"W1/MultipleSO_1", Call::MultipleOne}, Entry{"W1/MultipleSO_4", Call::MultipleFour},
                           Entry{"W3/MO", Call::Incoherent}})
        for (bool packet : {true, false}) {
            const std::string n = std::string(e.name) + (packet ? "/packet" : "/scalar");
            benchmark::RegisterBenchmark(n.c_str(), closestHit, e.call, packet)
                ->Arg(kBunny)
                ->Arg(kSpheres)
                ->Unit(benchmark::kMillisecond);
        }
    for (bool packet : {true, false}) {
        const std::string n = std::string("W2/AnySO") + (packet ? "/packet" : "/scalar");
        benchmark::RegisterBenchmark(n.c_str(), occlusion, packet)
            ->Arg(kBunny)
            ->Arg(kSpheres)
            ->Unit(benchmark::kMillisecond);
    }
}

}  // namespace

const SceneSet& sceneSet(int which)
{
    static SceneSet sets[2];
    static bool built[2] = {false, false};
    if (!built[which]) {
        buildScene(which, sets[which]);
        built[which] = true;
    }
    return sets[which];
}

// Defined by the peer harness when Embree is available.
void registerPeerBenchmarks();

}  // namespace vekr_bench

int main(int argc, char** argv)
{
    vekr_bench::registerAll();
    vekr_bench::registerPeerBenchmarks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
