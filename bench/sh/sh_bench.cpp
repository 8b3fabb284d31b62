// Spherical-harmonics benchmarks on the standard workloads:
//   S1  all 256 basis values of bands 0 .. 15 at 1,048,576 directions, as
//       256 calls of 4,096 directions into one reused 4 MiB block;
//   S2  forward transform up to band 8 of 1,048,576 samples in one call.
// Baseline: the same 256 values per direction through std::sph_legendre
// (polar part) and cos/sin of multiples of the azimuth, timed on the first
// 4,096 directions (one S1 call) since it is two orders slower.
// Figures are nanoseconds per direction or sample ("ns_per_dir").

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "support/bench_buffers.h"
#include "vekr.h"
#include "workloads.h"

namespace {

constexpr int32_t kSamples = 1 << 20;
constexpr int32_t kCallSize = 4096;
constexpr uint32_t kS1Order = 15, kS2Order = 8;

struct Planes {
    std::vector<float> x, y, z;
    explicit Planes(size_t n) : x(n), y(n), z(n) {}
};

// Unit directions of a workload stream.
Planes directions(uint64_t seed)
{
    Planes d(kSamples);
    wl_unit_dirs(seed, kSamples, d.x.data(), d.y.data(), d.z.data());
    return d;
}

const Planes& s1Directions()
{
    static const Planes d = directions(0x5EED0003u);
    return d;
}

const Planes& s2Directions()
{
    static const Planes d = directions(0x5EED0004u);
    return d;
}

const std::vector<float>& s2Values()
{
    static const std::vector<float> v = [] {
        std::vector<float> values(kSamples);
        wl_sh_values(kSamples, values.data());
        return values;
    }();
    return v;
}

// A state of the given kind and order in an aligned buffer.
struct State {
    State(uint32_t order, int32_t kind)
    {
        int32_t size = 0;
        vekrSHGetSize_32f(order, kind, &size);
        buffer = vekr_bench::alignedArray<unsigned char>(size_t(size));
        vekrSHInit_32f(get(), order, kind);
    }
    VekrSHState* get() { return reinterpret_cast<VekrSHState*>(buffer.get()); }
    std::unique_ptr<unsigned char[], vekr_bench::FreeDeleter> buffer;
};

// The machine is shared: besides the median, the minimum of the repetitions
// is a useful second figure.
double minimum(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

void perDirection(benchmark::State& state, int64_t perIteration)
{
    state.SetItemsProcessed(int64_t(state.iterations()) * perIteration);
    state.counters["ns_per_dir"] = benchmark::Counter(double(perIteration) * 1e-9,
                                                      benchmark::Counter::kIsIterationInvariantRate |
                                                          benchmark::Counter::kInvert);
}

// S1 with vekrSH_32f; range(0) is the kind.
void BM_S1_Basis(benchmark::State& state)
{
    const Planes& d = s1Directions();
    State sh(kS1Order, int32_t(state.range(0)));
    auto out = vekr_bench::alignedArray<float>(size_t(kCallSize) * 256);
    for (auto _ : state) {
        for (int32_t i = 0; i < kSamples; i += kCallSize)
            vekrSH_32f(d.x.data() + i, d.y.data() + i, d.z.data() + i, kCallSize, out.get(), kS1Order, sh.get());
        benchmark::ClobberMemory();
    }
    perDirection(state, kSamples);
}
BENCHMARK(BM_S1_Basis)->ArgName("kind")->Arg(0)->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", minimum);

// S1's directions, band 15 alone (31 values) with vekrSHBand_32f.
void BM_S1_Band15(benchmark::State& state)
{
    const Planes& d = s1Directions();
    auto out = vekr_bench::alignedArray<float>(size_t(kCallSize) * 31);
    for (auto _ : state) {
        for (int32_t i = 0; i < kSamples; i += kCallSize)
            vekrSHBand_32f(d.x.data() + i, d.y.data() + i, d.z.data() + i, kCallSize, out.get(), 15);
        benchmark::ClobberMemory();
    }
    perDirection(state, kSamples);
}
BENCHMARK(BM_S1_Band15)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", minimum);

// The baseline: the same 256 values from std::sph_legendre, first S1 call.
void BM_S1_StdSphLegendre(benchmark::State& state)
{
    const Planes& d = s1Directions();
    auto out = vekr_bench::alignedArray<float>(size_t(kCallSize) * 256);
    const double sqrt2 = std::sqrt(2.0);
    for (auto _ : state) {
        for (int32_t i = 0; i < kCallSize; ++i) {
            const double theta = std::acos(double(d.z[i])), phi = std::atan2(double(d.y[i]), double(d.x[i]));
            double c[16], s[16];
            for (int m = 0; m < 16; ++m) c[m] = std::cos(m * phi), s[m] = std::sin(m * phi);
            float* o = out.get() + size_t(i) * 256;
            for (unsigned l = 0; l < 16; ++l) {
                o[l * l + l] = float(std::sph_legendre(l, 0, theta));
                for (unsigned m = 1; m <= l; ++m) {
                    const double p = sqrt2 * std::sph_legendre(l, m, theta);
                    o[l * l + l + m] = float(p * c[m]);
                    o[l * l + l - m] = float(p * s[m]);
                }
            }
        }
        benchmark::ClobberMemory();
    }
    perDirection(state, kCallSize);
}
BENCHMARK(BM_S1_StdSphLegendre)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", minimum);

// Largest deviation of the S2 coefficients from the double-precision
// reference, relative to its largest coefficient; negative when the
// reference file cannot be read.
double s2Deviation(const float* coeffs)
{
    FILE* f = std::fopen(VEKR_DATA_DIR "/s2_reference_coeffs.txt", "r");
    if (!f) return -1.0;
    double ref[81] = {}, largest = 0.0, worst = 0.0;
    char line[256];
    int n = 0;
    while (n < 81 && std::fgets(line, sizeof line, f)) {
        int j;
        double v;
        if (line[0] != '#' && std::sscanf(line, "%d %lf", &j, &v) == 2 && j == n) ref[n++] = v;
    }
    std::fclose(f);
    if (n != 81) return -1.0;
    for (int j = 0; j < 81; ++j) largest = std::fmax(largest, std::fabs(ref[j]));
    for (int j = 0; j < 81; ++j) worst = std::fmax(worst, std::fabs(double(coeffs[j]) - ref[j]));
    return worst / largest;
}

// S2: one forward call over all samples; range(0) is the kind. The result
// of the last run is checked against the reference (about 1e-4 expected).
void BM_S2_Forward(benchmark::State& state)
{
    const Planes& d = s2Directions();
    const std::vector<float>& v = s2Values();
    State sh(kS2Order, int32_t(state.range(0)));
    float coeffs[81];
    for (auto _ : state) {
        std::fill(coeffs, coeffs + 81, 0.0f);
        vekrSHTFwd_32f_C1I(d.x.data(), d.y.data(), d.z.data(), v.data(), kSamples, coeffs, kS2Order, sh.get());
        benchmark::DoNotOptimize(coeffs);
    }
    perDirection(state, kSamples);
    const double dev = s2Deviation(coeffs);
    if (dev < 0.0) {
        state.SkipWithError("cannot read the S2 reference " VEKR_DATA_DIR "/s2_reference_coeffs.txt");
        return;
    }
    state.counters["rel_dev"] = dev;
    if (dev > 1e-4) state.SkipWithError("S2 coefficients deviate from the reference by more than 1e-4");
}
BENCHMARK(BM_S2_Forward)->ArgName("kind")->Arg(0)->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", minimum);

// Three channels (planar values) through the same S2 samples.
void BM_S2_ForwardP3(benchmark::State& state)
{
    const Planes& d = s2Directions();
    const std::vector<float>& v = s2Values();
    State sh(kS2Order, int32_t(state.range(0)));
    float c[3][81];
    float* coeffs[3] = {c[0], c[1], c[2]};
    const float* src[3] = {v.data(), v.data(), v.data()};
    for (auto _ : state) {
        std::fill(&c[0][0], &c[0][0] + 3 * 81, 0.0f);
        vekrSHTFwd_32f_P3I(d.x.data(), d.y.data(), d.z.data(), src, kSamples, coeffs, kS2Order, sh.get());
        benchmark::DoNotOptimize(c);
    }
    perDirection(state, kSamples);
}
BENCHMARK(BM_S2_ForwardP3)->ArgName("kind")->Arg(0)->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", minimum);

// Inverse up to band 8 at the S2 directions, one channel.
void BM_S2_Inverse(benchmark::State& state)
{
    const Planes& d = s2Directions();
    State sh(kS2Order, int32_t(state.range(0)));
    std::vector<float> coeffs(81, 0.5f), out(kSamples);
    for (auto _ : state) {
        vekrSHTInv_32f_C1(coeffs.data(), kS2Order, d.x.data(), d.y.data(), d.z.data(), out.data(), kSamples, sh.get());
        benchmark::ClobberMemory();
    }
    perDirection(state, kSamples);
}
BENCHMARK(BM_S2_Inverse)->ArgName("kind")->Arg(0)->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", minimum);

}  // namespace

BENCHMARK_MAIN();
