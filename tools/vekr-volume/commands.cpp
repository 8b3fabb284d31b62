#include "commands.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "progress.h"
#include "vekcore.h"
#include "vekr.h"

namespace vekr_tool {

namespace {

std::string statusText(VekStatus s)
{
    switch (s) {
    case vekStsVoiOutsideWarn: return "the source region begins outside the volume";
    case vekStsNoVoxelsWarn: return "the result would have no voxels";
    case vekStsSizeErr: return "a size is out of range";
    case vekStsNullPtrErr: return "a required array is missing";
    case vekStsInterpolationErr: return "this interpolation is not supported here";
    case vekStsResizeFactorErr: return "resize factors must be greater than 0";
    case vekStsCoeffErr: return "the transform is degenerate or not invertible";
    case vekStsNoMemErr: return "the scratch buffer would exceed 2 GiB";
    default: return "library status " + std::to_string(s);
    }
}

void check(VekStatus s, const char* what)
{
    if (s != vekStsOk) throw ToolError(std::string(what) + " failed: " + statusText(s));
}

// Splits long work into slabs of output planes so that a progress bar can
// move; each slab is big enough for the library to run it in parallel.
template <class Fn>
void inPlaneSlabs(const char* label, int depth, bool quiet, Fn&& run)
{
    const int slab = std::max(32, (depth + 15) / 16);
    Progress progress(label, depth, !quiet && depth > slab);
    for (int z0 = 0; z0 < depth; z0 += slab) {
        const int n = std::min(slab, depth - z0);
        run(z0, n);
        progress.advance(n);
    }
}

// Warp, remap and resize take 8u, 16u and 32f voxels; others are resampled
// as float and converted back at the end.
VoxelType resamplingType(VoxelType t)
{
    return t == VoxelType::U8 || t == VoxelType::U16 ? t : VoxelType::F32;
}

// Refuses an output that cannot be held, in the type the command works in
// and in the type it is written as.
void checkOutputExtent(const Options& o, double w, double h, double d, VoxelType work, VoxelType input,
                       bool planeStep)
{
    checkExtent("the output", w, h, d, work, planeStep);
    checkExtent("the output", w, h, d, o.outputType.value_or(input));
}

// A NaN or infinite fill value only survives in float voxels; in integer
// voxels it would silently become 0 or the type's limit.
void checkFill(const Options& o, VoxelType work, VoxelType input)
{
    if (std::isfinite(o.fill)) return;
    const VoxelType out = o.outputType.value_or(input);
    if (!isFloatType(work) || !isFloatType(out))
        throw UsageError(std::string("--fill must be finite: this volume is resampled as ") + typeName(work) +
                         " and written as " + typeName(out));
}

// Converts a volume for the next step. exact: every changed voxel is worth
// a note (the input going into a narrower type); otherwise only saturated
// and NaN voxels are (a result going back to an integer type is rounded as
// a matter of course).
Volume asType(const Volume& in, VoxelType t, const char* why, bool exact = true)
{
    if (in.type == t) return in;
    Volume out;
    out.type = t;
    const size_t lossy = convertVoxels(in, out, exact);
    if (lossy > 0 && exact)
        std::fprintf(stderr, "vekr-volume: note: %zu voxels changed converting %s to %s (%s)\n", lossy,
                     typeName(in.type), typeName(t), why);
    else if (lossy > 0)
        std::fprintf(stderr,
                     "vekr-volume: note: %zu voxels outside the %s range (or NaN) saturated converting %s to %s"
                     " (%s)\n",
                     lossy, typeName(t), typeName(in.type), typeName(t), why);
    return out;
}

Volume filled(int w, int h, int d, VoxelType t, double value, const Volume& like)
{
    Volume one(1, 1, 1, VoxelType::F32);
    one.data<float>()[0] = static_cast<float>(value);
    Volume conv;
    conv.type = t;
    convertVoxels(one, conv, true);
    Volume v(w, h, d, t);
    const size_t b = voxelBytes(t);
    for (size_t i = 0; i < v.voxelCount(); ++i) std::copy_n(conv.bytes.data(), b, v.bytes.data() + i * b);
    v.header = like.header;
    return v;
}

// ---------------------------------------------------------------- exports by type

VekStatus warpCall(const uint8_t* const* s, VekrVolume sv, int32_t ss, VekrCuboid svoi, uint8_t* const* d, int32_t ds,
                   VekrCuboid dvoi, const double* a, int32_t mode)
{
    return vekrWarpAffine_8u_C1PV(s, sv, ss, svoi, d, ds, dvoi, a, mode, nullptr);
}
VekStatus warpCall(const uint16_t* const* s, VekrVolume sv, int32_t ss, VekrCuboid svoi, uint16_t* const* d,
                   int32_t ds, VekrCuboid dvoi, const double* a, int32_t mode)
{
    return vekrWarpAffine_16u_C1PV(s, sv, ss, svoi, d, ds, dvoi, a, mode, nullptr);
}
VekStatus warpCall(const float* const* s, VekrVolume sv, int32_t ss, VekrCuboid svoi, float* const* d, int32_t ds,
                   VekrCuboid dvoi, const double* a, int32_t mode)
{
    return vekrWarpAffine_32f_C1PV(s, sv, ss, svoi, d, ds, dvoi, a, mode, nullptr);
}

VekStatus remapCall(const uint8_t* const* s, VekrVolume sv, int32_t ss, VekrCuboid svoi, const float* const* mx,
                    const float* const* my, const float* const* mz, int32_t ms, uint8_t* const* d, int32_t ds,
                    VekrVolume dv, int32_t mode)
{
    return vekrRemap_8u_C1PV(s, sv, ss, svoi, mx, my, mz, ms, d, ds, dv, mode);
}
VekStatus remapCall(const uint16_t* const* s, VekrVolume sv, int32_t ss, VekrCuboid svoi, const float* const* mx,
                    const float* const* my, const float* const* mz, int32_t ms, uint16_t* const* d, int32_t ds,
                    VekrVolume dv, int32_t mode)
{
    return vekrRemap_16u_C1PV(s, sv, ss, svoi, mx, my, mz, ms, d, ds, dv, mode);
}
VekStatus remapCall(const float* const* s, VekrVolume sv, int32_t ss, VekrCuboid svoi, const float* const* mx,
                    const float* const* my, const float* const* mz, int32_t ms, float* const* d, int32_t ds,
                    VekrVolume dv, int32_t mode)
{
    return vekrRemap_32f_C1PV(s, sv, ss, svoi, mx, my, mz, ms, d, ds, dv, mode);
}

// Runs fn with a value of the voxel type of t (8u, 16u or 32f).
template <class Fn>
void withResamplingType(VoxelType t, Fn&& fn)
{
    switch (t) {
    case VoxelType::U8: fn(uint8_t{}); break;
    case VoxelType::U16: fn(uint16_t{}); break;
    default: fn(float{}); break;
    }
}

VekrVolume extentOf(const Volume& v)
{
    return VekrVolume{v.width, v.height, v.depth};
}

Result finish(const Options& o, Volume&& work, VoxelType inputType)
{
    Result r;
    const VoxelType target = o.outputType.value_or(inputType);
    r.volume = target == work.type ? std::move(work)
                                   : asType(work, target, o.outputType ? "--type" : "back to the input's type", false);
    return r;
}

// ---------------------------------------------------------------- filter kernels

struct IntKernel {
    int w = 0, h = 0, d = 0;
    std::vector<int32_t> k;
};

IntKernel separable(const std::vector<int32_t>& b)
{
    const int n = static_cast<int>(b.size());
    IntKernel k{n, n, n, std::vector<int32_t>(static_cast<size_t>(n) * n * n)};
    for (int z = 0; z < n; ++z)
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) k.k[x + n * (y + n * z)] = b[x] * b[y] * b[z];
    return k;
}

// Centre weight c, its six face neighbours f, the rest 0.
IntKernel faceStar(int32_t centre, int32_t face)
{
    IntKernel k{3, 3, 3, std::vector<int32_t>(27, 0)};
    k.k[13] = centre;
    for (int i : {4, 10, 12, 14, 16, 22}) k.k[i] = face;
    return k;
}

IntKernel namedKernel(const std::string& name)
{
    if (name == "box3") return separable({1, 1, 1});
    if (name == "box5") return separable({1, 1, 1, 1, 1});
    if (name == "binomial3") return separable({1, 2, 1});
    if (name == "binomial5") return separable({1, 4, 6, 4, 1});
    if (name == "laplacian") return faceStar(-6, 1);
    if (name == "sharpen") return faceStar(7, -1);
    throw UsageError("unknown kernel '" + name + "' (use box3, box5, binomial3, binomial5, laplacian or sharpen)");
}

IntKernel kernelFromFile(const std::string& path)
{
    std::ifstream in(path);
    if (!in) throw ToolError("cannot open kernel file '" + path + "'");
    std::vector<long long> numbers;
    std::string line;
    while (std::getline(in, line)) {
        line = line.substr(0, line.find('#'));
        std::istringstream s(line);
        std::string word;
        while (s >> word) {
            char* end = nullptr;
            const long long v = std::strtoll(word.c_str(), &end, 10);
            if (*end != '\0') throw ToolError("kernel file '" + path + "': '" + word + "' is not an integer");
            numbers.push_back(v);
        }
    }
    if (numbers.size() < 3 || numbers[0] < 1 || numbers[1] < 1 || numbers[2] < 1 || numbers[0] > 255 ||
        numbers[1] > 255 || numbers[2] > 255)
        throw ToolError("kernel file '" + path + "' must start with its extent W H D (1 to 255 each)");
    IntKernel k{static_cast<int>(numbers[0]), static_cast<int>(numbers[1]), static_cast<int>(numbers[2]), {}};
    const size_t count = static_cast<size_t>(k.w) * k.h * k.d;
    if (numbers.size() != 3 + count)
        throw ToolError("kernel file '" + path + "' holds " + std::to_string(numbers.size() - 3) +
                        " coefficients; a " + std::to_string(k.w) + "x" + std::to_string(k.h) + "x" +
                        std::to_string(k.d) + " kernel needs " + std::to_string(count));
    for (size_t i = 0; i < count; ++i) {
        const long long v = numbers[3 + i];
        if (v < -2147483647LL || v > 2147483647LL) throw ToolError("kernel coefficient out of the 32-bit range");
        k.k.push_back(static_cast<int32_t>(v));
    }
    return k;
}

int clampIndex(int i, int n)
{
    return i < 0 ? 0 : (i >= n ? n - 1 : i);
}

}  // namespace

void similarityMatrix(const Options& o, const int inSize[3], const int outSize[3], double a[12])
{
    const double pi = 3.14159265358979323846;
    double r[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    // R = Rz Ry Rx: the x rotation is applied first.
    for (int axis = 0; axis < 3; ++axis) {
        const double t = o.rotate[axis] * pi / 180.0, c = std::cos(t), s = std::sin(t);
        double q[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
        const int u = (axis + 1) % 3, v = (axis + 2) % 3;
        q[u][u] = c, q[u][v] = -s, q[v][u] = s, q[v][v] = c;
        double n[3][3];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) n[i][j] = q[i][0] * r[0][j] + q[i][1] * r[1][j] + q[i][2] * r[2][j];
        std::copy(&n[0][0], &n[0][0] + 9, &r[0][0]);
    }
    for (int i = 0; i < 3; ++i) {
        double t = (outSize[i] - 1) / 2.0 + o.translate[i];
        for (int j = 0; j < 3; ++j) {
            a[4 * i + j] = r[i][j] * o.scale[j];
            t -= a[4 * i + j] * ((inSize[j] - 1) / 2.0);
        }
        a[4 * i + 3] = t;
    }
}

// ---------------------------------------------------------------- warp

Result runWarp(const Options& o, const Volume& input)
{
    if (o.matrix && o.similarity) throw UsageError("give either --matrix or --rotate/--scale/--translate, not both");
    const int inSize[3] = {input.width, input.height, input.depth};
    const int outSize[3] = {o.size ? (*o.size)[0] : input.width, o.size ? (*o.size)[1] : input.height,
                            o.size ? (*o.size)[2] : input.depth};
    if (outSize[0] < 1 || outSize[1] < 1 || outSize[2] < 1) throw UsageError("--size must be at least 1 on every axis");
    double a[12];
    if (o.matrix) std::copy(o.matrix->begin(), o.matrix->end(), a);
    else similarityMatrix(o, inSize, outSize, a);
    checkFill(o, resamplingType(input.type), input.type);
    checkOutputExtent(o, outSize[0], outSize[1], outSize[2], resamplingType(input.type), input.type, false);

    const Volume src = asType(input, resamplingType(input.type), "resampling");
    Volume dst = filled(outSize[0], outSize[1], outSize[2], src.type, o.fill, input);
    withResamplingType(src.type, [&](auto tag) {
        using T = decltype(tag);
        const std::vector<const T*> sp = src.cplanes<T>();
        std::vector<T*> dp = dst.planes<T>();
        inPlaneSlabs("warp", dst.depth, o.quiet, [&](int z0, int n) {
            check(warpCall(sp.data(), extentOf(src), src.rowStep(), VekrCuboid{0, 0, 0, src.width, src.height, src.depth},
                           dp.data(), dst.rowStep(), VekrCuboid{0, 0, z0, dst.width, dst.height, n}, a,
                           o.interpolation),
                  "warp");
        });
    });
    return finish(o, std::move(dst), input.type);
}

// ---------------------------------------------------------------- remap

Result runRemap(const Options& o, const Volume& input)
{
    if (o.maps.size() != 3) throw UsageError("remap needs --maps X,Y,Z");
    Volume maps[3];
    for (int a = 0; a < 3; ++a) {
        maps[a] = asType(readVolume(o.maps[a], o.mapRaw ? &*o.mapRaw : nullptr), VoxelType::F32, "coordinate map");
        if (maps[a].width != maps[0].width || maps[a].height != maps[0].height || maps[a].depth != maps[0].depth)
            throw ToolError("the three maps must have one extent; '" + o.maps[a] + "' differs from '" + o.maps[0] + "'");
    }
    checkFill(o, resamplingType(input.type), input.type);
    checkOutputExtent(o, maps[0].width, maps[0].height, maps[0].depth, resamplingType(input.type), input.type, false);
    const Volume src = asType(input, resamplingType(input.type), "resampling");
    Volume dst = filled(maps[0].width, maps[0].height, maps[0].depth, src.type, o.fill, input);
    // The output lies on the maps' grid.
    dst.header = maps[0].header ? maps[0].header : input.header;
    const std::vector<const float*> mx = maps[0].cplanes<float>(), my = maps[1].cplanes<float>(),
                                    mz = maps[2].cplanes<float>();
    withResamplingType(src.type, [&](auto tag) {
        using T = decltype(tag);
        const std::vector<const T*> sp = src.cplanes<T>();
        std::vector<T*> dp = dst.planes<T>();
        inPlaneSlabs("remap", dst.depth, o.quiet, [&](int z0, int n) {
            check(remapCall(sp.data(), extentOf(src), src.rowStep(), VekrCuboid{0, 0, 0, src.width, src.height, src.depth},
                            mx.data() + z0, my.data() + z0, mz.data() + z0, maps[0].rowStep(), dp.data() + z0,
                            dst.rowStep(), VekrVolume{dst.width, dst.height, n}, o.interpolation),
                  "remap");
        });
    });
    return finish(o, std::move(dst), input.type);
}

// ---------------------------------------------------------------- filter

Result runFilter(const Options& o, const Volume& input)
{
    if (o.kernelName.empty() == o.kernelFile.empty()) throw UsageError("filter needs either --kernel or --kernel-file");
    const IntKernel k = o.kernelFile.empty() ? namedKernel(o.kernelName) : kernelFromFile(o.kernelFile);
    const std::array<int, 3> anchor = o.anchor.value_or(std::array<int, 3>{k.w / 2, k.h / 2, k.d / 2});
    if (anchor[0] < 0 || anchor[0] >= k.w || anchor[1] < 0 || anchor[1] >= k.h || anchor[2] < 0 || anchor[2] >= k.d)
        throw UsageError("--anchor must lie inside the kernel");
    int divisor = 1;
    if (o.divisor) {
        divisor = *o.divisor;
        if (divisor == 0) throw UsageError("--divisor must not be 0");
    } else {
        long long sum = 0;
        for (int32_t c : k.k) sum += c;
        if (sum != 0 && sum >= -2147483647LL && sum <= 2147483647LL) divisor = static_cast<int>(sum);
    }

    checkExtent("the input padded for the kernel", input.width + k.w - 1.0, input.height + k.h - 1.0,
                input.depth + k.d - 1.0, VoxelType::S16);
    checkOutputExtent(o, input.width, input.height, input.depth, VoxelType::S16, input.type, false);
    const Volume src = asType(input, VoxelType::S16, "the filter works on signed 16-bit voxels");
    // The source, grown by the kernel's reach with its face voxels repeated:
    // output voxel (x, y, z) reads input x + ax - i for i < kw, and so on.
    const int lo[3] = {anchor[0] - (k.w - 1), anchor[1] - (k.h - 1), anchor[2] - (k.d - 1)};
    const int pw = src.width + k.w - 1, ph = src.height + k.h - 1, pd = src.depth + k.d - 1;
    Volume padded(pw, ph, pd, VoxelType::S16);
    for (int z = 0; z < pd; ++z)
        for (int y = 0; y < ph; ++y) {
            const int16_t* row = src.data<int16_t>() +
                                 static_cast<size_t>(src.width) *
                                     (clampIndex(y + lo[1], src.height) + static_cast<size_t>(src.height) * clampIndex(z + lo[2], src.depth));
            int16_t* out = padded.data<int16_t>() + static_cast<size_t>(pw) * (y + static_cast<size_t>(ph) * z);
            for (int x = 0; x < pw; ++x) out[x] = row[clampIndex(x + lo[0], src.width)];
        }
    // Plane pointers of input planes lo[2] .. depth - 1 + anchor z, each
    // pointing at input voxel (0, 0) of its plane.
    std::vector<const int16_t*> planes(pd);
    for (int z = 0; z < pd; ++z)
        planes[z] = padded.data<int16_t>() + static_cast<size_t>(pw) * ph * z + static_cast<size_t>(pw) * (-lo[1]) - lo[0];
    const int16_t* const* pSrc = planes.data() - lo[2];

    Volume dst(src.width, src.height, src.depth, VoxelType::S16);
    dst.header = input.header;
    std::vector<int16_t*> dp = dst.planes<int16_t>();
    inPlaneSlabs("filter", dst.depth, o.quiet, [&](int z0, int n) {
        check(vekrFilter_16s_C1PV(pSrc + z0, padded.rowStep(), dp.data() + z0, dst.rowStep(),
                                  VekrVolume{dst.width, dst.height, n}, k.k.data(), VekrVolume{k.w, k.h, k.d},
                                  VekrPoint{anchor[0], anchor[1], anchor[2]}, divisor, nullptr),
              "filter");
    });
    return finish(o, std::move(dst), input.type);
}

// ---------------------------------------------------------------- resize

VekStatus resizeCall(const uint8_t* s, VekrVolume sv, int32_t ss, int32_t sps, VekrCuboid svoi, uint8_t* d, int32_t ds,
                     int32_t dps, VekrCuboid dvoi, const double* f, const double* sh, int32_t mode, uint8_t* buf)
{
    return vekrResize_8u_C1V(s, sv, ss, sps, svoi, d, ds, dps, dvoi, f[0], f[1], f[2], sh[0], sh[1], sh[2], mode, buf);
}
VekStatus resizeCall(const uint16_t* s, VekrVolume sv, int32_t ss, int32_t sps, VekrCuboid svoi, uint16_t* d,
                     int32_t ds, int32_t dps, VekrCuboid dvoi, const double* f, const double* sh, int32_t mode,
                     uint8_t* buf)
{
    return vekrResize_16u_C1V(s, sv, ss, sps, svoi, d, ds, dps, dvoi, f[0], f[1], f[2], sh[0], sh[1], sh[2], mode, buf);
}
VekStatus resizeCall(const float* s, VekrVolume sv, int32_t ss, int32_t sps, VekrCuboid svoi, float* d, int32_t ds,
                     int32_t dps, VekrCuboid dvoi, const double* f, const double* sh, int32_t mode, uint8_t* buf)
{
    return vekrResize_32f_C1V(s, sv, ss, sps, svoi, d, ds, dps, dvoi, f[0], f[1], f[2], sh[0], sh[1], sh[2], mode, buf);
}

// The resize's scratch buffer grows with the destination region's plane
// (a few floats per voxel of it) and with the thread count. Regions are cut
// into bands of rows small enough to keep it within this budget, which also
// keeps the library's 32-bit size arithmetic far from wrapping.
constexpr double kResizeScratchBudget = 256.0 * 1024 * 1024;

// The band height for destination rows of `width` voxels, and the scratch
// bytes a call on a band of `slabDepth` planes needs on the threads the
// library will use.
struct ResizeBands {
    int rows = 0;
    int32_t scratchBytes = 0;
};

ResizeBands resizeBands(const Options& o, const VekrCuboid& srcVoi, int width, int height, int slabDepth)
{
    const int threads = ownGetNumThreads();
    // The per-thread need, asked for one thread so that the library's
    // product by the thread count cannot wrap; then the count is restored.
    auto perThread = [&](int rows, int32_t* bytes) {
        vekSetNumThreads(1);
        const VekStatus s =
            vekrResizeGetBufSize(srcVoi, VekrCuboid{0, 0, 0, width, rows, slabDepth}, 1, o.interpolation, bytes);
        vekSetNumThreads(threads);
        return s;
    };
    ResizeBands b;
    for (b.rows = height;; b.rows = (b.rows + 1) / 2) {
        int32_t one = 0;
        const VekStatus s = perThread(b.rows, &one);
        if (s != vekStsOk && s != vekStsNoMemErr) check(s, "resize");
        if (s == vekStsOk && one > 0 && static_cast<double>(one) * threads <= kResizeScratchBudget) break;
        if (b.rows == 1)
            throw ToolError("the resize of rows of " + std::to_string(width) + " voxels on " + std::to_string(threads) +
                            " threads needs more than " + std::to_string(static_cast<int>(kResizeScratchBudget / 1048576)) +
                            " MiB of scratch memory; use fewer threads (--threads)");
    }
    check(vekrResizeGetBufSize(srcVoi, VekrCuboid{0, 0, 0, width, b.rows, slabDepth}, 1, o.interpolation,
                               &b.scratchBytes),
          "resize");
    return b;
}

Result runResize(const Options& o, const Volume& input)
{
    const int inSize[3] = {input.width, input.height, input.depth};
    double factor[3], extent[3];
    for (int a = 0; a < 3; ++a) {
        if (o.factors) {
            factor[a] = (*o.factors)[a];
            if (!(factor[a] > 0.0)) throw UsageError("--factor must be greater than 0");
            // In double precision, so that a huge factor is refused below
            // rather than overflowing an int.
            extent[a] = o.size ? (*o.size)[a] : std::max(1.0, std::floor(inSize[a] * factor[a] + 0.5));
        } else if (o.size) {
            extent[a] = (*o.size)[a];
            factor[a] = (*o.size)[a] / static_cast<double>(inSize[a]);
        } else {
            throw UsageError("resize needs --factor or --size");
        }
        if (extent[a] < 1) throw UsageError("--size must be at least 1 on every axis");
    }
    // The contiguous layout the resize runs on has 32-bit plane steps.
    checkOutputExtent(o, extent[0], extent[1], extent[2], resamplingType(input.type), input.type, true);
    checkExtent("the input", input.width, input.height, input.depth, resamplingType(input.type), true);
    const int outSize[3] = {static_cast<int>(extent[0]), static_cast<int>(extent[1]), static_cast<int>(extent[2])};
    const double* shift = o.shift.data();

    const Volume src = asType(input, resamplingType(input.type), "resampling");
    Volume dst(outSize[0], outSize[1], outSize[2], src.type);
    dst.header = input.header;
    const int32_t srcPlane = src.rowStep() * src.height, dstPlane = dst.rowStep() * dst.height;
    const VekrCuboid srcVoi{0, 0, 0, src.width, src.height, src.depth};
    withResamplingType(src.type, [&](auto tag) {
        using T = decltype(tag);
        // One scratch buffer, sized for the largest slab and band.
        const int slabDepth = std::min(dst.depth, std::max(32, (dst.depth + 15) / 16));
        const ResizeBands bands = resizeBands(o, srcVoi, dst.width, dst.height, slabDepth);
        std::vector<uint8_t> buffer(static_cast<size_t>(bands.scratchBytes) + 64);
        inPlaneSlabs("resize", dst.depth, o.quiet, [&](int z0, int n) {
            for (int y0 = 0; y0 < dst.height; y0 += bands.rows) {
                const int rows = std::min(bands.rows, dst.height - y0);
                const VekStatus s =
                    resizeCall(src.data<T>(), extentOf(src), src.rowStep(), srcPlane, srcVoi, dst.data<T>(),
                               dst.rowStep(), dstPlane, VekrCuboid{0, y0, z0, dst.width, rows, n}, factor, shift,
                               o.interpolation, buffer.data());
                // A region that no source voxel reaches (a large shift) stays
                // as it is.
                if (s != vekStsNoVoxelsWarn) check(s, "resize");
            }
        });
    });
    Result r = finish(o, std::move(dst), input.type);
    r.gridChanged = true;
    for (int a = 0; a < 3; ++a) {
        r.gridScale[a] = 1.0 / factor[a];
        r.gridShift[a] = 0.5 / factor[a] - 0.5 - shift[a] / factor[a];
    }
    return r;
}

}  // namespace vekr_tool
