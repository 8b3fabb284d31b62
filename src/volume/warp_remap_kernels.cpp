// The traversal kernels of the affine warp and of remap for one instruction
// set, each a template over voxel type and interpolation mode, bound into
// the eight-entry tables of the sampling kernel table.
#include <cmath>
#include <type_traits>

#include "volume/sampling_kernel_table.h"
#include "volume/sampling_kernels.h"

namespace vekr {
namespace volume {
namespace VEKR_ISA_NS {

namespace {

// Destination voxel (X, Y, Z) samples the source at m (X, Y, Z, 1). The
// positions are never multiplied out per voxel: each row starts from
// m0 X0 plus a row part that advances by m1 (m5, m9) per row and by m2
// (m6, m10) per plane from the box's first row and plane, and the position
// advances by m0 (m4, m8) per voxel. A slab run by one thread is a box of
// its own and so starts from its own first plane.

// The voxel-by-voxel walk of one row, from position (sx, sy, sz) at the
// box's first column; four-wide samplers take groups of four voxels.
template <class T, class Sampler>
void warpRow(const Sampler& sample, const PositionBox<double>& inside, const InclusiveBox& dstBox, const double* m,
             T* out, double sx, double sy, double sz)
{
    int64_t x = dstBox.x0;
    if constexpr (Sampler::kFourWide) {
        // Groups of four voxels; a group wholly inside the source box
        // is sampled together (each voxel as it would be alone).
        // Positions advance exactly as in the voxel-by-voxel loop.
        for (; x + 3 <= dstBox.x1; x += 4) {
            double px[4], py[4], pz[4];
            bool allInside = true;
            for (int l = 0; l < 4; ++l) {
                px[l] = sx, py[l] = sy, pz[l] = sz;
                allInside &= inside.contains(sx, sy, sz);
                sx += m[0];
                sy += m[4];
                sz += m[8];
            }
            if (allInside) {
                sample.four(px, py, pz, out + x);
                continue;
            }
            for (int l = 0; l < 4; ++l)
                if (inside.contains(px[l], py[l], pz[l])) out[x + l] = sample(px[l], py[l], pz[l]);
        }
    }
    for (; x <= dstBox.x1; ++x) {
        if (inside.contains(sx, sy, sz)) out[x] = sample(sx, sy, sz);
        sx += m[0];
        sy += m[4];
        sz += m[8];
    }
}

// Four rows walked side by side, lane r of every vector on row r. Each lane
// adds the per-voxel step to its own row's position, so every voxel gets
// the position the row walk gives it; where all four voxels of a column are
// inside they are sampled together, as each would be alone. A column of
// four rows, unlike a group of four voxels along one row, needs no
// position chain of four dependent additions, and its positions stay in
// registers on their way to the sampler.
template <class T, class Sampler>
void warpFourRows(const Sampler& sample, const PositionBox<double>& inside, const InclusiveBox& dstBox,
                  const double* m, T* const out[4], const double startX[4], const double startY[4],
                  const double startZ[4])
{
    struct Axis {
        Double4 p, step, lo, hi;
        int inside() const { return lanesWithin(p, lo, hi); }
        void advance() { p = addDouble4(p, step); }
    };
    auto axis = [](const double* start, double step, double lo, double hi) {
        return Axis{loadDouble4(start), broadcastDouble4(step), broadcastDouble4(lo), broadcastDouble4(hi)};
    };
    Axis ax = axis(startX, m[0], inside.x0, inside.x1);
    Axis ay = axis(startY, m[4], inside.y0, inside.y1);
    Axis az = axis(startZ, m[8], inside.z0, inside.z1);
    for (int64_t x = dstBox.x0; x <= dstBox.x1; ++x) {
        const int lanes = ax.inside() & ay.inside() & az.inside();
        if (lanes == 0xf) {
            T v[4];
            sample.four(ax.p, ay.p, az.p, v);
            for (int r = 0; r < 4; ++r) out[r][x] = v[r];
        } else if (lanes != 0) {
            double px[4], py[4], pz[4];
            storeDouble4(px, ax.p);
            storeDouble4(py, ay.p);
            storeDouble4(pz, az.p);
            for (int r = 0; r < 4; ++r)
                if (lanes & (1 << r)) out[r][x] = sample(px[r], py[r], pz[r]);
        }
        ax.advance();
        ay.advance();
        az.advance();
    }
}

// Whether rows 0 to lastY, columns 0 to lastX of source plane z hold no
// infinity and no NaN: no voxel has an exponent of all ones. Integer
// voxels always pass.
template <class T>
bool planeIsFinite(const PlanarVolume<const T>& v, int32_t z, int32_t lastX, int32_t lastY)
{
    if constexpr (!VoxelIO<T>::kIsFloat) {
        return true;
    } else {
        const __m128i exponent = _mm_set1_epi32(0x7f800000);
        for (int32_t y = 0; y <= lastY; ++y) {
            const float* row = v.row(y, z);
            __m128i special = _mm_setzero_si128();
            int32_t x = 0;
            for (; x + 3 <= lastX; x += 4) {
                const __m128i e = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x)), exponent);
                special = _mm_or_si128(special, _mm_cmpeq_epi32(e, exponent));
            }
            if (_mm_movemask_epi8(special) != 0) return false;
            for (; x <= lastX; ++x)
                if (!std::isfinite(row[x])) return false;
        }
        return true;
    }
}

// planeIsFinite() of the last few source planes asked about. The
// destination planes of a slab step through the source planes in order, so
// each source plane is scanned about once per slab.
template <class T>
class FinitePlanes {
public:
    FinitePlanes(const PlanarVolume<const T>& v, const InclusiveBox& box) : volume_(v), box_(box) {}

    bool operator()(int32_t z)
    {
        for (const Entry& e : entries_)
            if (e.plane == z) return e.finite;
        Entry& e = entries_[next_];
        next_ = (next_ + 1) % kEntries;
        e = Entry{z, planeIsFinite(volume_, z, box_.x1, box_.y1)};
        return e.finite;
    }

private:
    static constexpr int kEntries = 4;
    struct Entry {
        int32_t plane = -1;
        bool finite = false;
    };
    PlanarVolume<const T> volume_;
    InclusiveBox box_;
    Entry entries_[kEntries];
    int next_ = 0;
};

template <class T, int Mode>
void warpKernel(const PlanarVolume<const T>& src, const PlanarVolume<T>& dst, const InclusiveBox& srcBox,
                const InclusiveBox& dstBox, const double* m)
{
    const auto sample = makeSampler<T, Mode>(SampledSource<T>{src, srcBox});
    using Sampler = std::decay_t<decltype(sample)>;
    const PositionBox<double> inside(srcBox);
    const double startX = m[0] * dstBox.x0, startY = m[4] * dstBox.x0, startZ = m[8] * dstBox.x0;
    double planeX = m[1] * dstBox.y0 + m[2] * dstBox.z0 + m[3];
    double planeY = m[5] * dstBox.y0 + m[6] * dstBox.z0 + m[7];
    double planeZ = m[9] * dstBox.y0 + m[10] * dstBox.z0 + m[11];
    FinitePlanes<T> finite(src, srcBox);
    // The counters are 64-bit: a box may end on index 2^31 - 1, past which
    // a 32-bit counter could not step to leave the loop.
    for (int64_t z = dstBox.z0; z <= dstBox.z1; ++z) {
        const auto row = [&](int64_t y) { return dst.row(static_cast<int32_t>(y), static_cast<int32_t>(z)); };
        const auto walkPlane = [&](const auto& sampler) {
            double rowX = planeX, rowY = planeY, rowZ = planeZ;
            int64_t y = dstBox.y0;
            if constexpr (Sampler::kFourWide) {
                for (; y + 3 <= dstBox.y1; y += 4) {
                    alignas(16) double sx[4], sy[4], sz[4];
                    T* out[4];
                    for (int r = 0; r < 4; ++r) {
                        out[r] = row(y + r);
                        sx[r] = startX + rowX, sy[r] = startY + rowY, sz[r] = startZ + rowZ;
                        rowX += m[1];
                        rowY += m[5];
                        rowZ += m[9];
                    }
                    warpFourRows(sampler, inside, dstBox, m, out, sx, sy, sz);
                }
            }
            for (; y <= dstBox.y1; ++y) {
                warpRow(sampler, inside, dstBox, m, row(y), startX + rowX, startY + rowY, startZ + rowZ);
                rowX += m[1];
                rowY += m[5];
                rowZ += m[9];
            }
        };
        // Rotations about z, in-plane shears and scalings, and shifts by
        // whole planes keep sz on one value over a destination plane:
        // sz = m8 X0 + planeZ, plus zeros, and adding zero does not move a
        // value. Where that value lies on a source plane that the mode
        // weighs alone, the plane is sampled from that source plane only.
        const double sz = startZ + planeZ;
        if constexpr (Mode != vekInterNearest) {
            if (m[8] == 0.0 && m[9] == 0.0 && sz >= inside.z0 && sz <= inside.z1 && sample.onePlaneAt(sz, finite))
                walkPlane(sample.onePlane(sz));
            else
                walkPlane(sample);
        } else {
            walkPlane(sample);
        }
        planeX += m[2];
        planeY += m[6];
        planeZ += m[10];
    }
}

// Every destination voxel reads its source position from the three maps at
// its own index; the map rows are walked in step with the destination row.
template <class T, int Mode>
void remapKernel(const PlanarVolume<const T>& src, const PlanarVolume<T>& dst, const CoordinateMaps& maps,
                 const InclusiveBox& srcBox, int32_t width, int32_t height, int32_t depth)
{
    const auto sample = makeSampler<T, Mode>(SampledSource<T>{src, srcBox});
    using Sampler = std::decay_t<decltype(sample)>;
    const PositionBox<float> inside(srcBox);
    for (int32_t z = 0; z < depth; ++z)
        for (int32_t y = 0; y < height; ++y) {
            const float* mx = maps.x.row(y, z);
            const float* my = maps.y.row(y, z);
            const float* mz = maps.z.row(y, z);
            T* out = dst.row(y, z);
            int32_t x = 0;
            if constexpr (Sampler::kFourWide) {
                // Groups of four voxels; a group wholly inside the source box
                // is sampled together (each voxel as it would be alone).
                for (; x + 4 <= width; x += 4) {
                    bool allInside = true;
                    for (int l = 0; l < 4; ++l) allInside &= inside.contains(mx[x + l], my[x + l], mz[x + l]);
                    if (allInside) {
                        sample.four(mx + x, my + x, mz + x, out + x);
                        continue;
                    }
                    for (int l = 0; l < 4; ++l)
                        if (inside.contains(mx[x + l], my[x + l], mz[x + l]))
                            out[x + l] = sample(mx[x + l], my[x + l], mz[x + l]);
                }
            }
            for (; x < width; ++x) {
                const float sx = mx[x], sy = my[x], sz = mz[x];
                if (inside.contains(sx, sy, sz)) out[x] = sample(sx, sy, sz);
            }
        }
}

// Indexed by the degraded mode; 0 and 3 are not modes.
#define VEKR_MODE_TABLE(kernel, T)                                                                           \
    {                                                                                                         \
        nullptr, kernel<T, vekInterNearest>, kernel<T, vekInterLinear>, nullptr, kernel<T, vekInterLagrange>, \
            kernel<T, vekInterBSpline>, kernel<T, vekInterCatmullRom>, kernel<T, vekInterBlendCubic>          \
    }

}  // namespace

extern const SamplingKernelTable samplingKernels = {
    VEKR_MODE_TABLE(warpKernel, uint8_t),  VEKR_MODE_TABLE(warpKernel, uint16_t),  VEKR_MODE_TABLE(warpKernel, float),
    VEKR_MODE_TABLE(remapKernel, uint8_t), VEKR_MODE_TABLE(remapKernel, uint16_t), VEKR_MODE_TABLE(remapKernel, float),
};

#undef VEKR_MODE_TABLE

}  // namespace VEKR_ISA_NS
}  // namespace volume
}  // namespace vekr
