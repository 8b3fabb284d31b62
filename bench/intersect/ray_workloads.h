// The standard ray workloads W1 (camera rays), W2 (shadow rays of the W1
// hits) and W3 (incoherent rays) on the bunny and the spheres scene, with
// the scene's records and SAH tree built once per process.
#ifndef VEKR_BENCH_INTERSECT_RAY_WORKLOADS_H
#define VEKR_BENCH_INTERSECT_RAY_WORKLOADS_H

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "support/bench_buffers.h"
#include "vekr.h"
#include "workloads.h"

namespace vekr_bench {

constexpr int kBunny = 0, kSpheres = 1;
constexpr int32_t kSide = 1024;
constexpr size_t kRays = static_cast<size_t>(kSide) * kSide;

// One float or int plane, 64-byte aligned, or one element off so that the
// intersection calls take their ray-by-ray path on the same data.
template <class T>
struct Plane {
    explicit Plane(size_t n, bool aligned = true) : mem(alignedArray<T>(n + 16)), p(mem.get() + (aligned ? 0 : 1)) {}
    std::unique_ptr<T[], FreeDeleter> mem;
    T* p;
    void assign(const std::vector<T>& v) { std::memcpy(p, v.data(), v.size() * sizeof(T)); }
};

struct SceneSet {
    const char* name = "";
    bool ok = false;
    std::vector<float> vertices;
    std::vector<int32_t> triangles;  // 4 words per triangle
    int32_t vertexCount = 0, triangleCount = 0;
    std::vector<VekrTriangleAccel> accel;
    float box[6] = {};
    VekrKDTreeNode* tree = nullptr;
    int32_t treeSize = 0;
    wl_camera cam{};
    float bmin[3] = {}, bmax[3] = {};

    std::vector<float> w1[3];                   // camera directions
    std::vector<float> w3o[3], w3d[3];          // incoherent origins and directions
    std::vector<float> w2[3];                   // light to (pulled-in) W1 hit points
    std::vector<int32_t> w2mask;                // W1 triangle numbers: -1 where no shadow ray
    size_t w1Hits = 0;

    VekrIntersectContext context() const { return VekrIntersectContext{box, accel.data(), tree}; }
};

// Built on first use; the SAH tree with depth 40 and split factor `factor`.
const SceneSet& sceneSet(int which);

// Labels the run with the scene name and sets its rate in rays per second.
inline void reportRays(benchmark::State& state, const SceneSet& s, size_t raysPerIteration)
{
    state.SetLabel(s.name);
    state.counters["Mrays/s"] = benchmark::Counter(static_cast<double>(raysPerIteration) * 1e-6,
                                                   benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace vekr_bench

#endif
