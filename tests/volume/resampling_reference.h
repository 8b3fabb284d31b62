// A double-precision reference for the warp and remap tests: the value that
// nearest, trilinear or cubic interpolation gives at one source position,
// with cubic weights taken from 0.01-spaced tables of the kernel formulas
// and interpolated linearly, the way the library's tables are meant to be
// read, but without its single-precision steps.
#ifndef VEKR_TESTS_VOLUME_RESAMPLING_REFERENCE_H
#define VEKR_TESTS_VOLUME_RESAMPLING_REFERENCE_H

#include <cmath>
#include <cstdint>
#include <random>
#include <type_traits>
#include <vector>

#include "support/test_buffers.h"
#include "test_volume.h"
#include "vekr.h"

namespace vekr_test {

struct RefBox {
    int x0, y0, z0, x1, y1, z1;
};

// The cubic kernels as written in their closed forms.
inline double cubicKernel(int mode, double t)
{
    t = std::fabs(t);
    if (t >= 2.0) return 0.0;
    const bool near = t < 1.0;
    const double t2 = t * t, t3 = t2 * t;
    switch (mode) {
    case vekInterLagrange:
        return near ? 0.5 * t3 - t2 - 0.5 * t + 1.0 : -t3 / 6.0 + t2 - 11.0 * t / 6.0 + 1.0;
    case vekInterBSpline:
        return near ? 0.5 * t3 - t2 + 2.0 / 3.0 : -t3 / 6.0 + t2 - 2.0 * t + 4.0 / 3.0;
    case vekInterCatmullRom:
        return near ? 1.5 * t3 - 2.5 * t2 + 1.0 : -0.5 * t3 + 2.5 * t2 - 4.0 * t + 2.0;
    default:  // B = 1/2, C = 3/10
        return near ? 0.95 * t3 - 1.7 * t2 + 5.0 / 6.0
                    : -0.38333333333333336 * t3 + 2.0 * t2 - 3.4 * t + 1.8666666666666667;
    }
}

// Weight at distance t from the table of entries float(K(k / 100)).
inline double tabulatedWeight(int mode, double t)
{
    const double s = std::fmin(std::fabs(t), 2.0) * 100.0;
    const int k = static_cast<int>(s);
    const double lo = static_cast<float>(cubicKernel(mode, k / 100.0));
    const double hi = k + 1 > 200 ? 0.0 : static_cast<float>(cubicKernel(mode, (k + 1) / 100.0));
    return lo + (hi - lo) * (s - k);
}

// Cubic tap indices of one axis: held at the box's last index above; below,
// a position in the first voxel of the volume repeats voxel 0 (and then
// reads 1 and 2 whatever the box).
inline void referenceCubicTaps(int i, int last, int tap[4])
{
    if (i < 1) {
        const int low[4] = {0, 0, 1, 2};
        for (int a = 0; a < 4; ++a) tap[a] = low[a];
        return;
    }
    for (int a = 0; a < 4; ++a) {
        const int t = i - 1 + a;
        tap[a] = t <= last ? t : (i == last ? i : last);
    }
}

template <class T>
double referenceSample(const TestVolume<T>& src, const RefBox& box, int mode, double sx, double sy, double sz)
{
    const double c[3] = {sx, sy, sz};
    const int last[3] = {box.x1, box.y1, box.z1};
    if (mode == vekInterNearest)
        return src.at(static_cast<int>(std::nearbyint(sx)), static_cast<int>(std::nearbyint(sy)),
                      static_cast<int>(std::nearbyint(sz)));
    if (mode == vekInterLinear) {
        int tap[3][2];
        double w[3][2];
        for (int a = 0; a < 3; ++a) {
            int i = static_cast<int>(std::floor(c[a]));
            if (i == last[a]) i = last[a] - 1;
            const double f = c[a] - i;
            tap[a][0] = i < 0 ? 0 : i, tap[a][1] = i + 1;
            w[a][0] = 1.0 - f, w[a][1] = f;
        }
        double v = 0.0;
        for (int k = 0; k < 2; ++k)
            for (int j = 0; j < 2; ++j)
                for (int i = 0; i < 2; ++i)
                    v += w[0][i] * w[1][j] * w[2][k] * src.at(tap[0][i], tap[1][j], tap[2][k]);
        return v;
    }
    int tap[3][4];
    double w[3][4];
    for (int a = 0; a < 3; ++a) {
        const int i = static_cast<int>(std::floor(c[a]));
        const double f = c[a] - i;
        referenceCubicTaps(i, last[a], tap[a]);
        for (int t = 0; t < 4; ++t) w[a][t] = tabulatedWeight(mode, t - 1 - f);
    }
    double v = 0.0;
    for (int k = 0; k < 4; ++k)
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 4; ++i) v += w[0][i] * w[1][j] * w[2][k] * src.at(tap[0][i], tap[1][j], tap[2][k]);
    return v;
}

// Random voxels over the whole stored block: 8u and 16u over their range,
// float in [0, 1).
template <class T>
void fillRandom(TestVolume<T>& v, uint32_t seed)
{
    Rng rng(seed);
    if constexpr (std::is_same_v<T, float>) {
        std::uniform_real_distribution<float> d(0.0f, 1.0f);
        v.fillAll([&] { return d(rng); });
    } else {
        std::uniform_int_distribution<int> d(0, sizeof(T) == 1 ? 255 : 65535);
        v.fillAll([&] { return static_cast<T>(d(rng)); });
    }
}

// Largest voxel value, for tolerances relative to the type's range.
template <class T>
double valueScale()
{
    if constexpr (std::is_same_v<T, float>) return 1.0;
    else return sizeof(T) == 1 ? 255.0 : 65535.0;
}

}  // namespace vekr_test

#endif
