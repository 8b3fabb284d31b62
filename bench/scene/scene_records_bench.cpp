// Scene set-up exports on the standard scenes, in ns per triangle, each
// beside a memcpy of the bytes it writes (for the bounds: the vertex bytes
// it reads) measured in the same run.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/bench_buffers.h"
#include "vekcore.h"
#include "vekr.h"

#include "workloads.h"

namespace {

struct Scene {
    std::string name;
    std::vector<float> vertices;     // 3 floats per vertex
    std::vector<int32_t> triangles;  // 4 words per triangle
    int32_t vertexCount() const { return static_cast<int32_t>(vertices.size() / 3); }
    int32_t triangleCount() const { return static_cast<int32_t>(triangles.size() / 4); }
};

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

// The bunny and the spheres; a scene that cannot be had ends the program
// with a line that says why.
std::vector<Scene> loadScenes()
{
    std::vector<Scene> scenes(2);
    wl_mesh m{};
    if (!fromMesh("bunny", wl_load_obj(VEKR_DATA_DIR "/bunny.obj", &m), m, scenes[0])) {
        std::fprintf(stderr, "cannot read the bunny scene %s\n", VEKR_DATA_DIR "/bunny.obj");
        std::exit(1);
    }
    if (!fromMesh("spheres", wl_make_spheres(&m), m, scenes[1])) {
        std::fprintf(stderr, "out of memory for the spheres scene\n");
        std::exit(1);
    }
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
