// Closest hit of primary rays (workload W1) on the bunny with the single-leaf
// tree: every ray is tested against all 3,674 triangles, so this measures
// the ray-triangle test and its record layout rather than a traversal. It is
// the baseline the real trees are measured against.
//
// The full image is 1,048,576 rays (about 3.9 billion triangle tests); by
// default every 16th image row is traced (64 rows, 65,536 rays), which keeps
// the image's mix of hits and misses. VEKR_W1_ROW_STRIDE=1 runs the whole
// image.
//
// Times are CPU times of the calling thread: the call is single-threaded,
// and on a shared machine wall time mostly measures the neighbours.
//
// Baseline in the same run: a textbook Moller-Trumbore closest-hit scan in
// float over the same triangles and rays. For scale, the same export through
// a surface-area-heuristic tree runs the whole image (its hit count can be
// set against the 418,569 hits of the exact reference).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "support/bench_buffers.h"
#include "vekr.h"

#include "workloads.h"

namespace {

using vekr_bench::alignedArray;

int rowStride()
{
    const char* s = std::getenv("VEKR_W1_ROW_STRIDE");
    const int v = s ? std::atoi(s) : 16;
    return v >= 1 && v <= WL_IMAGE_H ? v : 16;
}

struct BunnyW1 {
    bool ok = false;
    std::vector<float> vertices;
    std::vector<int32_t> triangles;  // 4 per triangle
    std::vector<VekrTriangleAccel> accel;
    float box[6];
    VekrKDTreeNode* tree = nullptr;     // single leaf
    VekrKDTreeNode* sahTree = nullptr;  // for the comparison on the whole image
    wl_camera camera;
    int32_t width = WL_IMAGE_W, height = 0;
    // Directions of the selected rows, one plane per axis, with a spare
    // float in front so the planes can also be used misaligned.
    std::vector<float> dir[3];
    std::vector<float> fullDir[3];  // the whole image, same layout

    BunnyW1()
    {
        wl_mesh mesh{};
        if (wl_load_obj(VEKR_DATA_DIR "/bunny.obj", &mesh) != 0) return;
        vertices.assign(mesh.v, mesh.v + 3 * static_cast<size_t>(mesh.nv));
        for (int32_t t = 0; t < mesh.nt; ++t) triangles.insert(triangles.end(), {mesh.idx[3 * t], mesh.idx[3 * t + 1], mesh.idx[3 * t + 2], 0});
        const int32_t nv = mesh.nv, nt = mesh.nt;
        wl_free_mesh(&mesh);

        vekrSetBoundBox_32f(vertices.data(), nv, box);
        accel.resize(static_cast<size_t>(nt));
        vekrTriangleAccelInit(accel.data(), vertices.data(), triangles.data(), nt);
        const VekrKDTreeBuildParams simple{vekrKDTreeBuildSimple, 0, 0.0f, 0, nullptr};
        int32_t size = 0;
        if (vekrKDTreeBuildAlloc(&tree, vertices.data(), triangles.data(), nv, nt, &size, &simple) != vekStsOk) return;

        const VekrKDTreeBuildParams sah{vekrKDTreeBuildSAH, 30, 0.5f, 256, nullptr};
        if (vekrKDTreeBuildAlloc(&sahTree, vertices.data(), triangles.data(), nv, nt, &size, &sah) != vekStsOk)
            sahTree = nullptr;

        wl_camera_for(WL_SCENE_BUNNY, &camera);
        std::vector<float> full[3];
        for (auto& p : full) p.resize(static_cast<size_t>(WL_NRAYS));
        wl_eye_dirs(&camera, full[0].data(), full[1].data(), full[2].data());
        for (int k = 0; k < 3; ++k) {
            fullDir[k].assign(1 + static_cast<size_t>(WL_NRAYS) + 3, 0.0f);
            std::memcpy(&fullDir[k][1], full[k].data(), sizeof(float) * WL_NRAYS);
        }
        const int stride = rowStride();
        for (int r = 0; r < WL_IMAGE_H; r += stride) ++height;
        for (int k = 0; k < 3; ++k) {
            dir[k].assign(1 + static_cast<size_t>(width) * height + 3, 0.0f);
            int row = 0;
            for (int r = 0; r < WL_IMAGE_H; r += stride, ++row)
                std::memcpy(&dir[k][1 + static_cast<size_t>(row) * width], &full[k][static_cast<size_t>(r) * width],
                            sizeof(float) * width);
        }
        ok = true;
    }
    ~BunnyW1()
    {
        vekrKDTreeFree(tree);
        vekrKDTreeFree(sahTree);
    }
    size_t rays() const { return static_cast<size_t>(width) * height; }
};

const BunnyW1& bunny()
{
    static const BunnyW1 b;
    return b;
}

// Per-ray planes of one block, 16-byte aligned or shifted by one float.
struct Planes {
    static constexpr int kCount = 3 + 3 + 4;
    std::unique_ptr<float[], vekr_bench::FreeDeleter> store;
    float* p[kCount];
    Planes(size_t n, bool aligned)
    {
        const size_t stride = (n + 8) / 4 * 4;
        store = alignedArray<float>(stride * kCount);
        for (int i = 0; i < kCount; ++i) p[i] = store.get() + stride * i + (aligned ? 0 : 1);
    }
};

void reportRays(benchmark::State& state, size_t rays, int64_t hits)
{
    state.counters["Mrays/s"] =
        benchmark::Counter(static_cast<double>(rays) * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["us/ray"] = benchmark::Counter(static_cast<double>(rays) * 1e-6,
                                                  benchmark::Counter::kIsIterationInvariantRate |
                                                      benchmark::Counter::kInvert);
    state.counters["hits"] = static_cast<double>(hits);
    state.counters["rays"] = static_cast<double>(rays);
}

// vekrIntersectMO_32f with every origin at the eye, the block handed over
// in one call. Misaligned planes keep the call on the ray-by-ray path
// whatever paths the export grows.
struct W1Run {
    bool aligned;
    bool sahTree;  // the SAH tree over the whole image instead of the single leaf over the selected rows
};

void BM_IntersectMO_W1Bunny(benchmark::State& state, W1Run run)
{
    const BunnyW1& b = bunny();
    if (!b.ok || (run.sahTree && !b.sahTree)) {
        state.SkipWithError("cannot read " VEKR_DATA_DIR "/bunny.obj, or the tree build failed");
        return;
    }
    const int32_t height = run.sahTree ? WL_IMAGE_H : b.height;
    const std::vector<float>* source = run.sahTree ? b.fullDir : b.dir;
    const size_t n = static_cast<size_t>(b.width) * height;
    Planes planes(n, run.aligned);
    float* o[3] = {planes.p[0], planes.p[1], planes.p[2]};
    float* d[3] = {planes.p[3], planes.p[4], planes.p[5]};
    float* dist = planes.p[6];
    float* uv[2] = {planes.p[7], planes.p[8]};
    int32_t* tri = reinterpret_cast<int32_t*>(planes.p[9]);
    for (int k = 0; k < 3; ++k) {
        std::fill(o[k], o[k] + n, b.camera.eye[k]);
        std::memcpy(d[k], source[k].data() + 1, sizeof(float) * n);
    }
    const VekrIntersectContext ctx{b.box, b.accel.data(), run.sahTree ? b.sahTree : b.tree};
    const float* const co[3] = {o[0], o[1], o[2]};
    const float* const cd[3] = {d[0], d[1], d[2]};
    for (auto _ : state) {
        state.PauseTiming();
        std::fill(dist, dist + n, 1e30f);
        state.ResumeTiming();
        vekrIntersectMO_32f(co, cd, dist, uv, tri, &ctx, VekrSize{b.width, height});
        benchmark::ClobberMemory();
    }
    int64_t hits = 0;
    for (size_t i = 0; i < n; ++i) hits += tri[i] >= 0;
    reportRays(state, n, hits);
}

// The baseline: Moller-Trumbore on the vertex arrays, closest hit in
// 0 < t < dist, one ray at a time over every triangle.
void BM_TextbookScan_W1Bunny(benchmark::State& state)
{
    const BunnyW1& b = bunny();
    if (!b.ok) {
        state.SkipWithError("cannot read " VEKR_DATA_DIR "/bunny.obj");
        return;
    }
    const size_t n = b.rays();
    const size_t nt = b.triangles.size() / 4;
    // Precomputed edges, as any scan would keep them.
    std::vector<float> pre(9 * nt);
    for (size_t t = 0; t < nt; ++t) {
        const float* a = &b.vertices[3 * static_cast<size_t>(b.triangles[4 * t])];
        const float* p1 = &b.vertices[3 * static_cast<size_t>(b.triangles[4 * t + 1])];
        const float* p2 = &b.vertices[3 * static_cast<size_t>(b.triangles[4 * t + 2])];
        for (int k = 0; k < 3; ++k) {
            pre[9 * t + k] = a[k];
            pre[9 * t + 3 + k] = p1[k] - a[k];
            pre[9 * t + 6 + k] = p2[k] - a[k];
        }
    }
    std::vector<int32_t> tri(n);
    std::vector<float> dist(n);
    for (auto _ : state) {
        for (size_t i = 0; i < n; ++i) {
            const float o[3] = {b.camera.eye[0], b.camera.eye[1], b.camera.eye[2]};
            const float d[3] = {b.dir[0][1 + i], b.dir[1][1 + i], b.dir[2][1 + i]};
            float best = 1e30f;
            int32_t hit = -1;
            for (size_t t = 0; t < nt; ++t) {
                const float* v0 = &pre[9 * t];
                const float* e1 = v0 + 3;
                const float* e2 = v0 + 6;
                const float p[3] = {d[1] * e2[2] - d[2] * e2[1], d[2] * e2[0] - d[0] * e2[2], d[0] * e2[1] - d[1] * e2[0]};
                const float det = e1[0] * p[0] + e1[1] * p[1] + e1[2] * p[2];
                if (std::fabs(det) < 1e-12f) continue;
                const float inv = 1.0f / det;
                const float s[3] = {o[0] - v0[0], o[1] - v0[1], o[2] - v0[2]};
                const float u = (s[0] * p[0] + s[1] * p[1] + s[2] * p[2]) * inv;
                if (u < 0.0f || u > 1.0f) continue;
                const float q[3] = {s[1] * e1[2] - s[2] * e1[1], s[2] * e1[0] - s[0] * e1[2], s[0] * e1[1] - s[1] * e1[0]};
                const float v = (d[0] * q[0] + d[1] * q[1] + d[2] * q[2]) * inv;
                if (v < 0.0f || u + v > 1.0f) continue;
                const float t2 = (e2[0] * q[0] + e2[1] * q[1] + e2[2] * q[2]) * inv;
                if (t2 > 0.0f && t2 < best) {
                    best = t2;
                    hit = static_cast<int32_t>(t);
                }
            }
            dist[i] = best;
            tri[i] = hit;
        }
        benchmark::DoNotOptimize(tri.data());
        benchmark::ClobberMemory();
    }
    int64_t hits = 0;
    for (int32_t t : tri) hits += t >= 0;
    reportRays(state, n, hits);
}

BENCHMARK_CAPTURE(BM_IntersectMO_W1Bunny, single_leaf_scalar, W1Run{false, false})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_IntersectMO_W1Bunny, single_leaf_aligned, W1Run{true, false})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextbookScan_W1Bunny)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_IntersectMO_W1Bunny, sah_tree_scalar_full_image, W1Run{false, true})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
