// Every export that opens an OpenMP region, called from several application
// threads at once, each with its own outputs, must give exactly what the
// same call gives alone: the exports keep no state between or across calls,
// and a team of one call must never touch another's outputs. The same
// calls run alone first (same thread count, so the same work split) as the
// reference. Run under ThreadSanitizer (preset tsan) this also checks the
// regions themselves for unsynchronised accesses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/alloc_hook.h"
#include "support/random_scene.h"
#include "vekr.h"

namespace {

using Bytes = std::vector<unsigned char>;

template <class T>
Bytes bytesOf(const std::vector<T>& v)
{
    Bytes b(v.size() * sizeof(T));
    if (!v.empty()) std::memcpy(b.data(), v.data(), b.size());
    return b;
}

// A volume of T in one block with plane pointers; rows of `width`.
template <class T>
struct Vol {
    int w, h, d;
    std::vector<T> data;
    std::vector<T*> planes;
    Vol(int width, int height, int depth) : w(width), h(height), d(depth), data(size_t(w) * h * d), planes(d)
    {
        for (int z = 0; z < d; ++z) planes[z] = data.data() + size_t(z) * w * h;
    }
    VekrVolume extent() const { return VekrVolume{w, h, d}; }
    int32_t step() const { return int32_t(w * sizeof(T)); }
    const T* const* cplanes() const { return reinterpret_cast<const T* const*>(planes.data()); }
};

// The inputs all calls share (read only) and one call of each parallel
// export, returning its status and output bytes.
struct Workload {
    vekr_test::TriangleSoup scene = vekr_test::randomSoup(0xC0C0A001u, 3000);
    Vol<float> src32{20, 19, 18};
    Vol<uint8_t> src8{20, 19, 18};
    Vol<uint16_t> src16{20, 19, 18};
    Vol<float> mapX{17, 16, 18}, mapY{17, 16, 18}, mapZ{17, 16, 18};

    Workload()
    {
        std::mt19937 rng(0xC0C0A002u);
        std::uniform_real_distribution<float> value(-100.0f, 100.0f), pos(-1.0f, 21.0f);
        for (size_t i = 0; i < src32.data.size(); ++i) {
            src32.data[i] = value(rng);
            src8.data[i] = uint8_t(rng());
            src16.data[i] = uint16_t(rng());
        }
        for (size_t i = 0; i < mapX.data.size(); ++i)
            mapX.data[i] = pos(rng), mapY.data[i] = pos(rng), mapZ.data[i] = pos(rng);
    }

    struct Call {
        std::string name;
        std::function<Bytes(VekStatus&)> run;
    };

    std::vector<Call> calls() const
    {
        std::vector<Call> c;
        c.push_back({"TriangleNormal", [this](VekStatus& st) {
                         std::vector<float> n(3 * size_t(scene.triangleCount()));
                         st = vekrTriangleNormal_32f(scene.vertices.data(), scene.triangles.data(), n.data(),
                                                     scene.triangleCount());
                         return bytesOf(n);
                     }});
        c.push_back({"KDTreeBuildSAH", [this](VekStatus& st) {
                         const VekrKDTreeBuildParams p{vekrKDTreeBuildSAH, 30, 0.5f, 256, nullptr};
                         VekrKDTreeNode* tree = nullptr;
                         int32_t size = 0;
                         st = vekrKDTreeBuildAlloc(&tree, scene.vertices.data(), scene.triangles.data(),
                                                   scene.vertexCount(), scene.triangleCount(), &size, &p);
                         Bytes b;
                         if (st == vekStsOk) {
                             b.assign(reinterpret_cast<unsigned char*>(tree),
                                      reinterpret_cast<unsigned char*>(tree) + size);
                             vekrKDTreeFree(tree);
                         }
                         return b;
                     }});
        for (int mode : {vekInterLinear, vekInterCatmullRom}) {
            c.push_back({"Resize_32f_C1V mode " + std::to_string(mode), [this, mode](VekStatus& st) {
                             const VekrCuboid srcVoi{0, 0, 0, src32.w, src32.h, src32.d};
                             const VekrCuboid dstVoi{1, 0, 2, 27, 25, 22};
                             int32_t bufSize = 0;
                             st = vekrResizeGetBufSize(srcVoi, dstVoi, 1, mode, &bufSize);
                             if (st != vekStsOk) return Bytes();
                             Bytes buffer(static_cast<size_t>(bufSize));
                             std::vector<float> dst(28 * 25 * 24, -7.0f);
                             st = vekrResize_32f_C1V(src32.data.data(), src32.extent(), src32.step(),
                                                     src32.step() * src32.h, srcVoi, dst.data(), 28 * 4, 28 * 25 * 4,
                                                     dstVoi, 1.4, 1.3, 1.25, -0.5, 0.25, 0.75, mode, buffer.data());
                             return bytesOf(dst);
                         }});
        }
        for (int mode : {vekInterNearest, vekInterLinear, vekInterLagrange}) {
            const std::string m = " mode " + std::to_string(mode);
            c.push_back({"WarpAffine_8u" + m, [this, mode](VekStatus& st) {
                             return warp(src8, mode, st);
                         }});
            c.push_back({"WarpAffine_16u" + m, [this, mode](VekStatus& st) {
                             return warp(src16, mode, st);
                         }});
            c.push_back({"WarpAffine_32f" + m, [this, mode](VekStatus& st) {
                             return warp(src32, mode, st);
                         }});
            c.push_back({"Remap_8u" + m, [this, mode](VekStatus& st) { return remap(src8, mode, st); }});
            c.push_back({"Remap_16u" + m, [this, mode](VekStatus& st) { return remap(src16, mode, st); }});
            c.push_back({"Remap_32f" + m, [this, mode](VekStatus& st) { return remap(src32, mode, st); }});
        }
        return c;
    }

    template <class T>
    Bytes warp(const Vol<T>& src, int mode, VekStatus& st) const
    {
        // A rotation about z with a scale and a shift.
        static const double coeffs[12] = {0.9, -0.3, 0.0, 2.0, 0.35, 0.85, 0.05, -1.0, 0.0, 0.1, 1.1, 0.5};
        Vol<T> dst(19, 18, 17);
        const VekrCuboid srcVoi{1, 0, 0, src.w - 1, src.h, src.d}, dstVoi{0, 1, 0, 19, 17, 17};
        st = vekrWarpAffine_C1PV(src.cplanes(), src.extent(), src.step(), srcVoi, dst.planes.data(), dst.step(),
                                 dstVoi, coeffs, mode);
        return bytesOf(dst.data);
    }

    template <class T>
    Bytes remap(const Vol<T>& src, int mode, VekStatus& st) const
    {
        Vol<T> dst(mapX.w, mapX.h, mapX.d);
        const VekrCuboid srcVoi{0, 1, 0, src.w, src.h - 1, src.d};
        st = vekrRemap_C1PV(src.cplanes(), src.extent(), src.step(), srcVoi, mapX.cplanes(), mapY.cplanes(),
                            mapZ.cplanes(), mapX.step(), dst.planes.data(), dst.step(), dst.extent(), mode);
        return bytesOf(dst.data);
    }

    static VekStatus vekrWarpAffine_C1PV(const uint8_t* const* s, VekrVolume v, int32_t ss, VekrCuboid sv,
                                         uint8_t* const* d, int32_t ds, VekrCuboid dv, const double* c, int m)
    {
        return vekrWarpAffine_8u_C1PV(s, v, ss, sv, d, ds, dv, c, m, nullptr);
    }
    static VekStatus vekrWarpAffine_C1PV(const uint16_t* const* s, VekrVolume v, int32_t ss, VekrCuboid sv,
                                         uint16_t* const* d, int32_t ds, VekrCuboid dv, const double* c, int m)
    {
        return vekrWarpAffine_16u_C1PV(s, v, ss, sv, d, ds, dv, c, m, nullptr);
    }
    static VekStatus vekrWarpAffine_C1PV(const float* const* s, VekrVolume v, int32_t ss, VekrCuboid sv,
                                         float* const* d, int32_t ds, VekrCuboid dv, const double* c, int m)
    {
        return vekrWarpAffine_32f_C1PV(s, v, ss, sv, d, ds, dv, c, m, nullptr);
    }
    template <class... A>
    static VekStatus vekrRemap_C1PV(const uint8_t* const* s, A... a)
    {
        return vekrRemap_8u_C1PV(s, a...);
    }
    template <class... A>
    static VekStatus vekrRemap_C1PV(const uint16_t* const* s, A... a)
    {
        return vekrRemap_16u_C1PV(s, a...);
    }
    template <class... A>
    static VekStatus vekrRemap_C1PV(const float* const* s, A... a)
    {
        return vekrRemap_32f_C1PV(s, a...);
    }
};

}  // namespace

// Four application threads each run every parallel export twice, in an
// order of their own, while the others do the same; at 2 and 3 OpenMP
// threads per call (the SAH split search always asks for 3 or 2).
TEST(ConcurrentCalls, ParallelExportsFromSeveralThreadsMatchSerialCalls)
{
    const Workload w;
    const std::vector<Workload::Call> calls = w.calls();
    for (int ompThreads : {2, 3}) {
        vekr_test::ScopedThreads threads(ompThreads);
        std::vector<Bytes> reference(calls.size());
        for (size_t i = 0; i < calls.size(); ++i) {
            VekStatus st = -1000;
            reference[i] = calls[i].run(st);
            ASSERT_EQ(st, vekStsOk) << calls[i].name;
            ASSERT_FALSE(reference[i].empty()) << calls[i].name;
        }

        constexpr int kAppThreads = 4;
        std::vector<std::vector<std::string>> mismatches(kAppThreads);
        std::vector<std::thread> pool;
        for (int t = 0; t < kAppThreads; ++t) {
            pool.emplace_back([&, t] {
                std::vector<size_t> order(calls.size());
                for (size_t i = 0; i < order.size(); ++i) order[i] = i;
                std::shuffle(order.begin(), order.end(), std::mt19937(0xC0C0A010u + t));
                for (int round = 0; round < 2; ++round)
                    for (size_t i : order) {
                        VekStatus st = -1000;
                        const Bytes got = calls[i].run(st);
                        if (st != vekStsOk || got != reference[i])
                            mismatches[t].push_back(calls[i].name + " (status " + std::to_string(st) + ")");
                    }
            });
        }
        for (std::thread& th : pool) th.join();
        for (int t = 0; t < kAppThreads; ++t)
            EXPECT_TRUE(mismatches[t].empty()) << "OpenMP threads " << ompThreads << ", application thread " << t
                                               << ": first mismatch " << mismatches[t].front();
    }
}
