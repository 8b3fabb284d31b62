// Build time of the surface-area-heuristic kd-tree on the standard scenes,
// on 1 and 2 threads (the count the core library reports). Counters: tree
// statistics and peak working memory (bytes taken from vekMalloc during the
// build, tree block included). The baseline is a memcpy of the scene's
// vertex and index arrays.
//
// The peer, when Embree 3 is installed: Embree's BVH build of the same
// scene at medium and at high quality (its SAH build), on a device held to
// the same thread count, timed from the vertex and index arrays to a
// committed scene like the kd-tree.
#include <benchmark/benchmark.h>

#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "scene/kdtree_node.h"
#include "scene/sah_build.h"
#include "vekcore.h"
#include "vekr.h"

#include "support/bench_scenes.h"

#ifdef VEKR_HAVE_EMBREE
#include "support/embree_scene.h"
#endif

namespace {

using Scene = vekr_bench::BenchScene;

const Scene* bunny()
{
    static Scene s;
    static const bool ok = vekr_bench::loadBenchScene(WL_SCENE_BUNNY, s);
    return ok ? &s : nullptr;
}

const Scene* spheres()
{
    static Scene s;
    static const bool ok = vekr_bench::loadBenchScene(WL_SCENE_SPHERES, s);
    return ok ? &s : nullptr;
}

// Tracks the bytes live in vekMalloc blocks and their peak.
struct PeakTracker {
    std::atomic<long long> live{0}, peak{0};
    static void* alloc(size_t n, void* user)
    {
        auto* self = static_cast<PeakTracker*>(user);
        auto* p = static_cast<size_t*>(std::malloc(n + 16));
        if (!p) return nullptr;
        *p = n;
        const long long now = self->live += static_cast<long long>(n);
        long long old = self->peak.load();
        while (now > old && !self->peak.compare_exchange_weak(old, now)) {
        }
        return reinterpret_cast<char*>(p) + 16;
    }
    static void release(void* q, void* user)
    {
        auto* self = static_cast<PeakTracker*>(user);
        auto* p = reinterpret_cast<size_t*>(static_cast<char*>(q) - 16);
        self->live -= static_cast<long long>(*p);
        std::free(p);
    }
};

struct TreeStats {
    long nodes = 0, leaves = 0, empty = 0, refs = 0, depth = 0;
    void walk(const VekrKDTreeNode* n, long d)
    {
        ++nodes;
        if (d > depth) depth = d;
        if (vekr::kd::isLeaf(*n)) {
            ++leaves;
            const long c = vekr::kd::leafCount(*n);
            if (c == 0) ++empty;
            refs += c;
            return;
        }
        walk(vekr::kd::child(n, 0), d + 1);
        walk(vekr::kd::child(n, 1), d + 1);
    }
};

// Nanoseconds each thread of the process has run so far (Linux schedstat).
// Their growth over a build, with OpenMP told to sleep rather than spin
// while it waits (OMP_WAIT_POLICY=passive), shows how the work was spread:
// on a loaded machine the busiest thread's share bounds the time the build
// would take on two idle cores better than the wall clock does.
std::map<int, double> threadRunTimes()
{
    std::map<int, double> out;
    DIR* d = opendir("/proc/self/task");
    if (!d) return out;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        char path[300];
        std::snprintf(path, sizeof path, "/proc/self/task/%s/schedstat", e->d_name);
        if (FILE* f = std::fopen(path, "r")) {
            double ns = 0;
            if (std::fscanf(f, "%lf", &ns) == 1) out[std::atoi(e->d_name)] = ns;
            std::fclose(f);
        }
    }
    closedir(d);
    return out;
}

VekStatus buildOnce(const Scene& s, VekrKDTreeNode** tree, int32_t* size, int threads)
{
    vekSetNumThreads(threads);
    const VekStatus st =
        vekr::buildKDTreeSAH(s.vertices.data(), s.triangles.data(), s.vertexCount, s.triangleCount, tree, size, 0.5f, 50, 2000u << 20, nullptr);
    vekSetNumThreads(0);
    return st;
}

void BM_SAHBuild(benchmark::State& state, const Scene* (*scene)(), int threads)
{
    const Scene* s = scene();
    if (!s) {
        state.SkipWithError("scene not available");
        return;
    }
    int32_t size = 0;
    double busiest = 0, total = 0;
    for (auto _ : state) {
        VekrKDTreeNode* tree = nullptr;
        const std::map<int, double> before = threadRunTimes();
        if (buildOnce(*s, &tree, &size, threads) != vekStsOk) {
            state.SkipWithError("build failed");
            return;
        }
        for (const auto& [tid, ns] : threadRunTimes()) {
            const auto b = before.find(tid);
            const double ran = (ns - (b == before.end() ? 0.0 : b->second)) * 1e-9;
            busiest = std::max(busiest, ran);
            total += ran;
        }
        vekFree(tree);
    }
    state.counters["busiest_thread_s"] = benchmark::Counter(busiest, benchmark::Counter::kAvgIterations);
    state.counters["all_threads_s"] = benchmark::Counter(total, benchmark::Counter::kAvgIterations);
    PeakTracker peak;
    vekSetAllocator(&PeakTracker::alloc, &PeakTracker::release, &peak);
    VekrKDTreeNode* tree = nullptr;
    buildOnce(*s, &tree, &size, threads);
    vekSetAllocator(nullptr, nullptr, nullptr);
    TreeStats st;
    st.walk(tree, 0);
    vekFree(tree);
    state.counters["triangles"] = static_cast<double>(s->triangleCount);
    state.counters["peak_MB"] = static_cast<double>(peak.peak.load()) / (1 << 20);
    state.counters["block_MB"] = static_cast<double>(size) / (1 << 20);
    state.counters["leaves"] = static_cast<double>(st.leaves);
    state.counters["empty_leaves"] = static_cast<double>(st.empty);
    state.counters["tris_per_leaf"] =
        st.leaves > st.empty ? static_cast<double>(st.refs) / static_cast<double>(st.leaves - st.empty) : 0.0;
    state.counters["depth"] = static_cast<double>(st.depth);
}

void BM_CopyScene(benchmark::State& state, const Scene* (*scene)())
{
    const Scene* s = scene();
    if (!s) {
        state.SkipWithError("scene not available");
        return;
    }
    std::vector<float> v(s->vertices.size());
    std::vector<int32_t> t(s->triangles.size());
    for (auto _ : state) {
        std::memcpy(v.data(), s->vertices.data(), 4 * v.size());
        std::memcpy(t.data(), s->triangles.data(), 4 * t.size());
        benchmark::ClobberMemory();
    }
}

#ifdef VEKR_HAVE_EMBREE
void BM_EmbreeBuild(benchmark::State& state, const Scene* (*scene)(), int threads, RTCBuildQuality quality)
{
    const Scene* s = scene();
    if (!s) {
        state.SkipWithError("scene not available");
        return;
    }
    const std::string config = "threads=" + std::to_string(threads);
    RTCDevice device = rtcNewDevice(config.c_str());
    if (!device) {
        state.SkipWithError("rtcNewDevice failed");
        return;
    }
    for (auto _ : state) {
        RTCScene built = vekr_bench::newEmbreeScene(device, s->vertices.data(), s->vertexCount, s->triangles.data(),
                                                    s->triangleCount, quality);
        state.PauseTiming();
        if (rtcGetDeviceError(device) != RTC_ERROR_NONE) state.SkipWithError("Embree build failed");
        rtcReleaseScene(built);
        state.ResumeTiming();
    }
    rtcReleaseDevice(device);
    state.counters["triangles"] = static_cast<double>(s->triangleCount);
}
#else
void BM_EmbreeBuild(benchmark::State& state, const Scene* (*)(), int, int)
{
    state.SkipWithError("Embree peer absent: install libembree-dev (scripts/setup-deps --peers) and configure again");
}
constexpr int RTC_BUILD_QUALITY_MEDIUM = 1, RTC_BUILD_QUALITY_HIGH = 2;
#endif

BENCHMARK_CAPTURE(BM_CopyScene, bunny, bunny)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_SAHBuild, bunny_1thread, bunny, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SAHBuild, bunny_2threads, bunny, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CopyScene, spheres, spheres)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_SAHBuild, spheres_1thread, spheres, 1)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_SAHBuild, spheres_2threads, spheres, 2)->Unit(benchmark::kMillisecond)->Iterations(1);
// Names: EmbreeBuild/<scene>_<threads>/<medium|high>.
#define VEKR_EMBREE_BUILD(scene, threads, label)                                                             \
    BENCHMARK_CAPTURE(BM_EmbreeBuild, scene##_##label##_medium, scene, threads, RTC_BUILD_QUALITY_MEDIUM)   \
        ->Unit(benchmark::kMillisecond)                                                                      \
        ->UseRealTime();                                                                                     \
    BENCHMARK_CAPTURE(BM_EmbreeBuild, scene##_##label##_high, scene, threads, RTC_BUILD_QUALITY_HIGH)       \
        ->Unit(benchmark::kMillisecond)                                                                      \
        ->UseRealTime()
VEKR_EMBREE_BUILD(bunny, 1, 1thread);
VEKR_EMBREE_BUILD(bunny, 2, 2threads);
VEKR_EMBREE_BUILD(spheres, 1, 1thread);
VEKR_EMBREE_BUILD(spheres, 2, 2threads);
#undef VEKR_EMBREE_BUILD

}  // namespace

BENCHMARK_MAIN();
