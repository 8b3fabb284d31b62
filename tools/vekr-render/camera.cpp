#include "camera.h"

#include <algorithm>
#include <cmath>

namespace vekr_render {

namespace {

constexpr double kPi = 3.14159265358979323846;

void cross(const double a[3], const double b[3], double out[3])
{
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

bool normalize(double v[3])
{
    const double len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (!(len > 1e-12) || !std::isfinite(len)) return false;
    for (int k = 0; k < 3; ++k) v[k] /= len;
    return true;
}

}  // namespace

bool makeCameraRays(const CameraPose& pose, int32_t width, int32_t height, CameraRays& out)
{
    double f[3] = {pose.lookAt[0] - pose.eye[0], pose.lookAt[1] - pose.eye[1], pose.lookAt[2] - pose.eye[2]};
    if (!normalize(f)) return false;
    double r[3], u[3];
    cross(f, pose.up, r);
    if (!normalize(r)) return false;
    cross(r, f, u);
    // Half the image height at distance 1; one pixel is `step` wide and high.
    const double h = std::tan(pose.fovDegrees * kPi / 360.0);
    const double step = 2.0 * h / height;
    const double x0 = (0.5 - 0.5 * width) * step;   // centre of column 0
    const double y0 = (0.5 * height - 0.5) * step;  // centre of row 0
    for (int k = 0; k < 3; ++k) {
        out.eye[k] = float(pose.eye[k]);
        out.d00[k] = float(f[k] + r[k] * x0 + u[k] * y0);
        out.du[k] = float(r[k] * step);
        out.dv[k] = float(-u[k] * step);
    }
    return true;
}

CameraPose frameBox(const float box[6], double fovDegrees, double aspect)
{
    CameraPose s{};
    double radius = 0.0;
    for (int k = 0; k < 3; ++k) {
        s.lookAt[k] = 0.5 * (double(box[k]) + box[k + 3]);
        radius += 0.25 * (double(box[k + 3]) - box[k]) * (double(box[k + 3]) - box[k]);
    }
    radius = std::max(std::sqrt(radius), 1e-6);
    s.up[0] = 0.0;
    s.up[1] = 1.0;
    s.up[2] = 0.0;
    s.fovDegrees = fovDegrees;

    // Seen from the front, a little to the right and above.
    double back[3] = {0.45, 0.38, 1.0};
    normalize(back);
    double right[3], up[3];
    cross(s.up, back, right);
    normalize(right);
    cross(back, right, up);

    // The nearest distance at which all eight corners lie within 92% of the
    // half-extents of the image; the bounding sphere's distance always fits.
    const double tanV = 0.92 * std::tan(fovDegrees * kPi / 360.0);
    const double tanH = tanV * aspect;
    auto fits = [&](double distance) {
        for (int corner = 0; corner < 8; ++corner) {
            double p[3];
            for (int k = 0; k < 3; ++k) p[k] = (corner >> k & 1 ? box[k + 3] : box[k]) - s.lookAt[k];
            const double depth = distance - (p[0] * back[0] + p[1] * back[1] + p[2] * back[2]);
            const double x = p[0] * right[0] + p[1] * right[1] + p[2] * right[2];
            const double y = p[0] * up[0] + p[1] * up[1] + p[2] * up[2];
            if (!(depth > 0.0) || std::fabs(x) > tanH * depth || std::fabs(y) > tanV * depth) return false;
        }
        return true;
    };
    double lo = 0.0, hi = radius / std::sin(std::atan(std::min(tanV, tanH)));
    for (int i = 0; i < 50; ++i) {
        const double mid = 0.5 * (lo + hi);
        (fits(mid) ? hi : lo) = mid;
    }
    for (int k = 0; k < 3; ++k) s.eye[k] = s.lookAt[k] + hi * back[k];
    return s;
}

}  // namespace vekr_render
