// Fuzz target of the hit-point, surface-normal and shading-arithmetic
// exports. Besides the common checks, exports whose 4-wide and scalar paths
// are documented to agree bit for bit are run twice, aligned and one float
// off, and compared; the simplest ones are also checked element by element
// against their definitions.
#include <cmath>
#include <string>

#include "fuzz_support.h"

using namespace fuzz;

namespace {

constexpr int32_t kCap = 64;

// The arrays of one call, decoded from a copy of the input so that the same
// bytes give the same call at another alignment.
struct Work {
    enum : unsigned { A = 1, B = 2, C = 4, S = 8, D = 16 };

    Work(Input in, int32_t n, size_t off)
        : len(n > 0 ? size_t(n) : 0), a(len, off), b(len, off), c(len, off), s(len, off), d(len, off),
          mask(len, off), u(len, off), v(len, off), triangles(size_t(in.range(1, 8))),
          triNorm(3 * triangles, off), vertices(size_t(in.range(1, 8))), vertNorm(3 * vertices, off),
          stride(in.range(3, 5)), index(triangles * stride, off)
    {
        in.fill(point, 3);
        eps = in.real();
        a.fillFrom(in);
        b.fillFrom(in);
        c.fillFrom(in);
        s.fillFrom(in);
        d.fillFrom(in);
        u.fillFrom(in);
        v.fillFrom(in);
        triNorm.fillFrom(in);
        vertNorm.fillFrom(in);
        fillMask(in, mask, int32_t(triangles));
        for (size_t i = 0; i < index.size(); ++i) index[i] = int32_t(in.u8() % vertices);
        a.snapshot(), b.snapshot(), c.snapshot(), s.snapshot(), d.snapshot();
        mask.snapshot(), u.snapshot(), v.snapshot(), triNorm.snapshot(), vertNorm.snapshot(), index.snapshot();
    }
    // Every array not named in `written` is as it was; so are those named
    // when `writtenToo` is false.
    bool untouchedBut(unsigned written) const
    {
        const bool inputs = mask.unchanged() && u.unchanged() && v.unchanged() && triNorm.unchanged() &&
                            vertNorm.unchanged() && index.unchanged();
        return inputs && ((written & A) || a.unchanged()) && ((written & B) || b.unchanged()) &&
               ((written & C) || c.unchanged()) && ((written & S) || s.unchanged()) &&
               ((written & D) || d.unchanged());
    }
    bool sameOutputs(const Work& o) const { return c.sameBits(o.c) && d.sameBits(o.d); }

    size_t len;
    Planes a, b, c;
    Array<float> s, d;
    Array<int32_t> mask;
    Array<float> u, v;
    size_t triangles;
    Array<float> triNorm;
    size_t vertices;
    Array<float> vertNorm;
    int32_t stride;
    Array<int32_t> index;
    float point[3];
    float eps;
};

struct Export {
    const char* name;
    int pointers;       // checked pointers, in check order
    unsigned written;   // arrays the export writes
    bool samePaths;     // 4-wide and scalar results documented identical
    VekStatus (*call)(Work&, const NullPlan&, int32_t);
};

const Export kExports[] = {
    {"HitPoint3DEpsS0", 4, Work::C, false,
     [](Work& w, const NullPlan& z, int32_t n) {
         return vekrHitPoint3DEpsS0_32f_M(w.point, z.pass(2, w.a.in()), z.pass(0, w.s.data()),
                                          z.pass(1, w.mask.data()), z.pass(3, w.c.out()), n, w.eps);
     }},
    {"HitPoint3DEpsM0", 5, Work::C, false,
     [](Work& w, const NullPlan& z, int32_t n) {
         return vekrHitPoint3DEpsM0_32f_M(z.pass(4, w.b.in()), z.pass(2, w.a.in()), z.pass(0, w.s.data()),
                                          z.pass(1, w.mask.data()), z.pass(3, w.c.out()), n, w.eps);
     }},
    {"SurfFlatNormal", 3, Work::C, true,
     [](Work& w, const NullPlan& z, int32_t n) {
         return vekrSurfFlatNormal_32f(z.pass(0, w.triNorm.data()), z.pass(1, w.mask.data()),
                                       z.pass(2, w.c.out()), n);
     }},
    {"SurfSmoothNormal", 5, Work::C, false,
     [](Work& w, const NullPlan& z, int32_t n) {
         const float* const uv[2] = {w.u.data(), w.v.data()};
         return vekrSurfSmoothNormal_32f(z.pass(0, w.vertNorm.data()), z.pass(1, w.index.data()),
                                         z.pass(2, w.mask.data()), z.pass(3, uv), z.pass(4, w.c.out()), n,
                                         w.stride);
     }},
    {"Dot", 4, Work::D, true,
     [](Work& w, const NullPlan& z, int32_t n) {
         return vekrDot_32f_P3C1M(z.pass(0, w.a.in()), z.pass(1, w.b.in()), z.pass(2, w.mask.data()),
                                  z.pass(3, w.d.data()), n);
     }},
    {"DotChangeNorm", 4, Work::C | Work::D, true,
     [](Work& w, const NullPlan& z, int32_t n) {
         return vekrDotChangeNorm_32f_IM(z.pass(0, w.a.in()), z.pass(1, w.mask.data()), z.pass(2, w.c.out()),
                                         z.pass(3, w.d.data()), n);
     }},
    {"Mul_C1IM", 3, Work::D, true,
     [](Work& w, const NullPlan& z, int32_t n) {
         return vekrMul_32f_C1IM(z.pass(0, w.s.data()), z.pass(1, w.mask.data()), z.pass(2, w.d.data()), n);
     }},
    {"Mul_C1P3IM", 3, Work::C, true,
     [](Work& w, const NullPlan& z, int32_t n) {
         return vekrMul_32f_C1P3IM(z.pass(0, w.s.data()), z.pass(1, w.mask.data()), z.pass(2, w.c.out()), n);
     }},
    {"Div_C1IM", 3, Work::D, true,
     [](Work& w, const NullPlan& z, int32_t n) {
         return vekrDiv_32f_C1IM(z.pass(0, w.s.data()), z.pass(1, w.mask.data()), z.pass(2, w.d.data()), n);
     }},
    {"AddMulMul", 4, Work::C, false,
     [](Work& w, const NullPlan& z, int32_t n) {
         return vekrAddMulMul_32f_AC1P3IM(w.point, z.pass(0, w.s.data()), z.pass(1, w.a.in()),
                                          z.pass(2, w.mask.data()), z.pass(3, w.c.out()), n);
     }},
    {"DistAttenuationSO", 3, Work::D, false,
     [](Work& w, const NullPlan& z, int32_t n) {
         return vekrDistAttenuationSO_32f_M(w.point, z.pass(0, w.a.in()), z.pass(1, w.mask.data()),
                                            z.pass(2, w.d.data()), n);
     }},
};

bool sameFloat(float x, float y) { return std::memcmp(&x, &y, 4) == 0; }
// Equal bits, or two NaNs (see Array::sameBits).
bool sameValue(float x, float y) { return sameFloat(x, y) || (std::isnan(x) && std::isnan(y)); }

// Element-wise definitions of the simplest exports, computed from the
// snapshot taken before the call (in-place arguments are overwritten).
void checkDefinitions(const Export& e, Work& w, const Work& before)
{
    const std::string name = e.name;
    for (size_t i = 0; i < w.len; ++i) {
        const bool active = w.mask[i] >= 0;
        if (name == "Dot") {
            const float want = active ? before.a.x[i] * before.b.x[i] + before.a.y[i] * before.b.y[i] +
                                            before.a.z[i] * before.b.z[i]
                                      : 0.0f;
            FUZZ_REQUIRE(sameValue(w.d[i], want), "Dot %zu: %g, want %g", i, double(w.d[i]), double(want));
        } else if (name == "Mul_C1IM") {
            const float want = active ? before.d[i] * before.s[i] : 0.0f;
            FUZZ_REQUIRE(sameValue(w.d[i], want), "Mul %zu: %g, want %g", i, double(w.d[i]), double(want));
        } else if (name == "Div_C1IM") {
            const float num = before.d[i], den = before.s[i];
            float want = 0.0f;
            if (active && den != 0.0f) {
                want = num / den;
            } else if (active) {
                const uint32_t nanBits = 0xFFC00000u;
                want = num > 0 ? INFINITY : num < 0 ? -INFINITY : bitsToFloat(nanBits);
            }
            FUZZ_REQUIRE(sameFloat(w.d[i], want) || (std::isnan(want) && std::isnan(w.d[i]) && den != 0.0f),
                         "Div %zu: %g / %g gave %g", i, double(num), double(den), double(w.d[i]));
        } else if (name == "SurfFlatNormal") {
            const int32_t t = w.mask[i];
            const float* want = active ? &before.triNorm[3 * size_t(t)] : nullptr;
            for (int k = 0; k < 3; ++k) {
                const float got = k == 0 ? w.c.x[i] : k == 1 ? w.c.y[i] : w.c.z[i];
                FUZZ_REQUIRE(sameFloat(got, active ? want[k] : 0.0f), "flat normal %zu.%d", i, k);
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in(data, size);
    const Export& e = kExports[in.u8() % (sizeof kExports / sizeof kExports[0])];
    int32_t n = in.count(kCap);
    const size_t offset = in.u8() & 1;
    const NullPlan nulls(in, e.pointers);
    // A count no array could back is allowed only where a null pointer must
    // stop the export first.
    const int32_t called = nulls.any() && in.chance(2) ? in.hugeCount() : n;

    const Input body = in;
    Work w(body, n, offset);
    const Work before(body, n, offset);
    const VekStatus st = e.call(w, nulls, called);
    FUZZ_REQUIRE(st == (nulls.any() ? vekStsNullPtrErr : vekStsOk), "%s: status %d", e.name, st);
    const bool wrote = st == vekStsOk && called > 0;
    FUZZ_REQUIRE(w.untouchedBut(wrote ? e.written : 0u), "%s: an array it must not touch was written (status %d)",
                 e.name, st);
    if (!wrote) return 0;
    checkDefinitions(e, w, before);
    if (e.samePaths && n % 4 == 0) {
        Work other(body, n, 1 - offset);
        FUZZ_REQUIRE(e.call(other, nulls, n) == vekStsOk, "%s: second call failed", e.name);
        FUZZ_REQUIRE(w.sameOutputs(other), "%s: aligned and unaligned results differ", e.name);
    }
    return 0;
}
