// Fuzz target of the library frame and ray generation: the version record,
// eye rays, mirror rays and shadow rays.
#include "fuzz_support.h"

using namespace fuzz;

namespace {

constexpr int32_t kCap = 64;

void castEye(Input& in)
{
    float origin[3], colStep[3], rowStep[3];
    in.fill(origin, 3);
    in.fill(colStep, 3);
    in.fill(rowStep, 3);
    const int32_t blockCol = in.i32(), blockRow = in.i32();
    const VekrSize blockSize{in.i32(), in.i32()};
    VekrSize out{in.count(16), in.count(16)};
    const size_t n = out.width > 0 && out.height > 0 ? size_t(out.width) * size_t(out.height) : 0;
    Planes dst(n, in.u8() & 1);
    dst.sentinel();
    const NullPlan nulls(in, 1);
    if (nulls.any() && in.chance(2)) out = VekrSize{in.hugeCount(), in.hugeCount()};
    const VekStatus st = vekrCastEye_32f(origin, colStep, rowStep, blockCol, blockRow, blockSize,
                                         nulls.pass(0, dst.out()), out);
    if (nulls.any()) {
        FUZZ_REQUIRE(st == vekStsNullPtrErr, "status %d", st);
    } else {
        FUZZ_REQUIRE(st == vekStsOk, "status %d", st);
    }
    if (st != vekStsOk || n == 0) FUZZ_REQUIRE(dst.unchanged(), "written after status %d", st);
}

void castReflection(Input& in)
{
    int32_t n = in.count(kCap);
    const size_t len = n > 0 ? size_t(n) : 0;
    const size_t offset = in.u8() & 1;
    Planes incident(len, offset), normal(len, offset), reflected(len, offset);
    Array<int32_t> mask(len, offset);
    incident.fillFrom(in);
    normal.fillFrom(in);
    fillMask(in, mask, INT32_MAX);
    reflected.sentinel();
    incident.snapshot();
    normal.snapshot();
    mask.snapshot();
    const NullPlan nulls(in, 4);
    if (nulls.any() && in.chance(2)) n = in.hugeCount();
    const VekStatus st = vekrCastReflectionRay_32f(nulls.pass(0, incident.in()), nulls.pass(1, mask.data()),
                                                   nulls.pass(2, normal.in()), nulls.pass(3, reflected.out()), n);
    FUZZ_REQUIRE(st == (nulls.any() ? vekStsNullPtrErr : vekStsOk), "status %d", st);
    FUZZ_REQUIRE(incident.unchanged() && normal.unchanged() && mask.unchanged(), "an input was written");
    if (st != vekStsOk || n < 1) FUZZ_REQUIRE(reflected.unchanged(), "written after status %d", st);
    if (st == vekStsOk)
        for (size_t i = 0; i < len; ++i)
            if (mask[i] < 0)
                FUZZ_REQUIRE(reflected.x[i] == 0 && reflected.y[i] == 0 && reflected.z[i] == 0,
                             "inactive ray %zu not cleared", i);
}

void castShadow(Input& in)
{
    int32_t n = in.count(kCap);
    const size_t len = n > 0 ? size_t(n) : 0;
    const size_t offset = in.u8() & 1;
    float light[3];
    in.fill(light, 3);
    Array<float> side(len, offset), dot(len, offset);
    Planes normal(len, offset), hit(len, offset), dir(len, offset);
    Array<int32_t> mask(len, offset);
    side.fillFrom(in);
    normal.fillFrom(in);
    hit.fillFrom(in);
    fillMask(in, mask, INT32_MAX);
    const std::vector<int32_t> maskIn(mask.data(), mask.data() + len);
    mask.snapshot();
    dot.sentinel();
    dir.sentinel();
    const NullPlan nulls(in, 6);  // pSide, pNormal, pHit, pMask, pDir, pDot
    if (nulls.any() && in.chance(2)) n = in.hugeCount();
    const VekStatus st = vekrCastShadowSO_32f(light, nulls.pass(0, side.data()), nulls.pass(1, normal.in()),
                                              nulls.pass(2, hit.in()), nulls.pass(3, mask.data()),
                                              nulls.pass(5, dot.data()), nulls.pass(4, dir.out()), n);
    FUZZ_REQUIRE(st == (nulls.any() ? vekStsNullPtrErr : vekStsOk), "status %d", st);
    if (st != vekStsOk || n < 1) {
        FUZZ_REQUIRE(dot.unchanged() && dir.unchanged() && mask.unchanged(), "written after status %d", st);
        return;
    }
    // A ray is either cast (mask kept, |dot| at least the grazing limit) or
    // cleared (dot 0, direction 0, mask negative); an inactive one is never cast.
    for (size_t i = 0; i < len; ++i) {
        const bool cast = mask[i] >= 0;
        if (cast) {
            FUZZ_REQUIRE(maskIn[i] >= 0 && mask[i] == maskIn[i], "ray %zu: mask %d -> %d", i, maskIn[i], mask[i]);
            FUZZ_REQUIRE(dot[i] >= 0.0017453292f, "ray %zu cast with dot %g", i, double(dot[i]));
        } else {
            FUZZ_REQUIRE(dot[i] == 0 && dir.x[i] == 0 && dir.y[i] == 0 && dir.z[i] == 0, "ray %zu not cleared", i);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in(data, size);
    const VekLibraryVersion* v = vekrGetLibVersion();
    FUZZ_REQUIRE(v != nullptr && v == vekrGetLibVersion(), "version record not constant");
    switch (in.u8() % 3) {
    case 0: castEye(in); break;
    case 1: castReflection(in); break;
    default: castShadow(in); break;
    }
    return 0;
}
