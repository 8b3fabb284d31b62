// Bindings of the volume exports: resize, affine warp, remap and the signed
// 16-bit filter.
//
// Every function takes index tuples in numpy order (z, y, x) and regions as
// (z, y, x, depth, height, width), and hands the library absolute indices:
// a source or destination array may be a region of a larger volume whose
// first voxel sits at `origin`, which is how the Dask module computes one
// block at a time. The element type follows the source array's dtype.
#include <pybind11/stl.h>

#include <array>
#include <optional>
#include <cstdlib>
#include <memory>

#include "binding_support.h"

namespace vekr_python {

namespace {

using Index3 = std::array<int64_t, 3>;  // z, y, x
using Region = std::array<int64_t, 6>;  // z, y, x, depth, height, width

int32_t narrow(int64_t v, const char* what)
{
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        fail(std::string(what) + ": value out of the 32-bit range");
    return static_cast<int32_t>(v);
}

VekrVolume toVolume(const Index3& e, const char* what)
{
    return VekrVolume{narrow(e[2], what), narrow(e[1], what), narrow(e[0], what)};
}

VekrCuboid toCuboid(const Region& r, const char* what)
{
    return VekrCuboid{narrow(r[2], what), narrow(r[1], what), narrow(r[0], what),
                      narrow(r[5], what), narrow(r[4], what), narrow(r[3], what)};
}

template <class T>
Index3 arrayEnd(const VolumeView<T>& v)
{
    return Index3{int64_t(v.oz) + v.depth, int64_t(v.oy) + v.height, int64_t(v.ox) + v.width};
}

// A destination region must lie inside the destination array: the library
// writes wherever the region says.
template <class T>
void requireInside(const VolumeView<T>& v, const VekrCuboid& r, const char* what)
{
    if (r.width < 1 || r.height < 1 || r.depth < 1 || r.x < 0 || r.y < 0 || r.z < 0) return;  // the library reports those
    if (r.x < v.ox || r.y < v.oy || r.z < v.oz || int64_t(r.x) + r.width > int64_t(v.ox) + v.width ||
        int64_t(r.y) + r.height > int64_t(v.oy) + v.height || int64_t(r.z) + r.depth > int64_t(v.oz) + v.depth)
        fail(std::string(what) + ": region reaches outside the destination array");
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

template <class T>
struct Exports;
template <>
struct Exports<uint8_t> {
    static constexpr auto resizePV = vekrResize_8u_C1PV;
    static constexpr auto resizeV = vekrResize_8u_C1V;
    static constexpr auto warp = vekrWarpAffine_8u_C1PV;
    static constexpr auto remap = vekrRemap_8u_C1PV;
    static constexpr const char* suffix = "8u";
};
template <>
struct Exports<uint16_t> {
    static constexpr auto resizePV = vekrResize_16u_C1PV;
    static constexpr auto resizeV = vekrResize_16u_C1V;
    static constexpr auto warp = vekrWarpAffine_16u_C1PV;
    static constexpr auto remap = vekrRemap_16u_C1PV;
    static constexpr const char* suffix = "16u";
};
template <>
struct Exports<float> {
    static constexpr auto resizePV = vekrResize_32f_C1PV;
    static constexpr auto resizeV = vekrResize_32f_C1V;
    static constexpr auto warp = vekrWarpAffine_32f_C1PV;
    static constexpr auto remap = vekrRemap_32f_C1PV;
    static constexpr const char* suffix = "32f";
};

// The source volume the library sees. Without a stated extent it is the
// array itself, which must then start at voxel 0. With one, the array holds
// a region (a block with its halo) of a volume of that extent: the library
// only reads around the positions it samples, with taps clamped to the
// whole volume, so a halo wide enough for the kernel is all it touches.
// Plane pointers cover every plane of the extent so that a halo too short
// gives wrong values, never a wild pointer.
template <class T>
VekrVolume sourceVolume(VolumeView<T>& src, const std::optional<Index3>& extent)
{
    if (!extent) {
        if (src.oz != 0 || src.oy != 0 || src.ox != 0)
            fail("src_origin: a source region needs src_extent, the extent of the whole volume");
        return VekrVolume{src.width, src.height, src.depth};
    }
    const VekrVolume v = toVolume(*extent, "src_extent");
    if (v.depth > 0) src.coverPlanes(v.depth);
    return v;
}

VekrCuboid sourceRegion(const VekrVolume& volume, const std::optional<Region>& voi)
{
    return voi ? toCuboid(*voi, "src_voi") : VekrCuboid{0, 0, 0, volume.width, volume.height, volume.depth};
}

template <class T>
VekrCuboid destinationRegion(const VolumeView<T>& dst, const std::optional<Region>& voi)
{
    const VekrCuboid r =
        voi ? toCuboid(*voi, "dst_voi") : VekrCuboid{dst.ox, dst.oy, dst.oz, dst.width, dst.height, dst.depth};
    requireInside(dst, r, "dst_voi");
    return r;
}

using Double3 = std::array<double, 3>;  // z, y, x

template <class T>
VekStatus resizeTyped(py::handle srcObj, py::handle srcOrigin, const std::optional<Index3>& srcExtent,
                      const std::optional<Region>& srcVoi, py::handle dstObj, py::handle dstOrigin,
                      const std::optional<Region>& dstVoi, const Double3& f, const Double3& sh, int mode, int threads)
{
    VolumeView<T> src = viewVolume<T>(srcObj, srcOrigin, "src", false);
    VolumeView<T> dst = viewVolume<T>(dstObj, dstOrigin, "dst", true);
    const VekrVolume volume = sourceVolume(src, srcExtent);
    const VekrCuboid sv = sourceRegion(volume, srcVoi);
    const VekrCuboid dv = destinationRegion(dst, dstVoi);
    // Arrays with equally spaced planes take the contiguous layout (the
    // float one runs on several threads); sequences of planes the other.
    const bool contiguous = src.uniform && dst.uniform;
    const std::string name = std::string("vekrResize_") + Exports<T>::suffix + (contiguous ? "_C1V" : "_C1PV");
    auto run = [&](uint8_t* buffer) {
        if (contiguous)
            return Exports<T>::resizeV(src.origin0(), volume, src.rowStep, static_cast<int32_t>(src.planeStep), sv,
                                       dst.origin0(), dst.rowStep, static_cast<int32_t>(dst.planeStep), dv, f[2], f[1],
                                       f[0], sh[2], sh[1], sh[0], mode, buffer);
        return Exports<T>::resizePV(src.planePointers(), volume, src.rowStep, sv, dst.planePointers(), dst.rowStep, dv,
                                    f[2], f[1], f[0], sh[2], sh[1], sh[0], mode, buffer);
    };
    // The scratch buffer is sized by the query under the same thread count
    // as the call. When the query refuses, the call refuses too (it makes
    // the same checks among others), so it runs with a token buffer to
    // report its own first failing check.
    return callLibrary(name.c_str(), threads, [&]() -> VekStatus {
        int32_t bytes = 0;
        alignas(64) uint8_t token[64];
        if (vekrResizeGetBufSize(sv, dv, 1, mode, &bytes) != vekStsOk) return run(token);
        std::unique_ptr<uint8_t, FreeDeleter> buffer(
            static_cast<uint8_t*>(std::aligned_alloc(64, (static_cast<size_t>(bytes) + 127u) & ~size_t(63))));
        if (!buffer) return vekStsNoMemErr;
        return run(buffer.get());
    });
}

template <class T>
VekStatus warpTyped(py::handle srcObj, py::handle srcOrigin, const std::optional<Index3>& srcExtent,
                    const std::optional<Region>& srcVoi, py::handle dstObj, py::handle dstOrigin,
                    const std::optional<Region>& dstVoi, const std::array<double, 12>& coeffs, int mode, int threads)
{
    VolumeView<T> src = viewVolume<T>(srcObj, srcOrigin, "src", false);
    VolumeView<T> dst = viewVolume<T>(dstObj, dstOrigin, "dst", true);
    const VekrVolume volume = sourceVolume(src, srcExtent);
    const VekrCuboid sv = sourceRegion(volume, srcVoi);
    const VekrCuboid dv = destinationRegion(dst, dstVoi);
    const std::string name = std::string("vekrWarpAffine_") + Exports<T>::suffix + "_C1PV";
    return callLibrary(name.c_str(), threads, [&] {
        return Exports<T>::warp(src.planePointers(), volume, src.rowStep, sv, dst.planePointers(), dst.rowStep, dv,
                                coeffs.data(), mode, nullptr);
    });
}

template <class T>
VekStatus remapTyped(py::handle srcObj, py::handle srcOrigin, const std::optional<Index3>& srcExtent,
                     const std::optional<Region>& srcVoi, py::handle zmapObj, py::handle ymapObj, py::handle xmapObj,
                     py::handle dstObj, int mode, int threads)
{
    VolumeView<T> src = viewVolume<T>(srcObj, srcOrigin, "src", false);
    VolumeView<T> dst = viewVolume<T>(dstObj, py::none(), "dst", true);
    const VolumeView<float> zm = viewVolume<float>(zmapObj, py::none(), "zmap", false);
    const VolumeView<float> ym = viewVolume<float>(ymapObj, py::none(), "ymap", false);
    const VolumeView<float> xm = viewVolume<float>(xmapObj, py::none(), "xmap", false);
    for (const VolumeView<float>* m : {&zm, &ym, &xm})
        if (m->depth != dst.depth || m->height != dst.height || m->width != dst.width)
            fail("maps: each map must have the destination's shape");
    if (ym.rowStep != xm.rowStep || zm.rowStep != xm.rowStep)
        fail("maps: the three maps must share one row stride (the library takes one)");
    const VekrVolume volume = sourceVolume(src, srcExtent);
    const VekrCuboid sv = sourceRegion(volume, srcVoi);
    const std::string name = std::string("vekrRemap_") + Exports<T>::suffix + "_C1PV";
    return callLibrary(name.c_str(), threads, [&] {
        return Exports<T>::remap(src.planePointers(), volume, src.rowStep, sv, xm.planePointers(), ym.planePointers(),
                                 zm.planePointers(), xm.rowStep, dst.planePointers(), dst.rowStep,
                                 VekrVolume{dst.width, dst.height, dst.depth}, mode);
    });
}

// The voxel type of a volume given as an array or a sequence of planes.
std::string voxelType(py::handle obj)
{
    py::handle a = obj;
    if (!py::isinstance<py::array>(obj) && py::isinstance<py::sequence>(obj) &&
        py::reinterpret_borrow<py::sequence>(obj).size() > 0)
        a = py::reinterpret_borrow<py::sequence>(obj)[0];
    if (!py::isinstance<py::array>(a)) failType("src: expected a 3-D numpy array or a sequence of 2-D planes");
    const py::dtype dt = py::reinterpret_borrow<py::array>(a).dtype();
    return std::string(1, dt.kind()) + std::to_string(dt.itemsize());
}

template <class Body>
VekStatus byVoxelType(py::handle src, Body&& body)
{
    const std::string t = voxelType(src);
    if (t == "u1") return body(uint8_t{});
    if (t == "u2") return body(uint16_t{});
    if (t == "f4") return body(float{});
    failType("src: voxels must be uint8, uint16 or float32");
}

VekStatus filterBinding(py::handle srcObj, py::handle srcOrigin, py::handle dstObj, py::handle kernelObj,
                        const Index3& anchor, int32_t divisor)
{
    const VolumeView<int16_t> src = viewVolume<int16_t>(srcObj, srcOrigin, "src", false);
    const VolumeView<int16_t> dst = viewVolume<int16_t>(dstObj, py::none(), "dst", true);
    py::array k = checkedArray<int32_t>(kernelObj, "kernel", 3);
    if (!(k.flags() & py::array::c_style)) fail("kernel: must be C-contiguous");
    const VekrVolume kv{toInt32(k.shape(2), "kernel"), toInt32(k.shape(1), "kernel"), toInt32(k.shape(0), "kernel")};
    const VekrPoint a{narrow(anchor[2], "anchor"), narrow(anchor[1], "anchor"), narrow(anchor[0], "anchor")};
    // The filter reads planes az - (kd - 1) .. D - 1 + az (and likewise rows
    // and columns) of the source and checks none of it: the source array,
    // placed at its origin in the destination's frame, must hold them.
    if (kv.width >= 1 && kv.height >= 1 && kv.depth >= 1) {
        const int64_t need[3][2] = {{int64_t(a.z) - (kv.depth - 1), int64_t(dst.depth) - 1 + a.z},
                                    {int64_t(a.y) - (kv.height - 1), int64_t(dst.height) - 1 + a.y},
                                    {int64_t(a.x) - (kv.width - 1), int64_t(dst.width) - 1 + a.x}};
        const int64_t have[3][2] = {{src.oz, int64_t(src.oz) + src.depth - 1},
                                    {src.oy, int64_t(src.oy) + src.height - 1},
                                    {src.ox, int64_t(src.ox) + src.width - 1}};
        for (int axis = 0; axis < 3; ++axis)
            if (need[axis][0] < have[axis][0] || need[axis][1] > have[axis][1])
                fail(std::string("src: the filter reads ") + "zyx"[axis] + " from " + std::to_string(need[axis][0]) +
                     " to " + std::to_string(need[axis][1]) + " (destination frame) but the source holds " +
                     std::to_string(have[axis][0]) + " to " + std::to_string(have[axis][1]));
    }
    const int32_t* kernel = static_cast<const int32_t*>(k.data());
    return callLibrary("vekrFilter_16s_C1PV", 0, [&] {
        return vekrFilter_16s_C1PV(src.planePointers(), src.rowStep, dst.planePointers(), dst.rowStep,
                                   VekrVolume{dst.width, dst.height, dst.depth}, kernel, kv, a, divisor, nullptr);
    });
}

}  // namespace

void bindVolume(py::module_& m)
{
    using namespace pybind11::literals;
    m.def(
        "resize",
        [](py::handle src, py::handle dst, Double3 factors, Double3 shifts, int mode, py::handle srcOrigin,
           std::optional<Index3> srcExtent, std::optional<Region> srcVoi, py::handle dstOrigin,
           std::optional<Region> dstVoi, int threads) {
            return byVoxelType(src, [&](auto t) {
                return resizeTyped<decltype(t)>(src, srcOrigin, srcExtent, srcVoi, dst, dstOrigin, dstVoi, factors,
                                                shifts, mode, threads);
            });
        },
        "src"_a, "dst"_a, "factors"_a, "shifts"_a, "mode"_a, "src_origin"_a = py::none(), "src_extent"_a = py::none(),
        "src_voi"_a = py::none(), "dst_origin"_a = py::none(), "dst_voi"_a = py::none(), "threads"_a = 0,
        "vekrResize_*: resizes src into dst in place. Tuples are (z, y, x); regions (z, y, x, depth, height, "
        "width) in absolute indices. Returns the status (0, or a warning already issued).");
    m.def(
        "warp_affine",
        [](py::handle src, py::handle dst, std::array<double, 12> coeffs, int mode, py::handle srcOrigin,
           std::optional<Index3> srcExtent, std::optional<Region> srcVoi, py::handle dstOrigin,
           std::optional<Region> dstVoi, int threads) {
            return byVoxelType(src, [&](auto t) {
                return warpTyped<decltype(t)>(src, srcOrigin, srcExtent, srcVoi, dst, dstOrigin, dstVoi, coeffs, mode,
                                              threads);
            });
        },
        "src"_a, "dst"_a, "coeffs"_a, "mode"_a, "src_origin"_a = py::none(), "src_extent"_a = py::none(),
        "src_voi"_a = py::none(), "dst_origin"_a = py::none(), "dst_voi"_a = py::none(), "threads"_a = 0,
        "vekrWarpAffine_*_C1PV: coeffs is the library's forward 3 x 4 transform in (x, y, z) order, row by row.");
    m.def(
        "remap",
        [](py::handle src, py::handle zmap, py::handle ymap, py::handle xmap, py::handle dst, int mode,
           py::handle srcOrigin, std::optional<Index3> srcExtent, std::optional<Region> srcVoi, int threads) {
            return byVoxelType(src, [&](auto t) {
                return remapTyped<decltype(t)>(src, srcOrigin, srcExtent, srcVoi, zmap, ymap, xmap, dst, mode,
                                               threads);
            });
        },
        "src"_a, "zmap"_a, "ymap"_a, "xmap"_a, "dst"_a, "mode"_a, "src_origin"_a = py::none(),
        "src_extent"_a = py::none(), "src_voi"_a = py::none(), "threads"_a = 0,
        "vekrRemap_*_C1PV: dst voxel (z, y, x) samples src at (zmap, ymap, xmap)(z, y, x).");
    m.def("filter_16s", &filterBinding, "src"_a, "src_origin"_a, "dst"_a, "kernel"_a, "anchor"_a, "divisor"_a,
          "vekrFilter_16s_C1PV: src holds the padded source, its first voxel at src_origin in the destination's "
          "frame; kernel is int32 (kd, kh, kw); anchor (z, y, x).");
}

}  // namespace vekr_python
