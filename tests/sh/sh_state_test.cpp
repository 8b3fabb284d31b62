// State size, placement of the recurrence tables and their contents.

#include <gtest/gtest.h>

#include <cstring>

#include "sh/sh_state.h"
#include "support/test_buffers.h"
#include "vekr.h"

namespace {

using vekr_test::OffsetArray;

// Bytes between the buffer's 16-byte boundary and table A: 16 with 32-bit
// pointers, 32 with 64-bit ones.
constexpr int32_t kOffsetA = sizeof(void*) == 4 ? 16 : 32;

int32_t sizeOf(uint32_t order, int32_t kind)
{
    int32_t size = -1;
    EXPECT_EQ(vekrSHGetSize_32f(order, kind, &size), vekStsOk);
    return size;
}

TEST(SHState, SizesOfBothKinds)
{
    EXPECT_EQ(kOffsetA, int32_t(vekr::kSHTableOffset));
    EXPECT_EQ(sizeOf(0, 0), int32_t(sizeof(VekrSHState)));
    EXPECT_EQ(sizeOf(15, 0), int32_t(sizeof(VekrSHState)));
    // 32-bit figures 48, 48, 80, 112, 1104, 1872 less their 16-byte header.
    const struct {
        uint32_t order;
        int32_t tables;
    } kind1[] = {{0, 32}, {1, 32}, {2, 64}, {3, 96}, {15, 1088}, {20, 1856}};
    for (const auto& c : kind1) EXPECT_EQ(sizeOf(c.order, 1), c.tables + kOffsetA) << c.order;
}

TEST(SHState, RefusedArgumentsLeaveEverythingUntouched)
{
    int32_t size = 12345;
    EXPECT_EQ(vekrSHGetSize_32f(3, 0, nullptr), vekStsNullPtrErr);
    EXPECT_EQ(vekrSHGetSize_32f(16, 0, &size), vekStsSizeErr);
    EXPECT_EQ(vekrSHGetSize_32f(uint32_t(-1), 0, &size), vekStsSizeErr);
    EXPECT_EQ(vekrSHGetSize_32f(3, 2, &size), vekStsRangeErr);
    EXPECT_EQ(vekrSHGetSize_32f(3, -1, &size), vekStsRangeErr);
    // An order whose recurrence tables cannot be sized in 32 bits.
    EXPECT_EQ(vekrSHGetSize_32f(100000, 1, &size), vekStsSizeErr);
    // 23169 is the first order whose size, 2 x (4 m rounded to 16) + 16 with
    // m = 23170 x 23171 / 2, passes 2^31 - 1; Init refuses it as well.
    EXPECT_EQ(vekrSHGetSize_32f(23169, 1, &size), vekStsSizeErr);
    EXPECT_EQ(vekrSHInit_32f(reinterpret_cast<VekrSHState*>(&size), 23169, 1), vekStsSizeErr);
    EXPECT_EQ(vekrSHGetSize_32f(uint32_t(-1), 1, &size), vekStsSizeErr);
    EXPECT_EQ(size, 12345);
    ASSERT_EQ(vekrSHGetSize_32f(23168, 1, &size), vekStsOk);
    EXPECT_EQ(size, 2147302944 + int32_t((sizeof(VekrSHState) + 15) / 16 * 16));  // the two tables, then the record

    OffsetArray<unsigned char> buffer(64);
    buffer.fill(0x5A);
    auto* state = reinterpret_cast<VekrSHState*>(buffer.data());
    EXPECT_EQ(vekrSHInit_32f(nullptr, 3, 0), vekStsNullPtrErr);
    EXPECT_EQ(vekrSHInit_32f(state, 16, 0), vekStsSizeErr);
    EXPECT_EQ(vekrSHInit_32f(state, 3, 7), vekStsRangeErr);
    for (size_t i = 0; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0x5A) << i;
    EXPECT_TRUE(buffer.guardsIntact());
}

// The direct kind holds its order and kind only; the recurrence kind places
// its tables after the record, filled for its order and zero elsewhere.
TEST(SHState, InitLaysOutBothKinds)
{
    OffsetArray<unsigned char> direct(sizeof(VekrSHState));
    direct.fill(0xFF);
    auto* d = reinterpret_cast<VekrSHState*>(direct.data());
    ASSERT_EQ(vekrSHInit_32f(d, 3, 0), vekStsOk);
    EXPECT_TRUE(d->order == 3u && d->kind == 0 && d->pTableA == nullptr && d->pTableB == nullptr);
    EXPECT_TRUE(direct.guardsIntact());

    const int32_t size = sizeOf(2, 1);
    OffsetArray<unsigned char> buffer{size_t(size)};
    buffer.fill(0xFF);
    auto* state = reinterpret_cast<VekrSHState*>(buffer.data());
    ASSERT_EQ(vekrSHInit_32f(state, 2, 1), vekStsOk);
    EXPECT_TRUE(state->order == 2u && state->kind == 1);
    const auto* base = reinterpret_cast<const unsigned char*>(buffer.data());
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(state->pTableA) - base, kOffsetA);
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(state->pTableB) - base, kOffsetA + 32);

    const float* a = state->pTableA;
    const float* b = state->pTableB;
    EXPECT_EQ(vekr_test::floatBits(a[0]), 0x3E906EBBu);
    EXPECT_FLOAT_EQ(a[1], 0.48860255f);
    EXPECT_EQ(a[2], -a[1]);
    const float expectA[] = {1.9364917f, 2.2360680f, -1.1180340f};
    for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(a[3 + i], expectA[i]) << i;
    EXPECT_FLOAT_EQ(b[3], -1.1180340f);
    // Everything outside the record, the six used A entries and the one used
    // B entry is zero: the other B entries and the padding after each table.
    for (int32_t i = int32_t(sizeof(VekrSHState)); i < size; ++i) {
        const bool inA = i >= kOffsetA && i < kOffsetA + 24;
        const bool inB = i >= kOffsetA + 32 + 12 && i < kOffsetA + 32 + 16;
        if (!inA && !inB) {
            ASSERT_EQ(base[i], 0) << i;
        }
    }
    EXPECT_TRUE(buffer.guardsIntact());
}

}  // namespace
