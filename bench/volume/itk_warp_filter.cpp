// ITK on the warp, remap and filter workloads, for
// bench/volume/warp_filter_peers.py (which builds this file when ITK's
// headers are installed; it is not part of the project's build).
//
//   itk_warp_filter <workload> <repeats>   prints the median CPU milliseconds
//
// Workloads, on one thread and the same white-noise volumes as the benchmark
// program:
//   V3_Linear, V3_Cubic  ResampleImageFilter with an AffineTransform (the
//                        inverse of the +30 degree rotation), linear or
//                        cubic B-spline interpolation;
//   V4_Linear            WarpImageFilter with the V4 displacements;
//   V5_K3, V5_K5         ConvolutionImageFilter with the binomial kernels,
//                        normalised (over the whole 260^3 source).
#include <itkAffineTransform.h>
#include <itkBSplineInterpolateImageFunction.h>
#include <itkConvolutionImageFilter.h>
#include <itkImage.h>
#include <itkLinearInterpolateImageFunction.h>
#include <itkMultiThreaderBase.h>
#include <itkResampleImageFilter.h>
#include <itkWarpImageFilter.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "itk_peer.h"

namespace {

using FloatImage = itk::Image<float, 3>;
using ShortImage = itk::Image<short, 3>;
using Field = itk::Image<itk::Vector<float, 3>, 3>;

FloatImage::Pointer sourceB()
{
    auto image = allocateCube<FloatImage>(256);
    float* p = image->GetBufferPointer();
    for (uint32_t i = 0; i < 256u * 256u * 256u; ++i) p[i] = static_cast<float>(voxelHash(i, 2) >> 8) * 5.9604644775390625e-8f;
    return image;
}

ShortImage::Pointer sourceC()
{
    auto image = allocateCube<ShortImage>(260);
    short* p = image->GetBufferPointer();
    for (uint32_t i = 0; i < 260u * 260u * 260u; ++i)
        p[i] = static_cast<short>(static_cast<int32_t>(voxelHash(i, 3) >> 20) - 2048);
    return image;
}

template <class Filter>
double medianMs(Filter* filter, int repeats)
{
    filter->Update();  // warm-up
    std::vector<double> ms;
    for (int r = 0; r < repeats; ++r) {
        filter->Modified();
        const double t0 = cpuMs();
        filter->Update();
        ms.push_back(cpuMs() - t0);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

double warp(bool cubic, int repeats)
{
    // Inverse of the forward rotation: output point -> input point.
    const double c = 0.8660254037844386, s = 0.5, m = 127.5;
    auto transform = itk::AffineTransform<double, 3>::New();
    itk::AffineTransform<double, 3>::MatrixType matrix;
    matrix.SetIdentity();
    matrix(0, 0) = c, matrix(0, 1) = s, matrix(1, 0) = -s, matrix(1, 1) = c;
    transform->SetMatrix(matrix);
    itk::AffineTransform<double, 3>::OutputVectorType offset;
    const double tx = (m - c * m) + s * m, ty = (m - s * m) - c * m;  // forward translation
    offset[0] = -(c * tx + s * ty), offset[1] = -(-s * tx + c * ty), offset[2] = 0.0;
    transform->SetOffset(offset);

    auto source = sourceB();
    auto filter = itk::ResampleImageFilter<FloatImage, FloatImage>::New();
    filter->SetInput(source);
    filter->SetTransform(transform);
    if (cubic) {
        auto interpolator = itk::BSplineInterpolateImageFunction<FloatImage, double, double>::New();
        interpolator->SetSplineOrder(3);
        filter->SetInterpolator(interpolator);
    } else {
        filter->SetInterpolator(itk::LinearInterpolateImageFunction<FloatImage, double>::New());
    }
    filter->SetOutputParametersFromImage(source);
    filter->SetDefaultPixelValue(0.0f);
    filter->SetNumberOfWorkUnits(1);
    return medianMs(filter.GetPointer(), repeats);
}

double remap(int repeats)
{
    auto source = sourceB();
    auto field = allocateCube<Field>(256);
    itk::Vector<float, 3>* d = field->GetBufferPointer();
    const double pi = 3.14159265358979323846;
    size_t i = 0;
    for (int z = 0; z < 256; ++z)
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x, ++i) {
                d[i][0] = static_cast<float>(x + 4.0 * std::sin(pi * (y & 63) / 32.0)) - x;
                d[i][1] = static_cast<float>(y + 4.0 * std::sin(pi * (z & 63) / 32.0)) - y;
                d[i][2] = static_cast<float>(z + 4.0 * std::sin(pi * (x & 63) / 32.0)) - z;
            }
    auto filter = itk::WarpImageFilter<FloatImage, FloatImage, Field>::New();
    filter->SetInput(source);
    filter->SetDisplacementField(field);
    filter->SetOutputParametersFromImage(source);
    filter->SetEdgePaddingValue(0.0f);
    filter->SetNumberOfWorkUnits(1);
    return medianMs(filter.GetPointer(), repeats);
}

double convolve(int n, int repeats)
{
    auto kernel = allocateCube<FloatImage>(n);
    const float b3[3] = {1, 2, 1}, b5[5] = {1, 4, 6, 4, 1};
    const float* b = n == 3 ? b3 : b5;
    float* k = kernel->GetBufferPointer();
    for (int z = 0; z < n; ++z)
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) k[x + n * (y + n * z)] = b[x] * b[y] * b[z];
    auto filter = itk::ConvolutionImageFilter<ShortImage, FloatImage, ShortImage>::New();
    filter->SetInput(sourceC());
    filter->SetKernelImage(kernel);
    filter->NormalizeOn();
    filter->SetNumberOfWorkUnits(1);
    return medianMs(filter.GetPointer(), repeats);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: itk_warp_filter <V3_Linear|V3_Cubic|V4_Linear|V5_K3|V5_K5> <repeats>\n");
        return 2;
    }
    itk::MultiThreaderBase::SetGlobalDefaultNumberOfThreads(1);
    itk::MultiThreaderBase::SetGlobalMaximumNumberOfThreads(1);
    const std::string w = argv[1];
    const int repeats = std::max(1, std::atoi(argv[2]));
    double ms;
    if (w == "V3_Linear") ms = warp(false, repeats);
    else if (w == "V3_Cubic") ms = warp(true, repeats);
    else if (w == "V4_Linear") ms = remap(repeats);
    else if (w == "V5_K3") ms = convolve(3, repeats);
    else if (w == "V5_K5") ms = convolve(5, repeats);
    else return 2;
    std::printf("%.3f\n", ms);
    return 0;
}
