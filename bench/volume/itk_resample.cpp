// ITK's ResampleImageFilter on the resize workloads, for bench/volume/peers.py
// (which builds this file when ITK's headers are installed; it is not part
// of the project's build).
//
//   itk_resample <workload> <repeats>   prints the median CPU milliseconds
//
// Workloads: V1_Nearest, V1_Linear, V1_BSpline (8u 128^3 -> 256^3) and
// V2_Nearest, V2_Linear (32f 256^3 -> 128^3), on the same white-noise
// volumes as the benchmark program, on one thread.
#include <itkBSplineInterpolateImageFunction.h>
#include <itkImage.h>
#include <itkLinearInterpolateImageFunction.h>
#include <itkMultiThreaderBase.h>
#include <itkNearestNeighborInterpolateImageFunction.h>
#include <itkResampleImageFilter.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "itk_peer.h"

namespace {

template <class T>
double run(const std::string& mode, int n, double factor, uint32_t seed, int repeats)
{
    using Image = itk::Image<T, 3>;
    auto image = allocateCube<Image>(n);
    T* p = image->GetBufferPointer();
    const uint32_t count = static_cast<uint32_t>(n) * n * n;
    for (uint32_t i = 0; i < count; ++i) {
        if constexpr (sizeof(T) == 1) p[i] = static_cast<T>(voxelHash(i, seed) >> 24);
        else p[i] = static_cast<T>(voxelHash(i, seed) >> 8) * 5.9604644775390625e-8f;
    }

    using Filter = itk::ResampleImageFilter<Image, Image>;
    auto filter = Filter::New();
    filter->SetInput(image);
    if (mode == "Nearest") filter->SetInterpolator(itk::NearestNeighborInterpolateImageFunction<Image, double>::New());
    else if (mode == "Linear") filter->SetInterpolator(itk::LinearInterpolateImageFunction<Image, double>::New());
    else {
        auto bspline = itk::BSplineInterpolateImageFunction<Image, double, double>::New();
        bspline->SetSplineOrder(3);
        filter->SetInterpolator(bspline);
    }
    const int out = static_cast<int>(n * factor + 0.5);
    const double spacing = 1.0 / factor;
    const double origin = (spacing - 1.0) / 2.0;  // voxel centres of both volumes aligned
    filter->SetSize({{static_cast<itk::SizeValueType>(out), static_cast<itk::SizeValueType>(out),
                      static_cast<itk::SizeValueType>(out)}});
    filter->SetOutputSpacing(spacing);
    const double o[3] = {origin, origin, origin};
    filter->SetOutputOrigin(o);
    filter->SetNumberOfWorkUnits(1);

    std::vector<double> ms;
    for (int r = 0; r < repeats + 1; ++r) {
        filter->Modified();
        const double t0 = cpuMs();
        filter->Update();
        if (r > 0) ms.push_back(cpuMs() - t0);  // the first run warms up
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) return 2;
    itk::MultiThreaderBase::SetGlobalDefaultNumberOfThreads(1);
    itk::MultiThreaderBase::SetGlobalMaximumNumberOfThreads(1);
    const std::string w = argv[1];
    const int repeats = std::max(1, std::atoi(argv[2]));
    const std::string mode = w.substr(3);
    const double ms = w.rfind("V1_", 0) == 0 ? run<uint8_t>(mode, 128, 2.0, 1, repeats)
                                             : run<float>(mode, 256, 0.5, 2, repeats);
    std::printf("%.3f\n", ms);
    return 0;
}
