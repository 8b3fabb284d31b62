// Fuzz target of the spherical-harmonics exports: state size and set-up
// with any order and kind, evaluation and the six transforms with random
// orders (beyond the state's and beyond 15), counts, null pointers and
// planes, hostile directions and values, and states whose kind word is
// corrupted. On success, the two state kinds and the single-band export
// must agree on unit directions.
#include <algorithm>
#include <memory>

#include "fuzz_support.h"

using namespace fuzz;

namespace {

constexpr int32_t kCap = 24;
constexpr uint32_t kMaxBand = 15;

struct AlignedFree {
    void operator()(void* p) const { std::free(p); }
};

// A state made by vekrSHInit_32f in a 16-byte aligned buffer of the
// reported size.
struct State {
    std::unique_ptr<void, AlignedFree> buffer;
    VekrSHState* state = nullptr;
    State(uint32_t order, int32_t kind)
    {
        int32_t size = 0;
        FUZZ_REQUIRE(vekrSHGetSize_32f(order, kind, &size) == vekStsOk, "size of order %u kind %d", order, kind);
        buffer.reset(std::aligned_alloc(16, (size_t(size) + 15) / 16 * 16));
        state = static_cast<VekrSHState*>(buffer.get());
        FUZZ_REQUIRE(vekrSHInit_32f(state, order, kind) == vekStsOk, "init of order %u kind %d", order, kind);
    }
};

uint32_t drawOrder(Input& in)
{
    return in.chance(6) ? in.pick<uint32_t>({16u, 17u, 100u, 0x80000000u, 0xFFFFFFFFu}) : uint32_t(in.range(0, 15));
}

void sizeAndInit(Input& in)
{
    const uint32_t order = in.chance(3) ? in.u32() : uint32_t(in.range(0, 40));
    const int32_t kind = in.chance(4) ? in.i32() : in.range(0, 1);
    const bool null = in.chance(6);
    int32_t size = -0x5B5B5B5B;
    const VekStatus st = vekrSHGetSize_32f(order, kind, null ? nullptr : &size);
    if (null) {
        FUZZ_REQUIRE(st == vekStsNullPtrErr, "size query status %d without a pointer", st);
        return;
    }
    if (kind == 0)
        FUZZ_REQUIRE(st == (order > kMaxBand ? vekStsSizeErr : vekStsOk), "kind 0 order %u: %d", order, st);
    else if (kind == 1)
        FUZZ_REQUIRE(st == vekStsOk || st == vekStsSizeErr, "kind 1 order %u: %d", order, st);
    else
        FUZZ_REQUIRE(st == vekStsRangeErr, "kind %d: %d", kind, st);
    if (st != vekStsOk) {
        FUZZ_REQUIRE(size == -0x5B5B5B5B, "size written after status %d", st);
        return;
    }
    FUZZ_REQUIRE(size >= int32_t(sizeof(VekrSHState)), "size %d", size);
    if (size > (1 << 22)) return;  // a kind-1 state of a large order: sized, not built here
    Array<float> buffer(size_t(size) / 4 + 4);
    buffer.sentinel();
    // The state is built, or refused, inside its buffer: not one byte past it.
    float* aligned = buffer.data();
    while (reinterpret_cast<uintptr_t>(aligned) % 16) ++aligned;
    const size_t room = buffer.size() - size_t(aligned - buffer.data());
    if (room * 4 < size_t(size)) return;
    FUZZ_REQUIRE(vekrSHInit_32f(reinterpret_cast<VekrSHState*>(aligned), order, kind) == vekStsOk, "init");
    for (size_t i = size_t(aligned - buffer.data()) + (size_t(size) + 3) / 4; i < buffer.size(); ++i)
        FUZZ_REQUIRE(std::memcmp(&buffer[i], "\x5B\x5B\x5B\x5B", 4) == 0, "init wrote past its size");
}

// Directions: unit vectors, or hostile components.
void fillDirections(Input& in, Array<float>& x, Array<float>& y, Array<float>& z, bool& unit)
{
    unit = in.chance(2);
    for (size_t i = 0; i < x.size(); ++i) {
        x[i] = in.real(), y[i] = in.real(), z[i] = in.real();
        if (unit) {
            const double a = double(in.range(0, 6283)) / 1000.0, c = double(in.range(-1000, 1000)) / 1000.0;
            const double s = std::sqrt(1 - c * c);
            x[i] = float(s * std::cos(a)), y[i] = float(s * std::sin(a)), z[i] = float(c);
        }
    }
}

// The status an evaluation or transform must give, or -1000 when two are
// documented as possible (a negative count with an order the state allows
// but the evaluation cannot).
VekStatus expected(bool null, int32_t count, uint32_t order, const VekrSHState& s)
{
    if (null) return vekStsNullPtrErr;
    if (count == 0) return vekStsSizeErr;
    if (order > s.order) return vekStsRangeErr;
    const bool unusable = order > kMaxBand || (s.kind != 0 && s.kind != 1);
    if (count < 0) return unusable ? -1000 : vekStsOk;
    return unusable ? vekStsRangeErr : vekStsOk;
}

void evaluate(Input& in)
{
    const int32_t kind = in.range(0, 1);
    const uint32_t stateOrder = uint32_t(in.range(0, kind == 0 ? 15 : 20));
    State st(stateOrder, kind);
    VekrSHState state = *st.state;  // kind 0 holds no pointers into itself; kind 1 tables stay where they are
    if (in.chance(8)) state.kind = in.pick<int32_t>({2, -1, 7, INT32_MIN});
    const uint32_t order = drawOrder(in);
    int32_t count = in.count(kCap);
    const size_t n = count > 0 ? size_t(count) : 0;
    const uint32_t usable = std::min(order, kMaxBand);
    const size_t coeffs = size_t(usable + 1) * (usable + 1);
    const uint8_t which = in.u8() % 8;  // SH, band, three forward, three inverse

    Array<float> x(n), y(n), z(n);
    bool unit = false;
    fillDirections(in, x, y, z, unit);
    // Values and coefficients: plane 0 is the C1 or interleaved array.
    Array<float> v0(3 * n), v1(n), v2(n), c0(3 * coeffs), c1(coeffs), c2(coeffs), out(n * coeffs + 3 * n);
    v0.fillFrom(in), v1.fillFrom(in), v2.fillFrom(in), c0.fillFrom(in), c1.fillFrom(in), c2.fillFrom(in);
    out.sentinel();
    const NullPlan nulls(in, 7);
    // A count no array backs, passed only where a null pointer must stop
    // the export first.
    const int32_t huge = nulls.any() && in.chance(2) ? in.hugeCount() : 0;
    const float* const values[3] = {nulls.pass(4, v0.data()), v1.data(), v2.data()};
    float* const coefPlanes[3] = {nulls.pass(5, c0.data()), c1.data(), c2.data()};
    float* const outPlanes[3] = {nulls.pass(5, out.data()), out.data() + n, out.data() + 2 * n};
    const float* px = nulls.pass(0, x.data());
    const float* py = nulls.pass(1, y.data());
    const float* pz = nulls.pass(2, z.data());
    const VekrSHState* ps = nulls.pass(3, &state);
    float* pOut = nulls.pass(6, out.data());
    float* pCoef = nulls.pass(6, c0.data());
    const float* const* pValues = nulls.nulled(6) ? nullptr : values;
    float* const* pCoefPlanes = nulls.nulled(6) ? nullptr : coefPlanes;
    float* const* pOutPlanes = nulls.nulled(6) ? nullptr : outPlanes;
    const float* cc = c0.data();
    const float* const coefIn[3] = {nulls.pass(5, c0.data()), c1.data(), c2.data()};
    const float* const* pCoefIn = nulls.nulled(4) ? nullptr : coefIn;

    x.snapshot(), y.snapshot(), z.snapshot(), v0.snapshot(), v1.snapshot(), v2.snapshot();
    c0.snapshot(), c1.snapshot(), c2.snapshot();
    VekStatus s = 0, want = 0;
    bool nullArg = false;
    switch (which) {
    case 0:
        nullArg = !px || !py || !pz || !pOut || !ps;
        if (nullArg && huge) count = huge;
        s = vekrSH_32f(px, py, pz, count, pOut, order, ps);
        break;
    case 1: {
        nullArg = !px || !py || !pz || !pOut;
        if (nullArg && huge) count = huge;
        s = vekrSHBand_32f(px, py, pz, count, pOut, order);
        want = nullArg ? vekStsNullPtrErr
               : order > kMaxBand ? vekStsRangeErr
               : count == 0       ? vekStsSizeErr
                                  : vekStsOk;
        FUZZ_REQUIRE(s == want, "band %u count %d: status %d, want %d", order, count, s, want);
        break;
    }
    case 2:
        nullArg = !px || !py || !pz || !values[0] || !pCoef || !ps;
        if (nullArg && huge) count = huge;
        s = vekrSHTFwd_32f_C1I(px, py, pz, values[0], count, pCoef, order, ps);
        break;
    case 3:
        nullArg = !px || !py || !pz || !values[0] || !pCoefPlanes || !ps || !coefPlanes[0];
        if (nullArg && huge) count = huge;
        s = vekrSHTFwd_32f_C3P3I(px, py, pz, values[0], count, pCoefPlanes, order, ps);
        break;
    case 4:
        nullArg = !px || !py || !pz || !pValues || !pCoefPlanes || !ps || !values[0] || !coefPlanes[0];
        if (nullArg && huge) count = huge;
        s = vekrSHTFwd_32f_P3I(px, py, pz, pValues, count, pCoefPlanes, order, ps);
        break;
    case 5:
        nullArg = !coefIn[0] || !px || !py || !pz || !pOut || !ps;
        if (nullArg && huge) count = huge;
        s = vekrSHTInv_32f_C1(nulls.pass(5, cc), order, px, py, pz, pOut, count, ps);
        break;
    case 6:
        nullArg = !pCoefIn || !coefIn[0] || !px || !py || !pz || !pOutPlanes || !outPlanes[0] || !ps;
        if (nullArg && huge) count = huge;
        s = vekrSHTInv_32f_P3(pCoefIn, order, px, py, pz, pOutPlanes, count, ps);
        break;
    default:
        nullArg = !pCoefIn || !coefIn[0] || !px || !py || !pz || !pOut || !ps;
        if (nullArg && huge) count = huge;
        s = vekrSHTInv_32f_P3C3(pCoefIn, order, px, py, pz, pOut, count, ps);
        break;
    }
    if (which != 1) {
        want = expected(nullArg, count, order, state);
        FUZZ_REQUIRE(want == -1000 ? (s == vekStsOk || s == vekStsRangeErr) : s == want,
                     "export %d order %u (state %u kind %d) count %d: status %d, want %d", which, order, state.order,
                     state.kind, count, s, want);
    }
    const bool inputsKept = x.unchanged() && y.unchanged() && z.unchanged() && v0.unchanged() && v1.unchanged() &&
                            v2.unchanged();
    FUZZ_REQUIRE(inputsKept, "export %d wrote an input", which);
    const bool forward = which >= 2 && which <= 4;
    if (s != vekStsOk || count < 0 || !forward)
        FUZZ_REQUIRE(c0.unchanged() && c1.unchanged() && c2.unchanged(), "export %d wrote coefficients (status %d)",
                     which, s);
    if (s != vekStsOk || count < 0 || forward)
        FUZZ_REQUIRE(out.unchanged(), "export %d wrote its output (status %d, count %d)", which, s, count);

    // On unit directions the recurrence state, the closed forms and the
    // single-band export agree to a few float epsilons.
    if (which == 0 && s == vekStsOk && count > 0 && unit && state.kind == kind) {
        State other(order, 1 - kind);
        std::vector<float> again(n * coeffs);
        FUZZ_REQUIRE(vekrSH_32f(x.data(), y.data(), z.data(), count, again.data(), order, other.state) == vekStsOk,
                     "other kind");
        std::vector<float> band(n * (2 * order + 1));
        FUZZ_REQUIRE(vekrSHBand_32f(x.data(), y.data(), z.data(), count, band.data(), order) == vekStsOk, "band");
        for (size_t i = 0; i < n * coeffs; ++i)
            FUZZ_REQUIRE(std::fabs(out[i] - again[i]) <= 2e-5f, "kinds differ at %zu: %g vs %g", i, double(out[i]),
                         double(again[i]));
        for (size_t i = 0; i < n; ++i)
            for (uint32_t m = 0; m <= 2 * order; ++m) {
                const float a = band[i * (2 * order + 1) + m];
                const float b = (kind == 0 ? out[i * coeffs + order * order + m] : again[i * coeffs + order * order + m]);
                FUZZ_REQUIRE(std::fabs(a - b) <= 1e-6f * std::max(1.0f, std::fabs(b)), "band %u m %u: %g vs %g", order,
                             m, double(a), double(b));
            }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in(data, size);
    if (in.chance(4))
        sizeAndInit(in);
    else
        evaluate(in);
    return 0;
}
