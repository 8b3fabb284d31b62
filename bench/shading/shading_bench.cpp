// Per-ray primitives at 4K elements (cache-resident) and 1M elements
// (memory-bound), each on its 4-wide and its scalar path, beside a memcpy of
// the bytes the primitive streams (reads plus writes) as the baseline.
//
// Names are <primitive>/<path>/<elements>: "fourWide" is the aligned 4-wide
// path, "unaligned" the 4-wide path on misaligned arrays (where one exists),
// "scalar" the scalar loop, forced by a count one short of a multiple of 4 or
// by arrays one float past a 16-byte boundary. Gathered triangle data of the
// normal primitives is not counted in the streamed bytes.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/bench_buffers.h"
#include "vekr.h"

namespace {

using vekr_bench::alignedArray;

constexpr int32_t kTriangles = 4096;
constexpr int32_t kVertices = 2048;

// Every array a primitive may need, four floats longer than the element
// count so that a one-float shift stays in bounds.
struct RayData {
    explicit RayData(int32_t n) : n(n)
    {
        const size_t len = static_cast<size_t>(n) + 4;
        for (int p = 0; p < 4; ++p)
            for (int k = 0; k < 3; ++k) planes[p][k] = alignedArray<float>(len);
        for (int c = 0; c < 3; ++c) scalars[c] = alignedArray<float>(len);
        mask = alignedArray<int32_t>(len);
        triNormal = alignedArray<float>(3 * kTriangles);
        vertNormal = alignedArray<float>(3 * kVertices);
        index = alignedArray<int32_t>(3 * kTriangles);
        // Values near 1 keep repeated in-place calls away from overflow and
        // denormals; nine hits in ten, neighbouring rays on neighbouring
        // triangles as a coherent camera gives them.
        for (size_t i = 0; i < len; ++i) {
            for (int p = 0; p < 4; ++p)
                for (int k = 0; k < 3; ++k) planes[p][k][i] = 0.5f + 0.25f * static_cast<float>((i + 7 * p + k) % 5);
            // Factors and divisors of 1; side values of -1, on the side
            // where the shadow rays of this data are cast.
            scalars[0][i] = scalars[1][i] = 1.0f;
            scalars[2][i] = -1.0f;
            mask[i] = (i % 10 == 9) ? -1 : static_cast<int32_t>((i / 4) % kTriangles);
        }
        for (int32_t t = 0; t < 3 * kTriangles; ++t) {
            triNormal[t] = 0.25f + 0.5f * static_cast<float>(t % 3);
            index[t] = (t * 7) % kVertices;
        }
        for (int32_t v = 0; v < 3 * kVertices; ++v) vertNormal[v] = 0.5f + 0.125f * static_cast<float>(v % 4);
    }

    // Views one float past the allocation's boundary when shift is 1.
    float* plane(int p, int k, int shift) { return planes[p][k].get() + shift; }
    float* c1(int c, int shift) { return scalars[c].get() + shift; }
    int32_t* m(int shift) { return mask.get() + shift; }

    int32_t n;
    std::unique_ptr<float[], vekr_bench::FreeDeleter> planes[4][3];
    std::unique_ptr<float[], vekr_bench::FreeDeleter> scalars[3];
    std::unique_ptr<int32_t[], vekr_bench::FreeDeleter> mask, index;
    std::unique_ptr<float[], vekr_bench::FreeDeleter> triNormal, vertNormal;
};

struct P3 {
    float* w[3];
    const float* r[3];
    P3(RayData& d, int p, int shift)
    {
        for (int k = 0; k < 3; ++k) r[k] = w[k] = d.plane(p, k, shift);
    }
};

// How a path is reached: the count to pass and the shift of every array.
struct Path {
    const char* name;
    bool oddCount;
    int shift;
};

constexpr Path kFourWide = {"fourWide", false, 0};
constexpr Path kUnaligned = {"unaligned", false, 1};
constexpr Path kScalarByCount = {"scalar", true, 0};
constexpr Path kScalarByShift = {"scalar", false, 1};
constexpr Path kOnlyPath = {"scalar", false, 0};

using Kernel = std::function<void(RayData&, int32_t count, int shift)>;

struct Primitive {
    const char* name;
    size_t bytesPerElement;  // streamed: reads plus writes
    std::vector<Path> paths;
    Kernel run;
};

const float kLight[3] = {0.1f, 8.0f, -0.2f};
const float kPoint[3] = {0.5f, 1.0f, 2.0f};

std::vector<Primitive> primitives()
{
    return {
        {"CastEye", 12, {kFourWide, kUnaligned, kScalarByCount},
         [](RayData& d, int32_t n, int s) {
             // Rows 1024 wide; an odd count drops one column of each row.
             const int32_t width = n % 4 == 0 ? 1024 : 1023;
             P3 out(d, 0, s);
             vekrCastEye_32f(kPoint, kPoint, kPoint, 1, 1, VekrSize{1024, 1024}, out.w, VekrSize{width, d.n / 1024});
         }},
        {"CastReflectionRay", 40, {kFourWide, kUnaligned, kScalarByCount},
         [](RayData& d, int32_t n, int s) {
             P3 in(d, 0, s), nrm(d, 1, s), out(d, 2, s);
             vekrCastReflectionRay_32f(in.r, d.m(s), nrm.r, out.w, n);
         }},
        {"CastShadowSO", 52, {kFourWide, kUnaligned},
         [](RayData& d, int32_t n, int s) {
             P3 nrm(d, 0, s), hit(d, 1, s), dir(d, 2, s);
             vekrCastShadowSO_32f(kLight, d.c1(2, s), nrm.r, hit.r, d.m(s), d.c1(1, s), dir.w, n);
         }},
        {"HitPoint3DEpsS0", 32, {kFourWide, kScalarByShift},
         [](RayData& d, int32_t n, int s) {
             P3 dir(d, 0, s), hit(d, 1, s);
             vekrHitPoint3DEpsS0_32f_M(kPoint, dir.r, d.c1(0, s), d.m(s), hit.w, n, 0.999f);
         }},
        {"HitPoint3DEpsM0", 44, {kFourWide, kScalarByShift},
         [](RayData& d, int32_t n, int s) {
             P3 org(d, 0, s), dir(d, 1, s), hit(d, 2, s);
             vekrHitPoint3DEpsM0_32f_M(org.r, dir.r, d.c1(0, s), d.m(s), hit.w, n, 0.999f);
         }},
        {"SurfFlatNormal", 16, {kFourWide, kScalarByShift},
         [](RayData& d, int32_t n, int s) {
             P3 out(d, 0, s);
             vekrSurfFlatNormal_32f(d.triNormal.get(), d.m(s), out.w, n);
         }},
        {"SurfSmoothNormal", 24, {kFourWide, kScalarByShift},
         [](RayData& d, int32_t n, int s) {
             P3 out(d, 0, s);
             const float* uv[2] = {d.plane(1, 0, s), d.plane(1, 1, s)};
             vekrSurfSmoothNormal_32f(d.vertNormal.get(), d.index.get(), d.m(s), uv, out.w, n, 3);
         }},
        {"Dot", 32, {kFourWide, kScalarByShift},
         [](RayData& d, int32_t n, int s) {
             P3 a(d, 0, s), b(d, 1, s);
             vekrDot_32f_P3C1M(a.r, b.r, d.m(s), d.c1(0, s), n);
         }},
        {"DotChangeNorm", 44, {kFourWide, kScalarByShift},
         [](RayData& d, int32_t n, int s) {
             P3 v(d, 0, s), nrm(d, 1, s);
             vekrDotChangeNorm_32f_IM(v.r, d.m(s), nrm.w, d.c1(0, s), n);
         }},
        {"MulC1", 16, {kOnlyPath},
         [](RayData& d, int32_t n, int s) { vekrMul_32f_C1IM(d.c1(0, s), d.m(s), d.c1(1, s), n); }},
        {"MulC1P3", 32, {kFourWide, kScalarByShift},
         [](RayData& d, int32_t n, int s) {
             P3 v(d, 0, s);
             vekrMul_32f_C1P3IM(d.c1(0, s), d.m(s), v.w, n);
         }},
        {"DivC1", 16, {kOnlyPath},
         [](RayData& d, int32_t n, int s) { vekrDiv_32f_C1IM(d.c1(0, s), d.m(s), d.c1(1, s), n); }},
        {"AddMulMul", 44, {kFourWide, kScalarByShift},
         [](RayData& d, int32_t n, int s) {
             P3 src(d, 0, s), acc(d, 1, s);
             vekrAddMulMul_32f_AC1P3IM(kPoint, d.c1(0, s), src.r, d.m(s), acc.w, n);
         }},
        {"DistAttenuationSO", 20, {kFourWide, kScalarByShift},
         [](RayData& d, int32_t n, int s) {
             P3 pts(d, 0, s);
             vekrDistAttenuationSO_32f_M(kLight, pts.r, d.m(s), d.c1(0, s), n);
         }},
    };
}

void registerAll()
{
    for (int32_t n : {4096, 1 << 20}) {
        for (const Primitive& prim : primitives()) {
            const std::string suffix = "/" + std::to_string(n);
            for (const Path& path : prim.paths) {
                const Kernel run = prim.run;
                const int32_t count = path.oddCount ? n - 1 : n;
                const int shift = path.shift;
                benchmark::RegisterBenchmark((std::string(prim.name) + "/" + path.name + suffix).c_str(),
                                             [run, n, count, shift](benchmark::State& state) {
                                                 RayData data(n);
                                                 for (auto _ : state) {
                                                     run(data, count, shift);
                                                     benchmark::ClobberMemory();
                                                 }
                                                 state.SetItemsProcessed(state.iterations() * count);
                                             });
            }
            const size_t bytes = prim.bytesPerElement * static_cast<size_t>(n);
            benchmark::RegisterBenchmark((std::string(prim.name) + "/memcpy" + suffix).c_str(),
                                         [bytes, n](benchmark::State& state) {
                                             vekr_bench::memcpyBaseline(state, bytes);
                                             state.SetItemsProcessed(state.iterations() * n);
                                         });
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
