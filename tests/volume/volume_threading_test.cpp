#include <gtest/gtest.h>

#include <vector>

#include "support/alloc_hook.h"
#include "volume/volume_threading.h"

using namespace vekr::volume;

namespace {

struct Record {
    std::vector<PlaneSlab> slabs = std::vector<PlaneSlab>(64, PlaneSlab{-1, 0, 0, 0, nullptr});
    int calls = 0;
};

Record run(int w, int h, int d, int first, unsigned char* buffer, uint32_t perThread)
{
    Record rec;
    runOverPlaneSlabs(w, h, d, first, buffer, perThread, [&](const PlaneSlab& s) {
#pragma omp atomic
        ++rec.calls;
        rec.slabs[s.thread] = s;
    });
    return rec;
}

}  // namespace

TEST(VolumeThreading, SeventeenPlanesOnFourThreads)
{
    vekr_test::ScopedThreads threads(4);
    unsigned char buffer[4 * 100];
    const Record rec = run(16, 16, 17, 5, buffer, 100);
    ASSERT_EQ(rec.calls, 4) << "the runtime declined to fork";
    const int first[4] = {5, 9, 13, 17};
    const int count[4] = {4, 4, 4, 5};
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(rec.slabs[t].threadCount, 4);
        EXPECT_EQ(rec.slabs[t].firstPlane, first[t]) << t;
        EXPECT_EQ(rec.slabs[t].planeCount, count[t]) << t;
        EXPECT_EQ(rec.slabs[t].buffer, buffer + 100 * t) << t;
    }
}

TEST(VolumeThreading, SmallDestinationsOrOneThreadStaySerial)
{
    unsigned char buffer[64];
    {
        vekr_test::ScopedThreads threads(4);
        const int extents[3][3] = {{16, 16, 15}, {15, 16, 16}, {16, 1, 99}};
        for (const auto& e : extents) {
            const Record rec = run(e[0], e[1], e[2], 2, buffer, 16);
            ASSERT_EQ(rec.calls, 1);
            EXPECT_EQ(rec.slabs[0].firstPlane, 2);
            EXPECT_EQ(rec.slabs[0].planeCount, e[2]);
            EXPECT_EQ(rec.slabs[0].buffer, buffer);
        }
    }
    vekr_test::ScopedThreads one(1);
    EXPECT_EQ(run(64, 64, 64, 0, buffer, 16).calls, 1);
}
