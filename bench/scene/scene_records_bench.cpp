// Scene set-up exports on the standard scenes, in ns per triangle, each
// beside a memcpy of the bytes it writes (for the bounds: the vertex bytes
// it reads) measured in the same run.
//
// Without the standard workloads the scenes are replaced by a generated
// sphere grid of similar size, so the program always runs.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "support/bench_buffers.h"
#include "vekcore.h"
#include "vekr.h"

#ifdef VEKR_HAVE_WORKLOADS
#include "workloads.h"
#endif

namespace {

struct Scene {
    std::string name;
    std::vector<float> vertices;     // 3 floats per vertex
    std::vector<int32_t> triangles;  // 4 words per triangle
    int32_t vertexCount() const { return static_cast<int32_t>(vertices.size() / 3); }
    int32_t triangleCount() const { return static_cast<int32_t>(triangles.size() / 4); }
};

#ifdef VEKR_HAVE_WORKLOADS
bool fromMesh(const char* name, int loaded, wl_mesh& m, Scene& s)
{
    if (loaded != 0) return false;
    s.name = name;
    s.vertices.assign(m.v, m.v + 3 * static_cast<size_t>(m.nv));
    s.triangles.resize(4 * static_cast<size_t>(m.nt));
    for (int32_t t = 0; t < m.nt; ++t)
        for (int k = 0; k < 4; ++k) s.triangles[4 * t + k] = k < 3 ? m.idx[3 * t + k] : 0;
    wl_free_mesh(&m);
    return true;
}
#endif

// A grid of UV spheres: rings x segments per sphere, count^3 spheres.
Scene sphereGrid(int count, int rings, int segments)
{
    Scene s;
    s.name = "sphere_grid";
    const double pi = 3.141592653589793;
    for (int sz = 0; sz < count; ++sz)
        for (int sy = 0; sy < count; ++sy)
            for (int sx = 0; sx < count; ++sx) {
                const int32_t base = s.vertexCount();
                for (int r = 0; r <= rings; ++r)
                    for (int g = 0; g < segments; ++g) {
                        const double th = pi * r / rings, ph = 2 * pi * g / segments;
                        s.vertices.insert(s.vertices.end(),
                                          {float(sx + 0.4 * std::sin(th) * std::cos(ph)),
                                           float(sy + 0.4 * std::sin(th) * std::sin(ph)), float(sz + 0.4 * std::cos(th))});
                    }
                for (int r = 0; r < rings; ++r)
                    for (int g = 0; g < segments; ++g) {
                        const int32_t a = base + r * segments + g, b = base + r * segments + (g + 1) % segments;
                        s.triangles.insert(s.triangles.end(), {a, a + segments, b + segments, 0, a, b + segments, b, 0});
                    }
            }
    return s;
}

std::vector<Scene> loadScenes()
{
    std::vector<Scene> scenes;
#ifdef VEKR_HAVE_WORKLOADS
    wl_mesh m{};
    Scene bunny, spheres;
    if (fromMesh("bunny", wl_load_obj(VEKR_SHARED_DATA_DIR "/bunny.obj", &m), m, bunny)) scenes.push_back(bunny);
    wl_mesh sm{};
    if (fromMesh("spheres", wl_make_spheres(&sm), sm, spheres)) scenes.push_back(spheres);
#endif
    if (scenes.empty()) scenes.push_back(sphereGrid(8, 32, 64));
    return scenes;
}

void perTriangle(benchmark::State& state, const Scene& s)
{
    state.counters["ns_per_tri"] = benchmark::Counter(
        double(s.triangleCount()) * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void accelInit(benchmark::State& state, const Scene* s)
{
    auto rec = vekr_bench::alignedArray<VekrTriangleAccel>(s->triangleCount());
    for (auto _ : state) {
        vekrTriangleAccelInit(rec.get(), s->vertices.data(), s->triangles.data(), s->triangleCount());
        benchmark::ClobberMemory();
    }
    perTriangle(state, *s);
}

void boundBox(benchmark::State& state, const Scene* s)
{
    float box[6];
    for (auto _ : state) {
        vekrSetBoundBox_32f(s->vertices.data(), s->vertexCount(), box);
        benchmark::DoNotOptimize(box);
    }
    perTriangle(state, *s);
}

void triangleNormal(benchmark::State& state, const Scene* s, int threads)
{
    auto out = vekr_bench::alignedArray<float>(3 * static_cast<size_t>(s->triangleCount()));
    vekSetNumThreads(threads);
    for (auto _ : state) {
        vekrTriangleNormal_32f(s->vertices.data(), s->triangles.data(), out.get(), s->triangleCount());
        benchmark::ClobberMemory();
    }
    vekSetNumThreads(0);
    perTriangle(state, *s);
}

void memcpyPerTriangle(benchmark::State& state, const Scene* s, size_t bytes)
{
    vekr_bench::memcpyBaseline(state, bytes);
    perTriangle(state, *s);
}

}  // namespace

int main(int argc, char** argv)
{
    static const std::vector<Scene> scenes = loadScenes();
    for (const Scene& s : scenes) {
        const Scene* p = &s;
        const size_t nt = s.triangleCount(), nv = s.vertexCount();
        const std::string n = "/" + s.name;
        benchmark::RegisterBenchmark(("TriangleAccelInit" + n).c_str(), accelInit, p)->UseRealTime();
        benchmark::RegisterBenchmark(("memcpy_records" + n).c_str(), memcpyPerTriangle, p, nt * sizeof(VekrTriangleAccel))
            ->UseRealTime();
        benchmark::RegisterBenchmark(("SetBoundBox" + n).c_str(), boundBox, p)->UseRealTime();
        benchmark::RegisterBenchmark(("memcpy_vertices" + n).c_str(), memcpyPerTriangle, p, nv * 12)->UseRealTime();
        for (int threads : {1, 2})
            benchmark::RegisterBenchmark(("TriangleNormal" + n + "/threads:" + std::to_string(threads)).c_str(),
                                         triangleNormal, p, threads)
                ->UseRealTime();
        benchmark::RegisterBenchmark(("memcpy_normals" + n).c_str(), memcpyPerTriangle, p, nt * 12)->UseRealTime();
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
