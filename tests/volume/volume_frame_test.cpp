// The shared argument checks of the volume families (their order per
// export is tested through the exports), region trimming, mode degradation
// and signed-step addressing.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "volume/volume_frame.h"

using namespace vekr::volume;

namespace {

const VekrVolume kVolume{10, 8, 6};
const VekrCuboid kVoi{1, 2, 3, 4, 4, 2};
const char kByte = 0;
const void* const p = &kByte;

}  // namespace

TEST(VolumeFrame, EverySizeFieldIsTested)
{
    for (int field = 0; field < 6; ++field) {
        VekrCuboid c = kVoi;
        int32_t* f[6] = {&c.x, &c.y, &c.z, &c.width, &c.height, &c.depth};
        *f[field] = field < 3 ? -1 : 0;
        EXPECT_EQ(checkVolumeAndRegions(kVolume, c, kVoi), vekStsSizeErr) << field;
        EXPECT_EQ(checkVolumeAndRegions(kVolume, kVoi, c), vekStsSizeErr) << field;
        EXPECT_EQ(checkBufSizeQuery(p, c, kVoi, 1, 1), vekStsSizeErr) << field;
        EXPECT_EQ(checkBufSizeQuery(p, kVoi, c, 1, 1), vekStsSizeErr) << field;
    }
    // A region's corner may lie anywhere at or past 0; only the source's
    // corner is compared with the volume, and that after the mode.
    EXPECT_EQ(checkVolumeAndRegions(kVolume, VekrCuboid{0, 0, 0, 1, 1, 1}, VekrCuboid{500, 0, 0, 1, 1, 1}), vekStsOk);
}

TEST(VolumeFrame, ModesAcceptedByEveryFamily)
{
    for (int32_t m = -2; m < 10; ++m) {
        const bool ok = m == 1 || m == 2 || (m >= 4 && m <= 7);
        EXPECT_EQ(isSupportedInterpolation(m), ok) << m;
        const VekStatus expect = ok ? vekStsOk : vekStsInterpolationErr;
        EXPECT_EQ(checkBufSizeQuery(p, kVoi, kVoi, 1, m), expect) << m;
        EXPECT_EQ(checkModeAndSourceRegion(m, kVolume, kVoi), expect) << m;
        EXPECT_EQ(checkRemapArguments(p, p, p, p, p, kVolume, kVoi, kVolume, m), expect) << m;
    }
}

TEST(VolumeFrame, SourceRegionIsTrimmedToTheFarFaces)
{
    EXPECT_TRUE(beginsInside(kVolume, VekrCuboid{9, 7, 5, 100, 100, 100}));
    for (int axis = 0; axis < 3; ++axis) {
        VekrCuboid c{9, 7, 5, 1, 1, 1};
        int32_t* corner[3] = {&c.x, &c.y, &c.z};
        ++*corner[axis];
        EXPECT_FALSE(beginsInside(kVolume, c)) << axis;
    }
    const VekrCuboid t = trimToVolume(kVolume, VekrCuboid{7, 0, 2, 100, 5, 4});
    EXPECT_EQ(t.x, 7);
    EXPECT_EQ(t.width, 3);
    EXPECT_EQ(t.height, 5);
    EXPECT_EQ(t.depth, 4);
    const InclusiveBox b = inclusiveBox(t);
    EXPECT_EQ(b.x0, 7);
    EXPECT_EQ(b.x1, 9);
    EXPECT_EQ(b.y1, 4);
    EXPECT_EQ(b.z0, 2);
    EXPECT_EQ(b.z1, 5);
}

TEST(VolumeFrame, DegradationLooksAtTheSmallestVolumeExtent)
{
    for (int32_t m : {4, 5, 6, 7}) {
        EXPECT_EQ(degradeInterpolation(m, VekrVolume{3, 100, 100}), vekInterLinear) << m;
        EXPECT_EQ(degradeInterpolation(m, VekrVolume{100, 100, 4}), m) << m;
        EXPECT_EQ(degradeInterpolation(m, VekrVolume{100, 1, 100}), vekInterNearest) << m;
    }
    EXPECT_EQ(degradeInterpolation(vekInterLinear, VekrVolume{2, 2, 2}), vekInterLinear);
    EXPECT_EQ(degradeInterpolation(vekInterLinear, VekrVolume{100, 100, 1}), vekInterNearest);
    EXPECT_EQ(degradeInterpolation(vekInterNearest, VekrVolume{1, 1, 1}), vekInterNearest);
}

TEST(VolumeFrame, LayoutsAddressAbsoluteIndicesWithSignedSteps)
{
    // Rows stored bottom-up: a negative row step from the top row's start.
    std::vector<uint16_t> mem(4 * 3 * 2);
    for (size_t i = 0; i < mem.size(); ++i) mem[i] = static_cast<uint16_t>(i);
    const int32_t rowBytes = 4 * 2;
    uint16_t* planes[2] = {&mem[2 * 4], &mem[12 + 2 * 4]};
    PlanarVolume<uint16_t> pv(planes, -rowBytes);
    EXPECT_EQ(pv.rowStep, -4);
    EXPECT_EQ(*pv.voxel(1, 2, 1), mem[12 + 1]);
    EXPECT_EQ(*pv.voxel(3, 0, 0), mem[8 + 3]);

    // Planes stored back to front as well.
    ContiguousVolume<const uint16_t> cv(&mem[12 + 8], -rowBytes, -12 * 2);
    EXPECT_EQ(cv.planeStep, -12);
    EXPECT_EQ(*cv.voxel(2, 1, 1), mem[4 + 2]);
    EXPECT_EQ(*cv.voxel(0, 0, 0), mem[20]);

    // Byte steps become element counts by an arithmetic shift.
    EXPECT_EQ(elementStep<float>(-40), -10);
    EXPECT_EQ(elementStep<uint8_t>(-3), -3);
}
