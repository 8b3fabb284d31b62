// The traversal kernels of the affine warp and of remap for one instruction
// set, each a template over voxel type and interpolation mode, bound into
// the eight-entry tables of the sampling kernel table.
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
    // The counters are 64-bit: a box may end on index 2^31 - 1, past which
    // a 32-bit counter could not step to leave the loop.
    for (int64_t z = dstBox.z0; z <= dstBox.z1; ++z) {
        double rowX = planeX, rowY = planeY, rowZ = planeZ;
        for (int64_t y = dstBox.y0; y <= dstBox.y1; ++y) {
            T* out = dst.row(static_cast<int32_t>(y), static_cast<int32_t>(z));
            double sx = startX + rowX, sy = startY + rowY, sz = startZ + rowZ;
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
            rowX += m[1];
            rowY += m[5];
            rowZ += m[9];
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
