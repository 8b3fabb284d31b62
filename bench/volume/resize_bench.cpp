// Resize on the standard volume workloads: V1 (8u 128^3 -> 256^3, factor 2)
// and V2 (32f 256^3 -> 128^3, factor 0.5), in linear, Catmull-Rom,
// B-spline (V1) and nearest modes, one thread unless the name says otherwise. Each workload
// has a memcpy of its destination's bytes as the baseline of the same run.
//
//   vekr_volume_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "support/bench_buffers.h"
#include "support/bench_volumes.h"
#include "vekcore.h"
#include "vekr.h"

#include "workloads.h"

namespace {

using vekr_bench::sourceA;
using vekr_bench::sourceB;

template <class T>
void runResize(benchmark::State& state, const std::vector<T>& src, int srcN, int dstN, double factor, int mode,
               int threads)
{
    vekSetNumThreads(threads);
    const VekrVolume sv{srcN, srcN, srcN};
    const VekrCuboid svoi{0, 0, 0, srcN, srcN, srcN}, dvoi{0, 0, 0, dstN, dstN, dstN};
    const size_t voxels = static_cast<size_t>(dstN) * dstN * dstN;
    auto dst = vekr_bench::alignedArray<T>(voxels);
    int32_t size = 0;
    vekrResizeGetBufSize(svoi, dvoi, 1, mode, &size);
    auto buffer = vekr_bench::alignedArray<uint8_t>(static_cast<size_t>(size));
    const int32_t sstep = srcN * static_cast<int32_t>(sizeof(T)), dstep = dstN * static_cast<int32_t>(sizeof(T));
    for (auto _ : state) {
        VekStatus s;
        if constexpr (sizeof(T) == 1)
            s = vekrResize_8u_C1V(src.data(), sv, sstep, sstep * srcN, svoi, dst.get(), dstep, dstep * dstN, dvoi,
                                  factor, factor, factor, 0, 0, 0, mode, buffer.get());
        else
            s = vekrResize_32f_C1V(src.data(), sv, sstep, sstep * srcN, svoi, dst.get(), dstep, dstep * dstN, dvoi,
                                   factor, factor, factor, 0, 0, 0, mode, buffer.get());
        if (s != vekStsOk) state.SkipWithError("resize failed");
        benchmark::DoNotOptimize(dst.get());
        benchmark::ClobberMemory();
    }
    vekSetNumThreads(0);
    state.counters["Mvoxels/s"] =
        benchmark::Counter(static_cast<double>(voxels) * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
}

void V1_Linear(benchmark::State& s) { runResize(s, sourceA(), 128, 256, 2.0, vekInterLinear, 1); }
void V1_CatmullRom(benchmark::State& s) { runResize(s, sourceA(), 128, 256, 2.0, vekInterCatmullRom, 1); }
void V1_BSpline(benchmark::State& s) { runResize(s, sourceA(), 128, 256, 2.0, vekInterBSpline, 1); }
void V1_Nearest(benchmark::State& s) { runResize(s, sourceA(), 128, 256, 2.0, vekInterNearest, 1); }
void V1_Memcpy(benchmark::State& s) { vekr_bench::memcpyBaseline(s, 256u * 256u * 256u); }
void V2_Linear(benchmark::State& s) { runResize(s, sourceB(), 256, 128, 0.5, vekInterLinear, 1); }
void V2_Linear_2Threads(benchmark::State& s) { runResize(s, sourceB(), 256, 128, 0.5, vekInterLinear, 2); }
void V2_CatmullRom(benchmark::State& s) { runResize(s, sourceB(), 256, 128, 0.5, vekInterCatmullRom, 1); }
void V2_Nearest(benchmark::State& s) { runResize(s, sourceB(), 256, 128, 0.5, vekInterNearest, 1); }
void V2_Memcpy(benchmark::State& s) { vekr_bench::memcpyBaseline(s, 128u * 128u * 128u * 4u); }

}  // namespace

BENCHMARK(V1_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(V1_Nearest)->Unit(benchmark::kMillisecond);
BENCHMARK(V1_Linear)->Unit(benchmark::kMillisecond);
BENCHMARK(V1_CatmullRom)->Unit(benchmark::kMillisecond);
BENCHMARK(V1_BSpline)->Unit(benchmark::kMillisecond);
BENCHMARK(V2_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(V2_Nearest)->Unit(benchmark::kMillisecond);
BENCHMARK(V2_Linear)->Unit(benchmark::kMillisecond);
BENCHMARK(V2_Linear_2Threads)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(V2_CatmullRom)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
