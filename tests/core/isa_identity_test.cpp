// The kernels of every instruction set give the same bits. Each case makes
// the same export calls once with the SSE3 kernels and once with each wider
// set the processor has (switching the process's kernel table between
// them) and compares hashes of everything the calls wrote. Sizes are chosen
// so that vector loops of 4, 8, 16 and 32 lanes all leave remainders, and
// the regions touch the volumes' faces, so the scalar edges and tails run
// too.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/isa.h"
#include "support/wider_isas.h"
#include "vekcore.h"
#include "vekr.h"

namespace {

using vekr::Isa;

uint64_t fnv1a(const std::vector<uint8_t>& bytes)
{
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
    return h;
}

// A volume in one block with evenly spaced planes, a margin of voxels on
// every side (the filter reads around its destination) and padded rows.
template <class T>
struct Block {
    Block(int w, int h, int d, int margin = 0) : w(w), h(h), d(d), m(margin), pitch(w + 2 * margin + 5),
        planeElems(static_cast<size_t>(pitch) * (h + 2 * margin)), data(planeElems * (d + 2 * margin))
    {
        for (int z = 0; z < d + 2 * margin; ++z) ptr.push_back(data.data() + z * planeElems + margin * pitch + margin);
        for (T* p : ptr) cptr.push_back(p);
    }
    T* const* planes() { return ptr.data() + m; }
    const T* const* cplanes() const { return cptr.data() + m; }
    int32_t step() const { return static_cast<int32_t>(pitch * sizeof(T)); }
    int32_t planeStep() const { return static_cast<int32_t>(planeElems * sizeof(T)); }
    VekrVolume extent() const { return VekrVolume{w, h, d}; }
    std::vector<uint8_t> bytes() const
    {
        std::vector<uint8_t> b(data.size() * sizeof(T));
        std::memcpy(b.data(), data.data(), b.size());
        return b;
    }
    template <class Gen>
    void fill(Gen&& gen)
    {
        for (T& v : data) v = gen();
    }
    int w, h, d, m, pitch;
    size_t planeElems;
    std::vector<T> data;
    std::vector<T*> ptr;
    std::vector<const T*> cptr;
};

template <class T>
T noise(std::mt19937& rng)
{
    if constexpr (std::is_same_v<T, float>) return std::uniform_real_distribution<float>(-0.25f, 1.25f)(rng);
    else if constexpr (std::is_same_v<T, uint8_t>) return static_cast<T>(rng() & 0xFF);
    else if constexpr (std::is_same_v<T, uint16_t>) return static_cast<T>(rng() & 0xFFFF);
    else return static_cast<T>(static_cast<int32_t>(rng() % 4096) - 2048);
}

class IsaIdentity : public ::testing::Test {
public:
    void SetUp() override
    {
        if (wider_.empty()) GTEST_SKIP() << "this processor has no AVX2";
        before_ = vekr::activeIsa();
    }
    void TearDown() override
    {
        if (!wider_.empty()) vekr::useIsaForTesting(before_);
    }

    // run() makes the calls and returns every byte they may have written.
    void expectSameUnderEverySet(const std::string& what, const std::function<std::vector<uint8_t>()>& run)
    {
        ASSERT_TRUE(vekr::useIsaForTesting(Isa::Sse3));
        const std::vector<uint8_t> narrow = run();
        const uint64_t narrowHash = fnv1a(narrow);
        for (Isa isa : wider_) {
            ASSERT_TRUE(vekr::useIsaForTesting(isa));
            const std::vector<uint8_t> wide = run();
            ASSERT_EQ(narrow.size(), wide.size()) << what;
            if (narrowHash == fnv1a(wide)) continue;
            size_t i = 0;
            while (i < narrow.size() && narrow[i] == wide[i]) ++i;
            ADD_FAILURE() << what << ": sse3 and " << vekr::isaName(isa) << " outputs differ, first at byte " << i
                          << " of " << narrow.size();
        }
    }

    const std::vector<Isa> wider_ = widerIsas();
    Isa before_ = Isa::Sse3;
};

const int kAllModes[] = {vekInterNearest, vekInterLinear, vekInterLagrange, vekInterBSpline, vekInterCatmullRom,
                         vekInterBlendCubic};

struct Scale {
    double f[3], s[3];
};
// Enlargement, reduction (with the exact halving of the linear fast path),
// and mixed factors with shifts.
const Scale kScales[] = {
    {{2.0, 2.0, 2.0}, {0.0, 0.0, 0.0}},
    {{0.5, 0.5, 0.5}, {0.0, 0.0, 0.0}},
    {{1.7, 0.6, 2.3}, {0.3, -1.2, 0.8}},
    {{0.45, 3.1, 1.0}, {-0.7, 0.25, 0.0}},
};

template <class T>
void resizeCases(IsaIdentity& t, const char* type)
{
    std::mt19937 rng(0xA5A5);
    Block<T> src(37, 29, 13);
    src.fill([&] { return noise<T>(rng); });
    const VekrCuboid srcVoi{0, 0, 0, 37, 29, 13};
    for (const Scale& s : kScales)
        for (int mode : kAllModes)
            for (bool planar : {true, false}) {
                const VekrCuboid dstVoi{1, 0, 2, 67, 41, 21};
                t.expectSameUnderEverySet(std::string("resize ") + type + (planar ? " C1PV" : " C1V") + " mode " +
                                              std::to_string(mode) + " factor " + std::to_string(s.f[0]),
                                          [&] {
                                              Block<T> dst(70, 43, 24);
                                              dst.fill([] { return T(7); });
                                              int32_t size = 0;
                                              EXPECT_EQ(vekrResizeGetBufSize(srcVoi, dstVoi, 1, mode, &size), 0);
                                              std::vector<uint8_t> buffer(static_cast<size_t>(size) + 64);
                                              VekStatus st;
                                              if constexpr (std::is_same_v<T, uint8_t>) {
                                                  st = planar ? vekrResize_8u_C1PV(src.cplanes(), src.extent(), src.step(), srcVoi, dst.planes(), dst.step(), dstVoi, s.f[0], s.f[1], s.f[2], s.s[0], s.s[1], s.s[2], mode, buffer.data())
                                                              : vekrResize_8u_C1V(src.cplanes()[0], src.extent(), src.step(), src.planeStep(), srcVoi, dst.planes()[0], dst.step(), dst.planeStep(), dstVoi, s.f[0], s.f[1], s.f[2], s.s[0], s.s[1], s.s[2], mode, buffer.data());
                                              } else if constexpr (std::is_same_v<T, uint16_t>) {
                                                  st = planar ? vekrResize_16u_C1PV(src.cplanes(), src.extent(), src.step(), srcVoi, dst.planes(), dst.step(), dstVoi, s.f[0], s.f[1], s.f[2], s.s[0], s.s[1], s.s[2], mode, buffer.data())
                                                              : vekrResize_16u_C1V(src.cplanes()[0], src.extent(), src.step(), src.planeStep(), srcVoi, dst.planes()[0], dst.step(), dst.planeStep(), dstVoi, s.f[0], s.f[1], s.f[2], s.s[0], s.s[1], s.s[2], mode, buffer.data());
                                              } else {
                                                  st = planar ? vekrResize_32f_C1PV(src.cplanes(), src.extent(), src.step(), srcVoi, dst.planes(), dst.step(), dstVoi, s.f[0], s.f[1], s.f[2], s.s[0], s.s[1], s.s[2], mode, buffer.data())
                                                              : vekrResize_32f_C1V(src.cplanes()[0], src.extent(), src.step(), src.planeStep(), srcVoi, dst.planes()[0], dst.step(), dst.planeStep(), dstVoi, s.f[0], s.f[1], s.f[2], s.s[0], s.s[1], s.s[2], mode, buffer.data());
                                              }
                                              EXPECT_EQ(st, vekStsOk);
                                              return dst.bytes();
                                          });
            }
}

TEST_F(IsaIdentity, ResizeEveryTypeLayoutModeAndScale)
{
    resizeCases<uint8_t>(*this, "8u");
    resizeCases<uint16_t>(*this, "16u");
    resizeCases<float>(*this, "32f");
}

// Forward transforms: a rotation about z around the centre (the standard
// warp workload), and a sheared, scaled one that moves every axis along a
// destination row.
const double kTransforms[2][12] = {
    {0.8660254037844386, -0.5, 0.0, 9.7, 0.5, 0.8660254037844386, 0.0, -6.1, 0.0, 0.0, 1.0, 0.0},
    {0.93, 0.21, -0.05, 2.5, -0.12, 1.07, 0.18, 1.25, 0.09, -0.11, 0.97, 0.75},
};

template <class T>
VekStatus warp(Block<T>& src, const VekrCuboid& srcVoi, Block<T>& dst, const VekrCuboid& dstVoi, const double* m,
               int mode)
{
    if constexpr (std::is_same_v<T, uint8_t>)
        return vekrWarpAffine_8u_C1PV(src.cplanes(), src.extent(), src.step(), srcVoi, dst.planes(), dst.step(), dstVoi, m, mode, nullptr);
    else if constexpr (std::is_same_v<T, uint16_t>)
        return vekrWarpAffine_16u_C1PV(src.cplanes(), src.extent(), src.step(), srcVoi, dst.planes(), dst.step(), dstVoi, m, mode, nullptr);
    else
        return vekrWarpAffine_32f_C1PV(src.cplanes(), src.extent(), src.step(), srcVoi, dst.planes(), dst.step(), dstVoi, m, mode, nullptr);
}

template <class T>
VekStatus remap(Block<T>& src, const VekrCuboid& srcVoi, Block<float>* maps, Block<T>& dst, int mode)
{
    const float* const* mx = maps[0].cplanes();
    const float* const* my = maps[1].cplanes();
    const float* const* mz = maps[2].cplanes();
    if constexpr (std::is_same_v<T, uint8_t>)
        return vekrRemap_8u_C1PV(src.cplanes(), src.extent(), src.step(), srcVoi, mx, my, mz, maps[0].step(), dst.planes(), dst.step(), dst.extent(), mode);
    else if constexpr (std::is_same_v<T, uint16_t>)
        return vekrRemap_16u_C1PV(src.cplanes(), src.extent(), src.step(), srcVoi, mx, my, mz, maps[0].step(), dst.planes(), dst.step(), dst.extent(), mode);
    else
        return vekrRemap_32f_C1PV(src.cplanes(), src.extent(), src.step(), srcVoi, mx, my, mz, maps[0].step(), dst.planes(), dst.step(), dst.extent(), mode);
}

template <class T>
void samplingCases(IsaIdentity& t, const char* type)
{
    std::mt19937 rng(0x5A5A);
    Block<T> src(35, 27, 19);
    src.fill([&] { return noise<T>(rng); });
    const VekrCuboid srcVoi{2, 1, 0, 31, 26, 19};
    // Maps: smooth displacements with some positions outside the box and on
    // its faces.
    Block<float> maps[3] = {Block<float>(37, 22, 17), Block<float>(37, 22, 17), Block<float>(37, 22, 17)};
    for (int z = 0; z < 17; ++z)
        for (int y = 0; y < 22; ++y)
            for (int x = 0; x < 37; ++x) {
                const ptrdiff_t i = static_cast<ptrdiff_t>(y) * maps[0].pitch + x;
                maps[0].planes()[z][i] = static_cast<float>(x * 0.93 + 2.0 * std::sin(0.3 * y));
                maps[1].planes()[z][i] = static_cast<float>(y * 1.1 + 1.5 * std::sin(0.2 * z) - 0.5);
                maps[2].planes()[z][i] = (x + y + z) % 23 == 0 ? 18.0f : static_cast<float>(z + std::cos(0.25 * x));
            }
    for (int mode : kAllModes) {
        for (int k = 0; k < 2; ++k) {
            t.expectSameUnderEverySet(std::string("warp ") + type + " mode " + std::to_string(mode) + " transform " +
                                          std::to_string(k),
                                      [&] {
                                          Block<T> dst(41, 33, 21);
                                          dst.fill([] { return T(3); });
                                          EXPECT_EQ(warp(src, srcVoi, dst, VekrCuboid{1, 2, 0, 39, 30, 21},
                                                         kTransforms[k], mode),
                                                    vekStsOk);
                                          return dst.bytes();
                                      });
        }
        t.expectSameUnderEverySet(std::string("remap ") + type + " mode " + std::to_string(mode), [&] {
            Block<T> dst(37, 22, 17);
            dst.fill([] { return T(5); });
            EXPECT_EQ(remap(src, srcVoi, maps, dst, mode), vekStsOk);
            return dst.bytes();
        });
    }
}

TEST_F(IsaIdentity, WarpAndRemapEveryTypeAndMode)
{
    samplingCases<uint8_t>(*this, "8u");
    samplingCases<uint16_t>(*this, "16u");
    samplingCases<float>(*this, "32f");
}

// Kernels: both common cubes with power-of-two divisors (the narrow path),
// an odd shape with a general divisor, and coefficients too large for 32-bit
// lanes (the wide path) with divisors 1 and -3.
TEST_F(IsaIdentity, FilterEveryShapePathAndDivisorClass)
{
    std::mt19937 rng(0x16);
    Block<int16_t> src(67, 21, 15, 3);
    src.fill([&] { return noise<int16_t>(rng); });
    struct Case {
        VekrVolume shape;
        VekrPoint anchor;
        int32_t divisor;
        int32_t coeffLimit;
    };
    const Case cases[] = {
        {{3, 3, 3}, {1, 1, 1}, 64, 9},       {{5, 5, 5}, {2, 2, 2}, 4096, 9},  {{3, 2, 4}, {1, 0, 2}, 7, 40},
        {{5, 5, 5}, {2, 2, 2}, 1, 60000},    {{3, 3, 3}, {0, 2, 1}, -3, 70000}, {{1, 1, 1}, {0, 0, 0}, 1, 1},
        {{7, 3, 3}, {3, 1, 1}, 2, 200},
    };
    for (const Case& c : cases) {
        std::vector<int32_t> kernel(static_cast<size_t>(c.shape.width) * c.shape.height * c.shape.depth);
        for (int32_t& k : kernel) k = static_cast<int32_t>(rng() % (2u * c.coeffLimit + 1)) - c.coeffLimit;
        expectSameUnderEverySet("filter " + std::to_string(c.shape.width) + "x" + std::to_string(c.shape.height) +
                                    "x" + std::to_string(c.shape.depth) + " divisor " + std::to_string(c.divisor),
                                [&] {
                                    Block<int16_t> dst(65, 19, 13);
                                    dst.fill([] { return int16_t(-9); });
                                    EXPECT_EQ(vekrFilter_16s_C1PV(src.cplanes(), src.step(), dst.planes(),
                                                                  dst.step(), VekrVolume{61, 19, 12}, kernel.data(),
                                                                  c.shape, c.anchor, c.divisor, nullptr),
                                              vekStsOk);
                                    return dst.bytes();
                                });
    }
}

// The recurrence basis at every order, for counts that leave every
// remainder of 4, 8 and 16 directions.
TEST_F(IsaIdentity, RecurrenceBasisEveryOrderAndCount)
{
    std::mt19937 rng(0x5E);
    std::normal_distribution<float> g;
    const int n = 77;
    std::vector<float> x(n), y(n), z(n);
    for (int i = 0; i < n; ++i) {
        const float a = g(rng), b = g(rng), c = g(rng);
        const float r = std::sqrt(a * a + b * b + c * c);
        x[i] = a / r, y[i] = b / r, z[i] = c / r;
    }
    int32_t size = 0;
    ASSERT_EQ(vekrSHGetSize_32f(15, 1, &size), vekStsOk);
    std::vector<float> storage(static_cast<size_t>(size) / sizeof(float) + 8);
    auto* state = reinterpret_cast<VekrSHState*>(
        (reinterpret_cast<uintptr_t>(storage.data()) + 15) & ~static_cast<uintptr_t>(15));
    ASSERT_EQ(vekrSHInit_32f(state, 15, 1), vekStsOk);
    for (uint32_t order = 0; order <= 15; ++order)
        for (int count : {1, 4, 7, 8, 12, 16, 23, 32, 45, 77}) {
            expectSameUnderEverySet("SH order " + std::to_string(order) + " count " + std::to_string(count), [&] {
                std::vector<float> out(static_cast<size_t>(count) * (order + 1) * (order + 1), -3.0f);
                EXPECT_EQ(vekrSH_32f(x.data(), y.data(), z.data(), count, out.data(), order, state), vekStsOk);
                std::vector<uint8_t> b(out.size() * sizeof(float));
                std::memcpy(b.data(), out.data(), b.size());
                return b;
            });
        }
}

// The environment's cap holds: under VEKR_ISA=sse3 (the second run of the
// suite) the process runs the SSE3 kernels, under VEKR_ISA=avx2 (a run of
// this test alone) at most the AVX2 ones, otherwise the widest it has.
TEST(Isa, ActiveSetFollowsProcessorAndEnvironment)
{
    const char* cap = std::getenv("VEKR_ISA");
    const std::string capName = cap ? cap : "";
    Isa expected = vekr::widestSupportedIsa();
    if (capName == "sse3") expected = Isa::Sse3;
    if (capName == "avx2" && expected == Isa::Avx512) expected = Isa::Avx2;
    EXPECT_EQ(vekr::activeIsa(), expected) << (cap ? cap : "(unset)");
    EXPECT_TRUE(vekr::isaSupported(Isa::Sse3));
    // The sets are ordered: a processor that runs one runs every narrower one.
    for (int i = 1; i < vekr::kIsaCount; ++i) {
        if (vekr::isaSupported(static_cast<Isa>(i))) {
            EXPECT_TRUE(vekr::isaSupported(static_cast<Isa>(i - 1))) << vekr::isaName(static_cast<Isa>(i));
        }
    }
    EXPECT_STREQ(vekr::isaName(Isa::Sse3), "sse3");
    EXPECT_STREQ(vekr::isaName(Isa::Avx2), "avx2");
    EXPECT_STREQ(vekr::isaName(Isa::Avx512), "avx512");
}

}  // namespace
