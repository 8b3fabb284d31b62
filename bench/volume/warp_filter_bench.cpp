// Affine warp, remap and filter on the standard volume workloads:
//   V3  warp of 32f 256^3 by +30 degrees about z around the centre,
//       linear and Catmull-Rom, 1 and 2 threads;
//   V4  remap of 32f 256^3 through three smooth displacement maps, linear,
//       1 and 2 threads;
//   V5  filter of 16s 260^3 into 256^3 with the binomial 3^3 and 5^3
//       kernels (the filter runs on the calling thread).
// Each workload has a baseline in the same run: a memcpy of half the bytes
// it reads and writes, which takes as long as the copy-speed bound of the
// workload (a copy moves its bytes in and out).
//
//   vekr_volume_warp_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "support/bench_buffers.h"
#include "support/bench_volumes.h"
#include "vekcore.h"
#include "vekr.h"

#include "workloads.h"

namespace {

using vekr_bench::sourceB;
using vekr_bench::sourceC;

constexpr int kN = 256;
constexpr size_t kVoxels = size_t{kN} * kN * kN;

// The V4 displacement maps, planes x, y, z of 256^3 each.
const std::vector<float>& mapsV4()
{
    static const std::vector<float> m = [] {
        std::vector<float> all(3 * kVoxels);
        float *mx = all.data(), *my = mx + kVoxels, *mz = my + kVoxels;
        wl_remap_maps(kN, kN, kN, mx, my, mz);
        return all;
    }();
    return m;
}

void transformV3(double a[12])
{
    double m[3][4];
    wl_rot30(m);
    for (int i = 0; i < 12; ++i) a[i] = m[i / 4][i % 4];
}

template <class T>
std::vector<T*> planesOf(T* base, int width, int height, int depth)
{
    std::vector<T*> p(depth);
    for (int z = 0; z < depth; ++z) p[z] = base + static_cast<size_t>(z) * width * height;
    return p;
}

void countVoxels(benchmark::State& state)
{
    state.counters["Mvox/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kVoxels / 1e6,
                                                  benchmark::Counter::kIsRate);
}

void V3_Warp(benchmark::State& state, int mode)
{
    vekSetNumThreads(static_cast<int32_t>(state.range(0)));
    const std::vector<float>& src = sourceB();
    auto dst = vekr_bench::alignedArray<float>(kVoxels);
    const std::vector<const float*> sp = planesOf(src.data(), kN, kN, kN);
    const std::vector<float*> dp = planesOf(dst.get(), kN, kN, kN);
    double a[12];
    transformV3(a);
    const VekrCuboid voi{0, 0, 0, kN, kN, kN};
    for (auto _ : state) {
        if (vekrWarpAffine_32f_C1PV(sp.data(), {kN, kN, kN}, kN * 4, voi, dp.data(), kN * 4, voi, a, mode, nullptr) !=
            vekStsOk)
            state.SkipWithError("warp failed");
        benchmark::DoNotOptimize(dst.get());
        benchmark::ClobberMemory();
    }
    countVoxels(state);
    vekSetNumThreads(0);
}

void V4_Remap(benchmark::State& state)
{
    vekSetNumThreads(static_cast<int32_t>(state.range(0)));
    const std::vector<float>& src = sourceB();
    const std::vector<float>& maps = mapsV4();
    auto dst = vekr_bench::alignedArray<float>(kVoxels);
    const std::vector<const float*> sp = planesOf(src.data(), kN, kN, kN);
    const std::vector<const float*> mx = planesOf(maps.data(), kN, kN, kN);
    const std::vector<const float*> my = planesOf(maps.data() + kVoxels, kN, kN, kN);
    const std::vector<const float*> mz = planesOf(maps.data() + 2 * kVoxels, kN, kN, kN);
    const std::vector<float*> dp = planesOf(dst.get(), kN, kN, kN);
    for (auto _ : state) {
        if (vekrRemap_32f_C1PV(sp.data(), {kN, kN, kN}, kN * 4, {0, 0, 0, kN, kN, kN}, mx.data(), my.data(), mz.data(),
                               kN * 4, dp.data(), kN * 4, {kN, kN, kN}, vekInterLinear) != vekStsOk)
            state.SkipWithError("remap failed");
        benchmark::DoNotOptimize(dst.get());
        benchmark::ClobberMemory();
    }
    countVoxels(state);
    vekSetNumThreads(0);
}

void V5_Filter(benchmark::State& state, int n)
{
    const std::vector<int16_t>& src = sourceC();
    auto dst = vekr_bench::alignedArray<int16_t>(kVoxels);
    std::vector<int32_t> kernel(static_cast<size_t>(n) * n * n);
    const std::vector<int32_t> b = n == 3 ? std::vector<int32_t>{1, 2, 1} : std::vector<int32_t>{1, 4, 6, 4, 1};
    for (int z = 0; z < n; ++z)
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) kernel[x + n * (y + n * z)] = b[x] * b[y] * b[z];
    const int32_t divisor = n == 3 ? 64 : 4096;
    // Plane pointers of source planes -2 .. 257 (in the workload's frame),
    // each at source voxel (0, 0) of its plane, so that index 0 is plane 0.
    std::vector<const int16_t*> planes(260);
    for (int z = 0; z < 260; ++z) planes[z] = src.data() + static_cast<size_t>(z) * 260 * 260 + 2 * 260 + 2;
    const int16_t* const* pSrc = planes.data() + 2;
    const std::vector<int16_t*> dp = planesOf(dst.get(), kN, kN, kN);
    const int a = n / 2;
    for (auto _ : state) {
        if (vekrFilter_16s_C1PV(pSrc, 260 * 2, dp.data(), kN * 2, {kN, kN, kN}, kernel.data(), {n, n, n}, {a, a, a},
                                divisor, nullptr) != vekStsOk)
            state.SkipWithError("filter failed");
        benchmark::DoNotOptimize(dst.get());
        benchmark::ClobberMemory();
    }
    countVoxels(state);
}

// Copy-speed bounds: half of input plus output bytes.
void V3_memcpy(benchmark::State& state) { vekr_bench::memcpyBaseline(state, (67108864u + 67108864u) / 2); }
void V4_memcpy(benchmark::State& state) { vekr_bench::memcpyBaseline(state, (67108864u + 201326592u + 67108864u) / 2); }
void V5_memcpy(benchmark::State& state) { vekr_bench::memcpyBaseline(state, (35152000u + 33554432u) / 2); }

}  // namespace

BENCHMARK(V3_memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(V3_Warp, Linear, vekInterLinear)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(V3_Warp, CatmullRom, vekInterCatmullRom)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(V4_memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(V4_Remap)->Name("V4_Remap/Linear")->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(V5_memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(V5_Filter, K3, 3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(V5_Filter, K5, 5)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
