// Helpers shared by the benchmark programs.
#ifndef VEKR_BENCH_SUPPORT_BENCH_BUFFERS_H
#define VEKR_BENCH_SUPPORT_BENCH_BUFFERS_H

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "aligned_memory.h"

namespace vekr_bench {

struct FreeDeleter {
    void operator()(void* p) const { portable_aligned_free(p); }
};

// 64-byte aligned, zero-initialised array that the benchmarks own.
template <class T>
std::unique_ptr<T[], FreeDeleter> alignedArray(size_t n)
{
    const size_t bytes = (n * sizeof(T) + 63) / 64 * 64;
    T* p = static_cast<T*>(portable_aligned_alloc(64, bytes));
    std::memset(p, 0, bytes);
    return std::unique_ptr<T[], FreeDeleter>(p);
}

// The baseline of every memory-bound benchmark: copying the same number of
// bytes that the measured operation reads and writes.
inline void memcpyBaseline(benchmark::State& state, size_t bytes)
{
    auto src = alignedArray<char>(bytes);
    auto dst = alignedArray<char>(bytes);
    std::memset(src.get(), 1, bytes);
    for (auto _ : state) {
        std::memcpy(dst.get(), src.get(), bytes);
        benchmark::DoNotOptimize(dst.get());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

}  // namespace vekr_bench

#endif
