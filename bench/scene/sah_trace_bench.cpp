// Closest-hit rays through the SAH tree against the single-leaf tree: the
// W1 (primary) and W3 (random) workloads on the bunny and the spheres,
// through vekrIntersectMO_32f's ray-by-ray path (planes shifted off 16-byte
// alignment). Every 8th image row of W1 and every 8th ray of W3 is traced
// with the SAH tree; the single-leaf baseline, which tests every triangle,
// traces every 64th row of the bunny's W1. Rates are per ray, so the ratio
// of the two us/ray figures is the tree's speed-up.
//
// Times are CPU times of the calling thread (the call is single-threaded).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "vekr.h"

#include "support/bench_scenes.h"

namespace {

struct TracedScene {
    bool ok = false;
    vekr_bench::BenchScene mesh;
    std::vector<VekrTriangleAccel> accel;
    float box[6];
    VekrKDTreeNode* sah = nullptr;
    VekrKDTreeNode* simple = nullptr;
    wl_camera camera;

    explicit TracedScene(int scene)
    {
        if (!vekr_bench::loadBenchScene(scene, mesh)) return;
        const int32_t nv = mesh.vertexCount, nt = mesh.triangleCount;
        const float* v = mesh.vertices.data();
        const int32_t* t = mesh.triangles.data();
        vekrSetBoundBox_32f(v, nv, box);
        accel.resize(static_cast<size_t>(nt));
        vekrTriangleAccelInit(accel.data(), v, t, nt);
        const VekrKDTreeBuildParams sahParams{vekrKDTreeBuildSAH, 50, 0.5f, 2000, nullptr};
        const VekrKDTreeBuildParams simpleParams{vekrKDTreeBuildSimple, 0, 0.0f, 0, nullptr};
        int32_t size = 0;
        ok = vekrKDTreeBuildAlloc(&sah, v, t, nv, nt, &size, &sahParams) == vekStsOk &&
             vekrKDTreeBuildAlloc(&simple, v, t, nv, nt, &size, &simpleParams) == vekStsOk;
        wl_camera_for(scene, &camera);
    }
    ~TracedScene()
    {
        vekrKDTreeFree(sah);
        vekrKDTreeFree(simple);
    }
};

const TracedScene& scene(int which)
{
    static const TracedScene bunny(WL_SCENE_BUNNY), spheres(WL_SCENE_SPHERES);
    return which == WL_SCENE_BUNNY ? bunny : spheres;
}

// Ten planes (origin, direction, distance, u, v, triangle) one float off
// 16-byte alignment, so the export takes its ray-by-ray path.
struct RayBlock {
    std::vector<float> store;
    float* p[10];
    size_t n;
    explicit RayBlock(size_t count) : store(10 * (count + 4)), n(count)
    {
        for (int i = 0; i < 10; ++i) p[i] = store.data() + i * (count + 4) + (reinterpret_cast<uintptr_t>(store.data()) % 16 == 0 ? 1 : 0);
    }
};

// W1: every `stride`-th image row; W3: every `stride`-th ray.
RayBlock makeRays(const TracedScene& s, bool primary, int stride)
{
    std::vector<float> o[3], d[3];
    for (int k = 0; k < 3; ++k) {
        o[k].resize(WL_NRAYS);
        d[k].resize(WL_NRAYS);
    }
    if (primary) {
        wl_eye_dirs(&s.camera, d[0].data(), d[1].data(), d[2].data());
        for (int k = 0; k < 3; ++k) std::fill(o[k].begin(), o[k].end(), s.camera.eye[k]);
    } else {
        const float lo[3] = {s.box[0], s.box[1], s.box[2]}, hi[3] = {s.box[3], s.box[4], s.box[5]};
        wl_random_rays(lo, hi, WL_NRAYS, o[0].data(), o[1].data(), o[2].data(), d[0].data(), d[1].data(),
                       d[2].data());
    }
    std::vector<size_t> picked;
    for (size_t i = 0; i < static_cast<size_t>(WL_NRAYS); ++i)
        if (primary ? (i / WL_IMAGE_W) % stride == 0 : i % stride == 0) picked.push_back(i);
    RayBlock b(picked.size());
    for (size_t j = 0; j < picked.size(); ++j)
        for (int k = 0; k < 3; ++k) {
            b.p[k][j] = o[k][picked[j]];
            b.p[3 + k][j] = d[k][picked[j]];
        }
    return b;
}

void BM_Trace(benchmark::State& state, int which, bool primary, bool sahTree, int stride)
{
    const TracedScene& s = scene(which);
    if (!s.ok) {
        state.SkipWithError("scene not available");
        return;
    }
    RayBlock b = makeRays(s, primary, stride);
    const VekrIntersectContext ctx{s.box, s.accel.data(), sahTree ? s.sah : s.simple};
    const float* const o[3] = {b.p[0], b.p[1], b.p[2]};
    const float* const d[3] = {b.p[3], b.p[4], b.p[5]};
    float* uv[2] = {b.p[7], b.p[8]};
    int32_t* tri = reinterpret_cast<int32_t*>(b.p[9]);
    const int32_t width = static_cast<int32_t>(b.n);
    for (auto _ : state) {
        state.PauseTiming();
        std::fill(b.p[6], b.p[6] + b.n, 1e30f);
        state.ResumeTiming();
        vekrIntersectMO_32f(o, d, b.p[6], uv, tri, &ctx, VekrSize{width, 1});
        benchmark::ClobberMemory();
    }
    int64_t hits = 0;
    for (size_t i = 0; i < b.n; ++i) hits += tri[i] >= 0;
    state.counters["rays"] = static_cast<double>(b.n);
    state.counters["hit_share"] = static_cast<double>(hits) / static_cast<double>(b.n);
    state.counters["Mrays/s"] =
        benchmark::Counter(static_cast<double>(b.n) * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["us/ray"] = benchmark::Counter(static_cast<double>(b.n) * 1e-6,
                                                  benchmark::Counter::kIsIterationInvariantRate |
                                                      benchmark::Counter::kInvert);
}

BENCHMARK_CAPTURE(BM_Trace, bunny_W1_simple, WL_SCENE_BUNNY, true, false, 64)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Trace, bunny_W1_sah, WL_SCENE_BUNNY, true, true, 8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Trace, bunny_W3_sah, WL_SCENE_BUNNY, false, true, 8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Trace, spheres_W1_sah, WL_SCENE_SPHERES, true, true, 8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Trace, spheres_W3_sah, WL_SCENE_SPHERES, false, true, 8)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
