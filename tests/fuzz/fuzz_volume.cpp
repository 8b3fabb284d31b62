// Fuzz target of the volume exports: resize (both layouts), affine warp,
// remap and the signed 16-bit filter, and their size queries. A call is
// first drawn valid (small volumes, rows stored upside down now and then,
// every region inside its volume), then maybe broken by exactly one
// argument that a check must refuse before anything is touched: a null
// pointer, an extent, corner or region end out of its domain (huge ones
// included), a factor, a mode, a channel count, a source region beginning
// outside its volume. Values are hostile throughout: NaN, infinite and huge
// factors, shifts, transform coefficients (singular ones too) and map
// entries. The filter's result is also compared with a direct sum.
#include <algorithm>
#include <cmath>

#include "fuzz_support.h"
#include "vekcore.h"

using namespace fuzz;

namespace {

// A volume of T with plane pointers; its rows run backwards in memory
// (negative row step) when `flipped`.
template <class T>
struct Volume {
    VekrVolume ext;
    bool flipped;
    Array<T> voxels;
    std::vector<T*> planes;
    int32_t rowStep, planeStep;

    Volume(VekrVolume e, bool flip)
        : ext(e), flipped(flip), voxels(size_t(e.width) * e.height * e.depth), planes(size_t(e.depth))
    {
        const int32_t row = e.width * int32_t(sizeof(T));
        rowStep = flip ? -row : row;
        planeStep = e.width * e.height * int32_t(sizeof(T));
        for (int32_t z = 0; z < e.depth; ++z)
            planes[size_t(z)] = voxels.data() + size_t(z) * e.width * e.height + (flip ? size_t(e.height - 1) * e.width : 0);
    }
    // Drawn from the input: flipped now and then (after the extent), then filled.
    Volume(Input& in, VekrVolume e) : Volume(e, in.chance(4)) { fill(in); }
    void fill(Input& in)
    {
        for (size_t i = 0; i < voxels.size(); ++i) {
            if constexpr (std::is_floating_point_v<T>)
                voxels[i] = in.real();
            else
                voxels[i] = static_cast<T>(in.u32());
        }
    }
    T* const* pv() { return planes.data(); }
    const T* const* cpv() const { return planes.data(); }
    // Voxel (0, 0, 0) for the contiguous layout, plane step positive.
    T* origin() { return planes[0]; }
};

VekrVolume drawExtent(Input& in, int32_t most)
{
    return VekrVolume{in.range(1, most), in.range(1, most), in.range(1, most)};
}

// A destination: small, or at least 16 voxels on every axis, which the
// threaded exports split over threads.
VekrVolume drawDestination(Input& in)
{
    if (!in.chance(4)) return drawExtent(in, 8);
    return VekrVolume{in.range(16, 18), in.range(16, 18), in.range(16, 18)};
}

// A region inside a volume of the given extent (its far end may run past
// the volume on request, which the source regions allow).
VekrCuboid drawRegion(Input& in, VekrVolume v, bool mayOverhang)
{
    VekrCuboid c;
    c.x = in.range(0, v.width - 1), c.y = in.range(0, v.height - 1), c.z = in.range(0, v.depth - 1);
    const int32_t extra = mayOverhang && in.chance(4) ? 3 : 0;
    c.width = in.range(1, v.width - c.x + extra);
    c.height = in.range(1, v.height - c.y + extra);
    c.depth = in.range(1, v.depth - c.z + extra);
    return c;
}

// The single argument that breaks a call, if any; each must be refused
// before the export touches an array.
enum Break { None, NullPtr, BadVolume, BadRegion, BadEnd, BadFactor, BadMode, BadChannels, SrcOutside, BadDivisor };

int32_t badExtent(Input& in) { return in.pick<int32_t>({0, -1, INT32_MIN}); }

void breakRegion(Input& in, VekrCuboid& c)
{
    switch (in.u8() % 6) {
    case 0: c.x = in.pick<int32_t>({-1, INT32_MIN}); break;
    case 1: c.y = in.pick<int32_t>({-1, INT32_MIN}); break;
    case 2: c.z = in.pick<int32_t>({-1, INT32_MIN}); break;
    case 3: c.width = badExtent(in); break;
    case 4: c.height = badExtent(in); break;
    default: c.depth = badExtent(in); break;
    }
}

// A region whose last voxel would lie past index 2^31 - 1 on some axis.
void breakEnd(Input& in, VekrCuboid& c)
{
    int32_t* corner[3] = {&c.x, &c.y, &c.z};
    int32_t* extent[3] = {&c.width, &c.height, &c.depth};
    const int a = in.u8() % 3;
    *corner[a] = in.pick<int32_t>({INT32_MAX, INT32_MAX - 1, 1 << 30});
    *extent[a] = INT32_MAX - *corner[a] + in.range(2, 1000);
    if (*extent[a] < 1) *extent[a] = INT32_MAX;
}

int32_t drawMode(Input& in) { return in.pick<int32_t>({1, 2, 4, 5, 6, 7}); }
int32_t badMode(Input& in) { return in.pick<int32_t>({0, 3, 8, -1, INT32_MIN, 0x7FFFFFFF}); }

// A valid factor: plain, or positive and hostile (denormal, huge, infinite).
double drawFactor(Input& in)
{
    if (!in.chance(4)) return in.pick<double>({0.5, 1.0, 1.5, 2.0, 0.3, 3.0, 0.999, 1.0 / 3.0});
    const double v = in.real64();
    return v > 0 ? v : v < 0 ? -v : 4.9e-324;
}

double drawShift(Input& in) { return in.chance(4) ? in.real64() : double(in.range(-8, 8)) / 2.0; }

template <class T>
struct Caller;  // the three voxel types' exports

#define VEKR_FUZZ_CALLER(T, tag)                                                                            \
    template <>                                                                                             \
    struct Caller<T> {                                                                                      \
        template <class... A>                                                                               \
        static VekStatus resizePV(A... a) { return vekrResize_##tag##_C1PV(a...); }                         \
        template <class... A>                                                                               \
        static VekStatus resizeV(A... a) { return vekrResize_##tag##_C1V(a...); }                           \
        template <class... A>                                                                               \
        static VekStatus warp(A... a) { return vekrWarpAffine_##tag##_C1PV(a...); }                         \
        template <class... A>                                                                               \
        static VekStatus remap(A... a) { return vekrRemap_##tag##_C1PV(a...); }                             \
    };
VEKR_FUZZ_CALLER(uint8_t, 8u)
VEKR_FUZZ_CALLER(uint16_t, 16u)
VEKR_FUZZ_CALLER(float, 32f)
#undef VEKR_FUZZ_CALLER

template <class T>
void resize(Input& in, Break brk)
{
    Volume<T> src(in, drawExtent(in, 10));
    VekrCuboid srcVoi = drawRegion(in, src.ext, true);
    Volume<T> dst(in, drawDestination(in));
    VekrCuboid dstVoi = drawRegion(in, dst.ext, false);
    VekrVolume srcExt = src.ext;
    double f[3] = {drawFactor(in), drawFactor(in), drawFactor(in)};
    const double s[3] = {drawShift(in), drawShift(in), drawShift(in)};
    int32_t mode = drawMode(in);
    const bool contiguous = in.chance(2) && !src.flipped && !dst.flipped;
    vekSetNumThreads(in.range(1, 3));

    int32_t bufSize = 0;
    const VekStatus q = vekrResizeGetBufSize(srcVoi, dstVoi, 1, mode, &bufSize);
    FUZZ_REQUIRE(q == vekStsOk || q == vekStsNoMemErr, "buffer query %d", q);
    Array<uint8_t> buffer(q == vekStsOk ? size_t(bufSize) : 1);

    const NullPlan nulls(in, brk == NullPtr ? 3 : 0, true);
    VekStatus want = vekStsOk;
    switch (brk) {
    case NullPtr: want = vekStsNullPtrErr; break;
    case BadVolume: (in.chance(2) ? srcExt.width : srcExt.depth) = badExtent(in), want = vekStsSizeErr; break;
    case BadRegion: breakRegion(in, in.chance(2) ? srcVoi : dstVoi), want = vekStsSizeErr; break;
    case BadEnd: breakEnd(in, dstVoi), want = vekStsSizeErr; break;
    case BadFactor: f[in.u8() % 3] = in.pick<double>({0.0, -0.0, -1.0, NAN, -INFINITY, -1e-300}), want = vekStsResizeFactorErr; break;
    case BadMode: mode = badMode(in), want = vekStsInterpolationErr; break;
    case SrcOutside: srcVoi.x = srcExt.width + in.range(0, 3), want = vekStsVoiOutsideWarn; break;
    default: break;
    }
    buffer.sentinel();
    dst.voxels.snapshot();
    src.voxels.snapshot();
    VekStatus st;
    if (contiguous)
        st = Caller<T>::resizeV(nulls.pass(0, static_cast<const T*>(src.origin())), srcExt, src.rowStep, src.planeStep,
                                srcVoi, nulls.pass(1, dst.origin()), dst.rowStep, dst.planeStep, dstVoi, f[0], f[1], f[2],
                                s[0], s[1], s[2], mode, nulls.pass(2, buffer.data()));
    else
        st = Caller<T>::resizePV(nulls.pass(0, src.cpv()), srcExt, src.rowStep, srcVoi, nulls.pass(1, dst.pv()),
                                 dst.rowStep, dstVoi, f[0], f[1], f[2], s[0], s[1], s[2], mode,
                                 nulls.pass(2, buffer.data()));
    vekSetNumThreads(0);
    FUZZ_REQUIRE(src.voxels.unchanged(), "resize wrote its source");
    if (brk != None) {
        FUZZ_REQUIRE(st == want, "resize broken by %d: status %d, want %d", int(brk), st, want);
    } else if (q == vekStsNoMemErr) {
        FUZZ_REQUIRE(st == vekStsNoMemErr, "resize the query refused: %d", st);
    } else {
        FUZZ_REQUIRE(st == vekStsOk || st == vekStsNoVoxelsWarn, "resize status %d", st);
    }
    if (st != vekStsOk) FUZZ_REQUIRE(dst.voxels.unchanged() && buffer.unchanged(), "resize wrote after status %d", st);
}

// A forward transform: a scaled rotation-like matrix with shifts, a
// singular or nearly singular one, or arbitrary (NaN and infinities too).
void drawTransform(Input& in, double c[12])
{
    switch (in.u8() % 4) {
    case 0:
        for (int i = 0; i < 12; ++i) c[i] = in.real64();
        break;
    case 1:  // rank-deficient: the third row a multiple of the first
        for (int i = 0; i < 8; ++i) c[i] = double(in.range(-3, 3));
        for (int i = 0; i < 3; ++i) c[8 + i] = c[i] * double(in.range(-2, 2));
        c[11] = double(in.range(-3, 3));
        break;
    default:
        for (int i = 0; i < 12; ++i) c[i] = (i % 5 == 0 ? 1.0 : 0.0) * double(in.range(1, 3)) / 2.0;
        for (int i = 0; i < 3; ++i) c[4 * i + 3] = drawShift(in);
        if (in.chance(2)) c[in.u8() % 12] += double(in.range(-10, 10)) / 10.0;
        if (in.chance(8)) c[0] = c[5] = c[10] = 1e-101;  // a diagonal of zeros to 1e-100
        break;
    }
}

template <class T>
void warp(Input& in, Break brk)
{
    Volume<T> src(in, drawExtent(in, 10));
    VekrCuboid srcVoi = drawRegion(in, src.ext, true);
    Volume<T> dst(in, drawDestination(in));
    VekrCuboid dstVoi = drawRegion(in, dst.ext, false);
    VekrVolume srcExt = src.ext;
    double c[12];
    drawTransform(in, c);
    int32_t mode = drawMode(in);
    vekSetNumThreads(in.range(1, 3));
    const NullPlan nulls(in, brk == NullPtr ? 2 : 0, true);
    VekStatus want = vekStsOk;
    switch (brk) {
    case NullPtr: want = vekStsNullPtrErr; break;
    case BadVolume: (in.chance(2) ? srcExt.height : srcExt.depth) = badExtent(in), want = vekStsSizeErr; break;
    case BadRegion: breakRegion(in, in.chance(2) ? srcVoi : dstVoi), want = vekStsSizeErr; break;
    case BadEnd: breakEnd(in, dstVoi), want = vekStsSizeErr; break;
    case BadMode: mode = badMode(in), want = vekStsInterpolationErr; break;
    case SrcOutside: srcVoi.z = srcExt.depth + in.range(0, 3), want = vekStsVoiOutsideWarn; break;
    default: break;
    }
    uint8_t unused = 0x5B;
    src.voxels.snapshot();
    dst.voxels.snapshot();
    const VekStatus st = Caller<T>::warp(nulls.pass(0, src.cpv()), srcExt, src.rowStep, srcVoi, nulls.pass(1, dst.pv()),
                                         dst.rowStep, dstVoi, static_cast<const double*>(c), mode,
                                         in.chance(2) ? nullptr : &unused);
    vekSetNumThreads(0);
    FUZZ_REQUIRE(src.voxels.unchanged() && unused == 0x5B, "warp wrote its source or its buffer");
    // A degenerate transform is refused right after the sizes, before the
    // mode and the source region are looked at.
    if (want == vekStsNullPtrErr || want == vekStsSizeErr)
        FUZZ_REQUIRE(st == want, "warp broken by %d: status %d, want %d", int(brk), st, want);
    else
        FUZZ_REQUIRE(st == want || st == vekStsCoeffErr, "warp broken by %d: status %d, want %d", int(brk), st, want);
    if (st != vekStsOk) FUZZ_REQUIRE(dst.voxels.unchanged(), "warp wrote after status %d", st);
}

template <class T>
void remap(Input& in, Break brk)
{
    Volume<T> src(in, drawExtent(in, 10));
    VekrCuboid srcVoi = drawRegion(in, src.ext, true);
    Volume<T> dst(in, drawDestination(in));
    VekrVolume srcExt = src.ext, dstExt = dst.ext;
    // The maps share the destination's extent and one row step.
    const bool flipMaps = in.chance(4);
    Volume<float> mx(dst.ext, flipMaps), my(dst.ext, flipMaps), mz(dst.ext, flipMaps);
    Volume<float>* maps[3] = {&mx, &my, &mz};
    const bool inRange = in.chance(2);
    for (int a = 0; a < 3; ++a) {
        const int32_t extent = a == 0 ? src.ext.width : a == 1 ? src.ext.height : src.ext.depth;
        for (size_t i = 0; i < maps[a]->voxels.size(); ++i)
            maps[a]->voxels[i] = inRange && !in.chance(16) ? float(in.range(-4, 4 * extent + 4)) / 4.0f : in.real();
    }
    int32_t mode = drawMode(in);
    vekSetNumThreads(in.range(1, 3));
    const NullPlan nulls(in, brk == NullPtr ? 5 : 0, true);
    VekStatus want = vekStsOk;
    switch (brk) {
    case NullPtr: want = vekStsNullPtrErr; break;
    case BadVolume:
        (in.chance(2) ? srcExt.width : dstExt.height) = badExtent(in), want = vekStsSizeErr;
        break;
    case BadRegion: breakRegion(in, srcVoi), want = vekStsSizeErr; break;
    case BadMode: mode = badMode(in), want = vekStsInterpolationErr; break;
    case SrcOutside: srcVoi.y = srcExt.height + in.range(0, 3), want = vekStsVoiOutsideWarn; break;
    default: break;
    }
    src.voxels.snapshot(), dst.voxels.snapshot(), mx.voxels.snapshot(), my.voxels.snapshot(), mz.voxels.snapshot();
    const VekStatus st = Caller<T>::remap(
        nulls.pass(0, src.cpv()), srcExt, src.rowStep, srcVoi, nulls.pass(2, mx.cpv()), nulls.pass(3, my.cpv()),
        nulls.pass(4, mz.cpv()), mx.rowStep, nulls.pass(1, dst.pv()), dst.rowStep, dstExt, mode);
    vekSetNumThreads(0);
    FUZZ_REQUIRE(st == want, "remap broken by %d: status %d, want %d", int(brk), st, want);
    FUZZ_REQUIRE(src.voxels.unchanged() && mx.voxels.unchanged() && my.voxels.unchanged() && mz.voxels.unchanged(),
                 "remap wrote an input");
    if (st != vekStsOk) FUZZ_REQUIRE(dst.voxels.unchanged(), "remap wrote after status %d", st);
}

// The filter's definition: 32-bit wrapping products summed in 64 bits,
// divided with ties to even (exactly for 1 and powers of two, else in
// double by the divisor rounded to float), saturated.
int16_t filterReference(int64_t sum, int32_t divisor)
{
    double q;
    if (divisor == 1) {
        q = double(sum);
    } else if (divisor > 0 && (divisor & (divisor - 1)) == 0) {
        int k = 0;
        while ((int32_t(1) << k) != divisor) ++k;
        int64_t fl = sum >> k;  // floor
        const int64_t rem = sum - fl * divisor, half = divisor / 2;
        if (rem > half || (rem == half && (fl & 1))) ++fl;
        q = double(fl);
    } else {
        q = std::nearbyint(double(sum) / double(float(divisor)));
    }
    return int16_t(std::clamp(q, -32768.0, 32767.0));
}

void filter(Input& in, Break brk)
{
    VekrVolume dstExt = drawExtent(in, 6), kernelExt = drawExtent(in, 4);
    const VekrPoint anchor{in.range(-2, kernelExt.width + 1), in.range(-2, kernelExt.height + 1),
                           in.range(-2, kernelExt.depth + 1)};
    // The source covers columns ax - (kw - 1) .. W - 1 + ax, and so on.
    const VekrVolume srcExt{dstExt.width + kernelExt.width - 1, dstExt.height + kernelExt.height - 1,
                            dstExt.depth + kernelExt.depth - 1};
    Volume<int16_t> src(srcExt, in.chance(4)), dst(dstExt, in.chance(4));
    const bool extremes = in.chance(2);
    for (size_t i = 0; i < src.voxels.size(); ++i)
        src.voxels[i] = extremes ? in.pick<int16_t>({-32768, 32767, 0, -1, 1}) : int16_t(in.u32());
    dst.fill(in);
    Array<int32_t> kernel(size_t(kernelExt.width) * kernelExt.height * kernelExt.depth);
    for (size_t i = 0; i < kernel.size(); ++i)
        kernel[i] = in.chance(3) ? in.pick<int32_t>({INT32_MIN, INT32_MAX, -1, 65536, 1 << 30}) : in.range(-9, 9);
    int32_t divisor = in.chance(2) ? in.pick<int32_t>({1, 2, 4, 1024, 1 << 30, -1, -2, 3, 7, INT32_MIN, INT32_MAX})
                                   : in.i32();
    if (divisor == 0) divisor = 1;
    // Plane and row pointers placed so that index -(k - 1) + a is the
    // first stored plane, row and column.
    const int32_t x0 = anchor.x - (kernelExt.width - 1), y0 = anchor.y - (kernelExt.height - 1),
                  z0 = anchor.z - (kernelExt.depth - 1);
    std::vector<const int16_t*> planes(size_t(srcExt.depth));
    for (int32_t z = 0; z < srcExt.depth; ++z)
        planes[size_t(z)] = src.planes[size_t(z)] - ptrdiff_t(y0) * (src.rowStep / 2) - x0;
    const int16_t* const* pSrc = planes.data() - z0;
    const NullPlan nulls(in, brk == NullPtr ? 3 : 0, true);
    VekStatus want = vekStsOk;
    switch (brk) {
    case NullPtr: want = vekStsNullPtrErr; break;
    case BadVolume: (in.chance(2) ? dstExt.depth : kernelExt.width) = badExtent(in), want = vekStsSizeErr; break;
    case BadDivisor: divisor = 0, want = vekStsSizeErr; break;
    default: break;
    }
    uint8_t unused = 0x5B;
    src.voxels.snapshot(), dst.voxels.snapshot(), kernel.snapshot();
    const VekStatus st = vekrFilter_16s_C1PV(nulls.pass(0, pSrc), src.rowStep, nulls.pass(1, dst.pv()), dst.rowStep,
                                             dstExt, nulls.pass(2, static_cast<const int32_t*>(kernel.data())), kernelExt,
                                             anchor, divisor, in.chance(2) ? nullptr : &unused);
    FUZZ_REQUIRE(st == want, "filter broken by %d: status %d, want %d", int(brk), st, want);
    FUZZ_REQUIRE(src.voxels.unchanged() && kernel.unchanged() && unused == 0x5B, "filter wrote an input");
    if (st != vekStsOk) {
        FUZZ_REQUIRE(dst.voxels.unchanged(), "filter wrote after status %d", st);
        return;
    }
    const auto at = [&](int32_t x, int32_t y, int32_t z) {
        return *reinterpret_cast<const int16_t*>(reinterpret_cast<const char*>(pSrc[z]) + ptrdiff_t(y) * src.rowStep +
                                                 2 * ptrdiff_t(x));
    };
    for (int32_t z = 0; z < dstExt.depth; ++z)
        for (int32_t y = 0; y < dstExt.height; ++y)
            for (int32_t x = 0; x < dstExt.width; ++x) {
                int64_t sum = 0;
                for (int32_t k = 0; k < kernelExt.depth; ++k)
                    for (int32_t j = 0; j < kernelExt.height; ++j)
                        for (int32_t i = 0; i < kernelExt.width; ++i) {
                            const uint32_t w = uint32_t(kernel[size_t(i + kernelExt.width * (j + kernelExt.height * k))]);
                            const uint32_t v = uint32_t(int32_t(at(x + anchor.x - i, y + anchor.y - j, z + anchor.z - k)));
                            sum += int32_t(w * v);
                        }
                const int16_t got = *reinterpret_cast<const int16_t*>(
                    reinterpret_cast<const char*>(dst.planes[size_t(z)]) + ptrdiff_t(y) * dst.rowStep + 2 * ptrdiff_t(x));
                const int16_t ref = filterReference(sum, divisor);
                FUZZ_REQUIRE(got == ref, "filter (%d,%d,%d): %d, want %d (sum %lld, divisor %d)", x, y, z, got, ref,
                             static_cast<long long>(sum), divisor);
            }
}

// The three size queries: statuses in order; 0 stored for warp and filter.
void queries(Input& in)
{
    VekrCuboid a{in.range(-1, 4), in.range(-1, 4), in.range(-1, 4), in.range(-1, 40), in.range(-1, 40), in.range(-1, 40)};
    VekrCuboid b{in.range(-1, 4), in.range(-1, 4), in.range(-1, 4), in.range(-1, 4000), in.range(-1, 4000),
                 in.range(-1, 64)};
    if (in.chance(8)) breakEnd(in, b);
    const int32_t channels = in.chance(6) ? in.pick<int32_t>({0, 2, 3, -1}) : 1;
    const int32_t mode = in.chance(6) ? badMode(in) : drawMode(in);
    const bool null = in.chance(8);
    const auto valid = [](const VekrCuboid& c) {
        return c.x >= 0 && c.y >= 0 && c.z >= 0 && c.width >= 1 && c.height >= 1 && c.depth >= 1;
    };
    const auto endsInRange = [](const VekrCuboid& c) {
        return int64_t(c.x) + c.width - 1 <= INT32_MAX && int64_t(c.y) + c.height - 1 <= INT32_MAX &&
               int64_t(c.z) + c.depth - 1 <= INT32_MAX;
    };
    const bool modeOk = mode == 1 || mode == 2 || (mode >= 4 && mode <= 7);
    const VekStatus want = null                                         ? vekStsNullPtrErr
                           : !valid(a) || !valid(b) || !endsInRange(b) ? vekStsSizeErr
                           : channels != 1                              ? vekStsNumChannelsErr
                           : !modeOk                                    ? vekStsInterpolationErr
                                                                        : vekStsOk;
    int32_t size = -0x5B5B5B5B;
    VekStatus st = vekrResizeGetBufSize(a, b, channels, mode, null ? nullptr : &size);
    FUZZ_REQUIRE(st == want || (want == vekStsOk && st == vekStsNoMemErr), "resize query %d, want %d", st, want);
    FUZZ_REQUIRE(st == vekStsOk ? size >= 0 : size == -0x5B5B5B5B, "resize query size %d after %d", size, st);
    size = -0x5B5B5B5B;
    st = vekrWarpAffineGetBufSize(a, b, channels, mode, null ? nullptr : &size);
    FUZZ_REQUIRE(st == want, "warp query %d, want %d", st, want);
    FUZZ_REQUIRE(size == (st == vekStsOk ? 0 : -0x5B5B5B5B), "warp query size %d after %d", size, st);
    const VekrVolume roi{a.width, a.height, a.depth}, kernel{b.width, b.height, b.depth};
    const bool volumesOk = roi.width >= 1 && roi.height >= 1 && roi.depth >= 1 && kernel.width >= 1 &&
                           kernel.height >= 1 && kernel.depth >= 1;
    const VekStatus fwant = null ? vekStsNullPtrErr
                            : !volumesOk ? vekStsSizeErr
                            : channels != 1 ? vekStsNumChannelsErr
                                            : vekStsOk;
    size = -0x5B5B5B5B;
    st = vekrFilterGetBufSize(roi, kernel, channels, null ? nullptr : &size);
    FUZZ_REQUIRE(st == fwant, "filter query %d, want %d", st, fwant);
    FUZZ_REQUIRE(size == (st == vekStsOk ? 0 : -0x5B5B5B5B), "filter query size %d after %d", size, st);
}

template <class T>
void oneType(Input& in, int which, Break brk)
{
    if (which == 0)
        resize<T>(in, brk);
    else if (which == 1)
        warp<T>(in, brk);
    else
        remap<T>(in, brk);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in(data, size);
    const uint8_t op = in.u8();
    const Break brk = in.chance(2) ? None : static_cast<Break>(in.u8() % 10);
    switch (op % 11) {
    case 9: filter(in, brk == BadFactor ? BadDivisor : brk); break;
    case 10: queries(in); break;
    default: {
        const int which = op % 3;
        const Break b = (brk == BadDivisor || (brk == BadFactor && which != 0) || brk == BadChannels ||
                         (brk == BadEnd && which == 2))
                            ? None
                            : brk;
        switch ((op / 3) % 3) {
        case 0: oneType<uint8_t>(in, which, b); break;
        case 1: oneType<uint16_t>(in, which, b); break;
        default: oneType<float>(in, which, b); break;
        }
    }
    }
    return 0;
}
