// Sizes, offsets and budgets near 2^31 in the volume functions: a size that
// does not fit a signed 32-bit count is refused, never reported wrapped, and
// an export that would have to trust such a size writes nothing. None of
// these tests allocates more than a few kilobytes: the refusals come before
// any voxel is touched.
#include <gtest/gtest.h>
#ifdef _WIN32
#define NOMINMAX
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <type_traits>
#include <vector>

#include "support/alloc_hook.h"
#include "volume/resize_plan.h"
#include "vekr.h"

using namespace vekr_test;

namespace {

constexpr int32_t kUntouched = -12345;

// The resize scratch size independently: the per-thread formula in exact
// 64-bit arithmetic (extents here stay far below where that could wrap).
int64_t perThreadBytes(int mode, int64_t w, int64_t h, int64_t d)
{
    auto a16 = [](int64_t n) { return (n + 15) / 16 * 16; };
    auto a64 = [](int64_t n) { return (n + 63) / 64 * 64; };
    auto f64 = [](int64_t n) { return n / 64 * 64; };
    if (mode == vekInterNearest) return 64 * ((w + 15) / 16 + (h + 15) / 16 + (d + 15) / 16) + 64;
    const int64_t tables = a16(w) + a16(h) + a16(d) + a64(w) + a64(h) + a64(d);
    if (mode == vekInterLinear)
        return 4 * (tables + f64(2 * w + 127) + 2 * h * a64(w) + f64(8 * (w + h) + 127)) + 64;
    return 4 * (tables + f64(4 * w + 255) + 4 * h * a64(w) + f64(4 * w + 255) + f64(4 * h + 255) + f64(4 * d + 255) +
                f64(48 * (w + h) + 255)) +
           64;
}

VekrCuboid region(int32_t w, int32_t h, int32_t d) { return VekrCuboid{0, 0, 0, w, h, d}; }

}  // namespace

// The query either reports the exact size or refuses with vekStsNoMemErr
// and leaves *pSize alone. The cases: the reported 2000 x 2000 x 32
// Catmull-Rom destination at 32 threads (fits) and 33 (its product used to
// come out negative); per-thread needs that pass 2^32 on their own (nearest
// on the largest extents used to wrap to 64 bytes, linear on a 40000^2 plane
// to a plausible few hundred megabytes); and a nearest row whose size sits
// exactly at the largest multiple of 64 below 2^31, and 16 columns more.
TEST(SizeLimits, ResizeQueryRefusesSizesBeyondInt32)
{
    const int32_t edge = 16 * ((1 << 25) - 4);  // nearest: 64 (2^25 - 2) = 2^31 - 64 bytes with H = D = 1
    const struct {
        int mode;
        VekrCuboid dst;
        int threads;
        bool fits;
    } cases[] = {
        {vekInterCatmullRom, region(2000, 2000, 32), 1, true},
        {vekInterCatmullRom, region(2000, 2000, 32), 32, true},
        {vekInterCatmullRom, region(2000, 2000, 32), 33, false},
        {vekInterCatmullRom, region(2000, 2000, 32), 1000, false},
        {vekInterNearest, region(INT32_MAX, INT32_MAX, INT32_MAX), 1, false},
        {vekInterLinear, region(40000, 40000, 1), 1, false},
        {vekInterLagrange, region(INT32_MAX, 1, 1), 1, false},
        {vekInterBSpline, region(1, INT32_MAX, 1), 1, false},
        {vekInterBlendCubic, region(1, 1, INT32_MAX), 1, false},
        {vekInterNearest, region(edge, 1, 1), 1, true},
        {vekInterNearest, region(edge + 16, 1, 1), 1, false},
        {vekInterNearest, region(edge, 1, 1), 2, false},
        {vekInterNearest, region(1, 1, 1), 65535, true},
    };
    for (const auto& c : cases) {
        ScopedThreads threads(c.threads);
        int32_t size = kUntouched;
        const VekStatus st = vekrResizeGetBufSize(region(1, 1, 1), c.dst, 1, c.mode, &size);
        const auto what = ::testing::Message() << "mode " << c.mode << " " << c.dst.width << " x " << c.dst.height
                                               << " x " << c.dst.depth << " on " << c.threads << " threads";
        if (c.fits) {
            ASSERT_EQ(st, vekStsOk) << what;
            EXPECT_EQ(size, perThreadBytes(c.mode, c.dst.width, c.dst.height, c.dst.depth) * c.threads) << what;
        } else {
            EXPECT_EQ(st, vekStsNoMemErr) << what;
            EXPECT_EQ(size, kUntouched) << what;
        }
    }
    // The edge case is the largest size the query ever reports for one thread.
    EXPECT_EQ(perThreadBytes(vekInterNearest, edge, 1, 1), int64_t{INT32_MAX} - 63);
}

// The per-thread need itself, for the parallel slicing: exact below 2^29 per
// extent, and beyond 2^31 whenever an extent reaches 2^29.
TEST(SizeLimits, ResizePerThreadNeedIsExactOrClearlyTooLarge)
{
    for (int mode : {1, 2, 4}) {
        EXPECT_EQ(int64_t(vekr::volume::resizeBufferBytesPerThread(mode, 100000, 30000, 7)),
                  perThreadBytes(mode, 100000, 30000, 7))
            << mode;
        for (int axis = 0; axis < 3; ++axis) {
            const int32_t e[3] = {axis == 0 ? 1 << 29 : 1, axis == 1 ? 1 << 29 : 1, axis == 2 ? 1 << 29 : 1};
            EXPECT_GT(vekr::volume::resizeBufferBytesPerThread(mode, e[0], e[1], e[2]), uint64_t(INT32_MAX))
                << mode << " " << axis;
        }
    }
}

// Where the query refuses, every resize export refuses too, with the same
// status, before planning: a destination the scaled source misses (which
// would otherwise give vekStsNoVoxelsWarn) and one it covers. The arrays
// are a few voxels: any voxel or table write would land outside them.
TEST(SizeLimits, ResizeExportsRefuseWhatTheQueryRefuses)
{
    ScopedThreads threads(33);
    const VekrVolume srcVolume{4, 4, 4};
    const VekrCuboid srcVoi{0, 0, 0, 4, 4, 4};
    std::vector<float> src32(64, 1.0f), dst32(64, 7.0f);
    std::vector<uint16_t> src16(64, 1), dst16(64, 7);
    std::vector<uint8_t> src8(64, 1), dst8(64, 7), buffer(256, 0xAB);
    const std::vector<uint8_t> bufferBefore = buffer;

    const VekrCuboid dstVoi = region(2000, 2000, 32);  // Catmull-Rom needs 33 x 66,437,184 bytes
    // Both layouts of one voxel type, on 4 x 4 x 4 arrays of T.
    auto refuse = [&](auto resizeV, auto resizePV, auto& src, auto& dst) {
        using T = typename std::decay_t<decltype(dst)>::value_type;
        const int32_t row = static_cast<int32_t>(4 * sizeof(T)), plane = 4 * row;
        const T* srcPlanes[4] = {&src[0], &src[16], &src[32], &src[48]};
        T* dstPlanes[4] = {&dst[0], &dst[16], &dst[32], &dst[48]};
        const std::vector<T> dstBefore = dst;
        for (double shift : {-1e6, 0.0}) {
            EXPECT_EQ(resizeV(src.data(), srcVolume, row, plane, srcVoi, dst.data(), row, plane, dstVoi, 500, 500, 8,
                              shift, 0, 0, vekInterCatmullRom, buffer.data()),
                      vekStsNoMemErr)
                << sizeof(T) << "-byte voxels, shift " << shift;
            EXPECT_EQ(resizePV(srcPlanes, srcVolume, row, srcVoi, dstPlanes, row, dstVoi, 500, 500, 8, shift, 0, 0,
                               vekInterCatmullRom, buffer.data()),
                      vekStsNoMemErr)
                << sizeof(T) << "-byte voxels, planes, shift " << shift;
        }
        EXPECT_EQ(dst, dstBefore) << sizeof(T) << "-byte voxels";
    };
    refuse(vekrResize_32f_C1V, vekrResize_32f_C1PV, src32, dst32);
    refuse(vekrResize_16u_C1V, vekrResize_16u_C1PV, src16, dst16);
    refuse(vekrResize_8u_C1V, vekrResize_8u_C1PV, src8, dst8);
    EXPECT_EQ(buffer, bufferBefore);

    // The argument checks still come first, and a region that fits at this
    // thread count still runs.
    EXPECT_EQ(vekrResize_32f_C1V(src32.data(), srcVolume, 16, 64, srcVoi, dst32.data(), 16, 64, dstVoi, 0, 500, 8, 0,
                                 0, 0, vekInterCatmullRom, buffer.data()),
              vekStsResizeFactorErr);
    EXPECT_EQ(vekrResize_32f_C1V(src32.data(), srcVolume, 16, 64, srcVoi, dst32.data(), 16, 64, dstVoi, 500, 500, 8, 0,
                                 0, 0, 3, buffer.data()),
              vekStsInterpolationErr);
    int32_t size = 0;
    ASSERT_EQ(vekrResizeGetBufSize(srcVoi, srcVoi, 1, vekInterCatmullRom, &size), vekStsOk);
    std::vector<uint8_t> enough(size);
    EXPECT_EQ(vekrResize_32f_C1V(src32.data(), srcVolume, 16, 64, srcVoi, dst32.data(), 16, 64, srcVoi, 1, 1, 1, 0, 0,
                                 0, vekInterCatmullRom, enough.data()),
              vekStsOk);
    EXPECT_EQ(dst32, src32);
}

namespace {

// Address space without memory behind it: a span reserved inaccessible,
// with single pages made readable and writable on demand. Lets a test give
// a function a source whose rows lie gigabytes apart while only the rows
// it reads exist.
class SparseSpan {
public:
    explicit SparseSpan(size_t bytes) : bytes_(bytes)
    {
#ifdef _WIN32
        base_ = static_cast<unsigned char*>(VirtualAlloc(nullptr, bytes, MEM_RESERVE, PAGE_NOACCESS));
#else
        void* p = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        base_ = p == MAP_FAILED ? nullptr : static_cast<unsigned char*>(p);
#endif
    }
    ~SparseSpan()
    {
#ifdef _WIN32
        if (base_) VirtualFree(base_, 0, MEM_RELEASE);
#else
        if (base_) munmap(base_, bytes_);
#endif
    }
    SparseSpan(const SparseSpan&) = delete;
    SparseSpan& operator=(const SparseSpan&) = delete;

    bool ok() const { return base_ != nullptr; }
    // Makes the page holding offset usable and returns its address.
    unsigned char* at(size_t offset)
    {
#ifdef _WIN32
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        const size_t page = info.dwPageSize;
        unsigned char* start = base_ + offset / page * page;
        if (!VirtualAlloc(start, page, MEM_COMMIT, PAGE_READWRITE)) return nullptr;
#else
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        unsigned char* start = base_ + offset / page * page;
        if (mprotect(start, page, PROT_READ | PROT_WRITE) != 0) return nullptr;
#endif
        return base_ + offset;
    }

private:
    unsigned char* base_;
    size_t bytes_;
};

}  // namespace

// Source rows 65536 bytes apart: row 65536 starts 2^32 bytes after row 0.
// Nearest resize kept each row's offset as row x step in 32 bits, which
// wraps to 0 there and read row 0 instead; warp and remap address rows in
// pointer width and serve as the reference. Row 0 holds 1, row 65536 holds
// 2, and each call reads row 65536 only.
TEST(SizeLimits, RowOffsetsBeyond4GBDoNotWrap)
{
    if (sizeof(void*) < 8) GTEST_SKIP() << "a source spanning 4 GB cannot be addressed in 32 bits";
    constexpr int32_t kStep = 65536, kRow = 65536;
    SparseSpan span(static_cast<size_t>(kRow + 1) * kStep);
    if (!span.ok()) GTEST_SKIP() << "no room to reserve 4 GB of address space";
    uint8_t* row0 = span.at(0);
    uint8_t* rowFar = span.at(static_cast<size_t>(kRow) * kStep);
    ASSERT_TRUE(row0 && rowFar);
    row0[0] = 1;
    rowFar[0] = 2;

    const VekrVolume srcVolume{1, kRow + 1, 1};
    const VekrCuboid srcVoi{0, kRow, 0, 1, 1, 1};
    const uint8_t* srcPlanes[1] = {row0};
    std::vector<uint8_t> buffer(1024);
    ScopedThreads one(1);

    // Source row 65536 lands on destination row 0.
    const VekrCuboid dstVoi{0, 0, 0, 1, 1, 1};
    uint8_t out = 0;
    uint8_t* dstPlanes[1] = {&out};
    EXPECT_EQ(vekrResize_8u_C1V(row0, srcVolume, kStep, kStep, srcVoi, &out, 1, 1, dstVoi, 1, 1, 1, 0, -kRow, 0,
                                vekInterNearest, buffer.data()),
              vekStsOk);
    EXPECT_EQ(out, 2);
    for (int mode : {vekInterNearest, vekInterLinear}) {
        out = 0;
        EXPECT_EQ(vekrResize_8u_C1PV(srcPlanes, srcVolume, kStep, srcVoi, dstPlanes, 1, dstVoi, 1, 1, 1, 0, -kRow, 0,
                                     mode, buffer.data()),
                  vekStsOk)
            << "mode " << mode;
        EXPECT_EQ(out, 2) << "mode " << mode;
    }

    // Warp (identity) and remap write destination row 65536; a zero row
    // step puts every destination row on the one byte that exists.
    out = 0;
    const double identity[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
    EXPECT_EQ(vekrWarpAffine_8u_C1PV(srcPlanes, srcVolume, kStep, srcVoi, dstPlanes, 0,
                                     VekrCuboid{0, kRow, 0, 1, 1, 1}, identity, vekInterNearest, nullptr),
              vekStsOk);
    EXPECT_EQ(out, 2);
    out = 0;
    const float mx = 0.0f, my = float(kRow), mz = 0.0f;
    const float* xMap[1] = {&mx};
    const float* yMap[1] = {&my};
    const float* zMap[1] = {&mz};
    EXPECT_EQ(vekrRemap_8u_C1PV(srcPlanes, srcVolume, kStep, srcVoi, xMap, yMap, zMap, 4, dstPlanes, 1,
                                VekrVolume{1, 1, 1}, vekInterNearest),
              vekStsOk);
    EXPECT_EQ(out, 2);
}

namespace {

// A pointer whose element `index` is `at`: lets a region with corners near
// 2^31 address a small array, as a caller's biased plane pointers do.
template <class T>
T* biased(T* at, int64_t index)
{
    return reinterpret_cast<T*>(reinterpret_cast<uintptr_t>(at) - static_cast<uintptr_t>(index * int64_t(sizeof(T))));
}

}  // namespace

// A destination region may end on the last 32-bit index: the warp's loops
// stepped 32-bit counters past it (undefined behaviour that only happened
// to end), and a region reaching beyond it named voxels without an index:
// its end wrapped negative and the warp and resize returned success. The
// first is written correctly on every axis (the resize used to drop the
// voxel on the last index); the second is refused as a size error by the
// warp, the resize and both queries.
TEST(SizeLimits, RegionsEndingAtTheLastIndex)
{
    const int32_t first = INT32_MAX - 7;  // 8 voxels: first .. 2^31 - 1
    std::vector<float> src(8), row(8, -1.0f);
    for (int i = 0; i < 8; ++i) src[i] = float(10 + i);
    const float* srcPlanes[1] = {src.data()};
    const VekrVolume srcVolume{8, 1, 1};
    const VekrCuboid srcVoi{0, 0, 0, 8, 1, 1};
    for (int axis = 0; axis < 3; ++axis) {
        // The 8 source voxels along x land on destination x, y or z from
        // `first` on: the transform swaps source x with that axis (a cyclic
        // permutation would fail the degenerate-transform test) and adds
        // `first` along it.
        double m[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
        if (axis != 0) {
            m[0] = m[4 * axis + axis] = 0;
            m[4 * axis + 0] = m[axis] = 1;
        }
        m[4 * axis + 3] = first;
        std::fill(row.begin(), row.end(), -1.0f);
        float* dstPlanes[1] = {nullptr};
        VekrCuboid dstVoi{0, 0, 0, 1, 1, 1};
        int32_t step = 0;
        float* const* pDst = dstPlanes;
        std::vector<float*> planeArray(8);
        if (axis == 0) {
            dstPlanes[0] = biased(row.data(), first);
            dstVoi = VekrCuboid{first, 0, 0, 8, 1, 1};
        } else if (axis == 1) {
            dstPlanes[0] = biased(row.data(), first);  // rows one float apart
            step = 4;
            dstVoi = VekrCuboid{0, first, 0, 1, 8, 1};
        } else {
            for (int k = 0; k < 8; ++k) planeArray[k] = &row[k];
            pDst = biased(planeArray.data(), first);
            dstVoi = VekrCuboid{0, 0, first, 1, 1, 8};
        }
        int32_t size = -1;
        ASSERT_EQ(vekrWarpAffineGetBufSize(srcVoi, dstVoi, 1, vekInterNearest, &size), vekStsOk);
        ASSERT_EQ(vekrWarpAffine_32f_C1PV(srcPlanes, srcVolume, 32, srcVoi, pDst, step, dstVoi, m, vekInterNearest,
                                          nullptr),
                  vekStsOk)
            << axis;
        EXPECT_EQ(row, src) << "axis " << axis;

        // The resize of the same 8 voxels, laid along that axis, onto that
        // region: its last column, row or plane used to be dropped.
        std::fill(row.begin(), row.end(), -1.0f);
        std::vector<const float*> srcPlaneArray(8);
        for (int k = 0; k < 8; ++k) srcPlaneArray[k] = &src[k];
        const VekrVolume alongAxis{axis == 0 ? 8 : 1, axis == 1 ? 8 : 1, axis == 2 ? 8 : 1};
        const VekrCuboid alongVoi{0, 0, 0, alongAxis.width, alongAxis.height, alongAxis.depth};
        std::vector<uint8_t> scratch(4096);
        ASSERT_EQ(vekrResize_32f_C1PV(axis == 2 ? srcPlaneArray.data() : srcPlanes, alongAxis, axis == 0 ? 32 : 4,
                                      alongVoi, pDst, step, dstVoi, 1, 1, 1, axis == 0 ? first : 0,
                                      axis == 1 ? first : 0, axis == 2 ? first : 0, vekInterNearest, scratch.data()),
                  vekStsOk)
            << axis;
        EXPECT_EQ(row, src) << "resize, axis " << axis;

        VekrCuboid past = dstVoi;
        (axis == 0 ? past.x : axis == 1 ? past.y : past.z) += 1;
        EXPECT_EQ(vekrWarpAffine_32f_C1PV(srcPlanes, srcVolume, 32, srcVoi, pDst, step, past, m, vekInterNearest,
                                          nullptr),
                  vekStsSizeErr)
            << axis;
        EXPECT_EQ(vekrWarpAffineGetBufSize(srcVoi, past, 1, vekInterNearest, &size), vekStsSizeErr) << axis;
        EXPECT_EQ(vekrResizeGetBufSize(srcVoi, past, 1, vekInterNearest, &size), vekStsSizeErr) << axis;
        EXPECT_EQ(vekrResizeGetBufSize(srcVoi, dstVoi, 1, vekInterNearest, &size), vekStsOk) << axis;
        std::vector<uint8_t> buffer(4096);
        EXPECT_EQ(vekrResize_32f_C1PV(srcPlanes, srcVolume, 32, srcVoi, pDst, step, past, 1, 1, 1, 0, 0, 0,
                                      vekInterNearest, buffer.data()),
                  vekStsSizeErr)
            << axis;
        EXPECT_EQ(row, src) << "axis " << axis;
    }
}

