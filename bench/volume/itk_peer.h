// What the ITK peer programs share with the benchmarks: the workloads'
// white-noise voxel hash, CPU time for their own medians, and n x n x n
// images.
#ifndef VEKR_BENCH_VOLUME_ITK_PEER_H
#define VEKR_BENCH_VOLUME_ITK_PEER_H

#include <ctime>

#include <itkImage.h>

#include "support/bench_volumes.h"

using vekr_bench::voxelHash;

inline double cpuMs()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec * 1e-6;
}

// An allocated (uninitialised) image of n x n x n pixels.
template <class Image>
typename Image::Pointer allocateCube(int n)
{
    auto image = Image::New();
    typename Image::RegionType region;
    region.SetSize({{static_cast<itk::SizeValueType>(n), static_cast<itk::SizeValueType>(n),
                     static_cast<itk::SizeValueType>(n)}});
    image->SetRegions(region);
    image->Allocate();
    return image;
}

#endif
