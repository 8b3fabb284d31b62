// Mode degradation at the exact extents, and addressing with signed row
// and plane steps (the argument checks are tested through the exports).
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "volume/volume_frame.h"

using namespace vekr::volume;

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
