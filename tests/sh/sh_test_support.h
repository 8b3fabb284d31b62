// Shared pieces of the spherical-harmonics tests: states in aligned
// buffers, and the independent references: the basis from std::sph_legendre
// in double precision, random unit directions and a product quadrature on
// the sphere.
#ifndef VEKR_TESTS_SH_SH_TEST_SUPPORT_H
#define VEKR_TESTS_SH_SH_TEST_SUPPORT_H

#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_buffers.h"
#include "vekr.h"

namespace vekr_test {

// A state of either kind in its own 64-byte aligned, guarded buffer.
class SHStateBuffer {
public:
    SHStateBuffer(uint32_t order, int32_t kind)
    {
        int32_t size = 0;
        EXPECT_EQ(vekrSHGetSize_32f(order, kind, &size), vekStsOk);
        buffer_ = std::make_unique<OffsetArray<unsigned char>>(size_t(size));
        EXPECT_EQ(vekrSHInit_32f(get(), order, kind), vekStsOk);
    }
    VekrSHState* get() { return reinterpret_cast<VekrSHState*>(buffer_->data()); }

private:
    std::unique_ptr<OffsetArray<unsigned char>> buffer_;
};

constexpr double kPi = 3.14159265358979323846;

// Y(l, m) at (x, y, z) in double. std::sph_legendre carries the factor
// (-1)^m and the normalisation K(l, m); the azimuthal factor is taken as
// (r_xy / sin(theta))^|m| cos or sin(|m| phi), i.e. from x and y as given
// and the polar part from z as given, which is how the library reads a
// direction whose float components are not exactly of unit length.
inline double referenceY(int l, int m, double x, double y, double z)
{
    const unsigned am = unsigned(m < 0 ? -m : m);
    const double zc = std::fmax(-1.0, std::fmin(1.0, z));
    const double polar = std::sph_legendre(unsigned(l), am, std::acos(zc));
    if (m == 0) return polar;
    const double sinTheta = std::sqrt(1.0 - zc * zc);
    const double rxy = std::hypot(x, y);
    const double scale = sinTheta > 0.0 ? std::pow(rxy / sinTheta, double(am)) : 0.0;
    const double phi = std::atan2(y, x);
    const double azimuth = m > 0 ? std::cos(am * phi) : std::sin(am * phi);
    return std::sqrt(2.0) * polar * scale * azimuth;
}

struct Directions {
    std::vector<float> x, y, z;
    size_t size() const { return x.size(); }
    void push(double a, double b, double c)
    {
        x.push_back(float(a));
        y.push_back(float(b));
        z.push_back(float(c));
    }
};

// Uniform unit directions (normalised Gaussian triples), rounded to float.
inline Directions randomDirections(size_t n, uint32_t seed)
{
    Rng rng(seed);
    std::normal_distribution<double> g(0.0, 1.0);
    Directions d;
    while (d.size() < n) {
        const double a = g(rng), b = g(rng), c = g(rng);
        const double r = std::sqrt(a * a + b * b + c * c);
        if (r > 1e-3) d.push(a / r, b / r, c / r);
    }
    return d;
}

// Gauss-Legendre nodes and weights on [-1, 1] (Newton on std::legendre).
inline void gaussLegendre(int n, std::vector<double>& nodes, std::vector<double>& weights)
{
    nodes.assign(n, 0.0);
    weights.assign(n, 0.0);
    for (int i = 0; i < n; ++i) {
        double t = std::cos(kPi * (i + 0.75) / (n + 0.5));
        double dp = 0.0;
        for (int it = 0; it < 100; ++it) {
            const double p = std::legendre(unsigned(n), t);
            dp = n * (t * p - std::legendre(unsigned(n - 1), t)) / (t * t - 1.0);
            const double step = p / dp;
            t -= step;
            if (std::fabs(step) < 1e-16) break;
        }
        dp = n * (t * std::legendre(unsigned(n), t) - std::legendre(unsigned(n - 1), t)) / (t * t - 1.0);
        nodes[i] = t;
        weights[i] = 2.0 / ((1.0 - t * t) * dp * dp);
    }
}

// Directions and solid-angle weights of a product rule (Gauss-Legendre in
// z, equally spaced in phi) that integrates every product of two basis
// functions up to band `band` exactly.
struct SphereQuadrature {
    Directions dirs;
    std::vector<double> weights;
};

inline SphereQuadrature sphereQuadrature(int band)
{
    const int nz = band + 1, nphi = 2 * band + 2;
    std::vector<double> nodes, w;
    gaussLegendre(nz, nodes, w);
    SphereQuadrature q;
    for (int i = 0; i < nz; ++i) {
        const double s = std::sqrt(1.0 - nodes[i] * nodes[i]);
        for (int k = 0; k < nphi; ++k) {
            const double phi = 2.0 * kPi * (k + 0.5) / nphi;
            q.dirs.push(s * std::cos(phi), s * std::sin(phi), nodes[i]);
            q.weights.push_back(w[i] * 2.0 * kPi / nphi);
        }
    }
    return q;
}

// Spacing of floats at |v| (the float ulp), as a double.
inline double floatUlp(double v)
{
    const float f = std::fabs(float(v));
    return double(std::nextafter(f, INFINITY)) - double(f);
}

}  // namespace vekr_test

#endif
