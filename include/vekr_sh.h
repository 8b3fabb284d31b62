/* vekr_sh.h - include <vekr.h> rather than this file. */
#ifndef VEKR_SH_H
#define VEKR_SH_H

#include "vekr_base.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Spherical-harmonics state, at the start of a caller-owned buffer sized by
 * vekrSHGetSize_32f and filled by vekrSHInit_32f. Kind 0 (direct) holds only
 * order and kind; kind 1 (recurrence) also holds two float tables of
 * recurrence factors inside the same buffer, which must be 16-byte aligned.
 *
 * On 32-bit targets the header is 16 bytes. On 64-bit targets the two
 * pointers make it 24 bytes: kind 0 then reports sizeof(VekrSHState), and
 * kind 1 reports 2 x A16(4m) + 32 bytes with table A 32 bytes after the first
 * 16-byte boundary of the buffer (A16 rounds up to a multiple of 16, m is the
 * table length (L + 1)(L + 2) / 2).
 */
typedef struct VekrSHState {
    uint32_t order;   /* highest band that may be requested */
    int32_t kind;     /* 0 direct, 1 recurrence */
    float* pTableA;   /* kind 1: first factor table; kind 0: NULL */
    float* pTableB;   /* kind 1: second factor table; kind 0: NULL */
} VekrSHState;

#ifdef __cplusplus
}
#endif

#endif /* VEKR_SH_H */
