#include "volume/affine_transform.h"

#include <cmath>

namespace vekr {
namespace volume {

namespace {

// One minor test: p = first product, q its relative spread against the
// second product (or the second product itself when p is too small to
// divide by). Passes when |q| > 1e-10.
bool minorPasses(double p, double other)
{
    const double q = std::fabs(p) > 1e-200 ? (p - other) / p : other;
    return std::fabs(q) > 1e-10;
}

}  // namespace

bool isDegenerateTransform(const double* a)
{
    // Only the diagonal and the lower two rows take part.
    const double a00 = a[0];
    const double a10 = a[4], a11 = a[5], a12 = a[6];
    const double a20 = a[8], a21 = a[9], a22 = a[10];
    if (std::fabs(a00) <= 1e-100 && std::fabs(a11) <= 1e-100 && std::fabs(a22) <= 1e-100) return true;
    if (minorPasses(a11 * a22, a12 * a21)) return false;
    if (minorPasses(a22 * a10, a12 * a20)) return false;
    return !minorPasses(a10 * a21, a11 * a20);
}

bool invertTransform(const double* a, double* m)
{
    const double a00 = a[0], a01 = a[1], a02 = a[2], b0 = a[3];
    const double a10 = a[4], a11 = a[5], a12 = a[6], b1 = a[7];
    const double a20 = a[8], a21 = a[9], a22 = a[10], b2 = a[11];
    const double det = a00 * (a11 * a22 - a21 * a12) - a01 * (a10 * a22 - a20 * a12) + a02 * (a10 * a21 - a20 * a11);
    if (det > -1e-10 && det < 1e-10) return false;

    const double m00 = (a11 * a22 - a12 * a21) / det;
    const double m01 = (a02 * a21 - a01 * a22) / det;
    const double m02 = (a01 * a12 - a02 * a11) / det;
    const double m10 = (a12 * a20 - a10 * a22) / det;
    const double m11 = (a00 * a22 - a02 * a20) / det;
    const double m12 = (a02 * a10 - a00 * a12) / det;
    const double m20 = (a10 * a21 - a11 * a20) / det;
    const double m21 = (a01 * a20 - a00 * a21) / det;
    const double m22 = (a00 * a11 - a01 * a10) / det;

    m[0] = m00, m[1] = m01, m[2] = m02, m[3] = -(m00 * b0 + m01 * b1 + m02 * b2);
    m[4] = m10, m[5] = m11, m[6] = m12, m[7] = -(m10 * b0 + m11 * b1 + m12 * b2);
    m[8] = m20, m[9] = m21, m[10] = m22, m[11] = -(m20 * b0 + m21 * b1 + m22 * b2);
    return true;
}

}  // namespace volume
}  // namespace vekr
