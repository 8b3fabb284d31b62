// Layout of the caller-owned spherical-harmonics state and the limits that
// every SH export shares.
//
// The record sits at the start of the caller's buffer. A recurrence state
// (kind 1) places its two factor tables after it: table A a fixed distance
// past the buffer's first 16-byte boundary, table B at the first 16-byte
// boundary after table A, so that both tables are 16-byte aligned whenever
// the buffer is. The distance is the record's size rounded up to 16: 16 on
// 32-bit targets (two ints and two pointers), 32 on 64-bit ones.
#ifndef VEKR_SH_SH_STATE_H
#define VEKR_SH_SH_STATE_H

#include <cstddef>
#include <cstdint>

#include "vekr.h"

namespace vekr {

// Highest band any evaluation supports: 16 bands fill a 256-value block.
constexpr uint32_t kMaxBand = 15;
constexpr uint32_t kMaxCoeffs = (kMaxBand + 1) * (kMaxBand + 1);
// Entries of one factor table up to band 15.
constexpr uint32_t kMaxTableLength = (kMaxBand + 1) * (kMaxBand + 2) / 2;

enum SHKind : int32_t { kSHDirect = 0, kSHRecurrence = 1 };

constexpr uint64_t roundUp16(uint64_t n) { return (n + 15) & ~uint64_t(15); }

// Offset of table A from the buffer's first 16-byte boundary.
constexpr uint32_t kSHTableOffset = uint32_t(roundUp16(sizeof(VekrSHState)));

// Entries per factor table for order L: bands 0 .. L of l + 1 entries each.
constexpr uint64_t shTableLength(uint32_t order)
{
    return (uint64_t(order) + 1) * (uint64_t(order) + 2) / 2;
}

// Position of factor (l, m), 0 <= m <= l, inside a table.
constexpr uint32_t shTableIndex(uint32_t l, uint32_t m) { return l * (l + 1) / 2 + m; }

// Coefficients per direction for bands 0 .. L, and the index of Y(l, m).
constexpr uint32_t shCoeffCount(uint32_t order) { return (order + 1) * (order + 1); }
constexpr int32_t shCoeffIndex(int32_t l, int32_t m) { return l * l + l + m; }

// Bytes a recurrence state of this order needs (from a 16-byte aligned start).
constexpr uint64_t shRecurrenceStateSize(uint32_t order)
{
    return 2 * roundUp16(4 * shTableLength(order)) + kSHTableOffset;
}

}  // namespace vekr

#endif
