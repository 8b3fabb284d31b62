// What the ITK peer programs share with the benchmarks: the workloads'
// white-noise voxel hash, and CPU time for their own medians.
#ifndef VEKR_BENCH_VOLUME_ITK_PEER_H
#define VEKR_BENCH_VOLUME_ITK_PEER_H

#include <ctime>

#include "support/bench_volumes.h"

using vekr_bench::voxelHash;

inline double cpuMs()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec * 1e-6;
}

#endif
