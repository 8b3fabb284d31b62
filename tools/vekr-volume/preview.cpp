#include "preview.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

namespace vekr_tool {

namespace {

constexpr int kGap = 4;
constexpr unsigned char kGapGrey = 16;

struct PngBytes {
    std::vector<unsigned char> bytes;
    bool outOfMemory = false;
};

extern "C" void appendPngBytes(png_structp png, png_bytep data, png_size_t n)
{
    PngBytes* out = static_cast<PngBytes*>(png_get_io_ptr(png));
    try {
        out->bytes.insert(out->bytes.end(), data, data + n);
    } catch (const std::bad_alloc&) {
        // An exception must not cross libpng's C frames; its own error
        // path unwinds them.
        out->outOfMemory = true;
        png_error(png, "out of memory");
    }
}

extern "C" void flushNothing(png_structp) {}

// Encodes an 8-bit grey picture into memory. Kept free of objects with
// destructors, since libpng reports errors by longjmp.
bool encodePng(const png_bytep* rows, int width, int height, PngBytes* out)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, appendPngBytes, flushNothing);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, const_cast<png_bytepp>(rows));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// Sample positions of `pixels` pixel centres across `voxels` voxel centres.
struct Taps {
    std::vector<int> lo, hi;
    std::vector<double> f;
};

Taps taps(int pixels, int voxels)
{
    Taps t;
    for (int p = 0; p < pixels; ++p) {
        const double u = std::min(std::max((p + 0.5) * voxels / pixels - 0.5, 0.0), voxels - 1.0);
        const int i = static_cast<int>(u);
        t.lo.push_back(i);
        t.hi.push_back(std::min(i + 1, voxels - 1));
        t.f.push_back(u - i);
    }
    return t;
}

int scaled(double extent, double scale)
{
    // Rounded down, so that the picture never exceeds the size asked for.
    return std::max(1, static_cast<int>(extent * scale));
}

}  // namespace

void writePreview(OutputFile& file, const Volume& v, const double spacing[3], int size)
{
    double lo = INFINITY, hi = -INFINITY;
    for (size_t i = 0; i < v.voxelCount(); ++i) {
        const double x = v.valueAt(i);
        if (std::isfinite(x)) lo = std::min(lo, x), hi = std::max(hi, x);
    }
    if (!(hi > lo)) hi = lo + 1.0;
    const double grey = 255.0 / (hi - lo);

    // Physical extents; a header without usable voxel sizes counts as cubic.
    double extent[3];
    const int n[3] = {v.width, v.height, v.depth};
    for (int a = 0; a < 3; ++a) {
        const double s = std::fabs(spacing[a]);
        extent[a] = n[a] * (std::isfinite(s) && s > 0.0 ? s : 1.0);
    }
    const double wideMm = 2 * extent[0] + extent[1], highMm = std::max(extent[1], extent[2]);
    const double scale = std::min(std::max(size - 2 * kGap, 1) / wideMm, size / highMm);
    const int pw[3] = {scaled(extent[0], scale), scaled(extent[1], scale), scaled(extent[2], scale)};
    const int imageWidth = 2 * pw[0] + pw[1] + 2 * kGap, imageHeight = std::max(pw[1], pw[2]);
    std::vector<unsigned char> pixels(static_cast<size_t>(imageWidth) * imageHeight, kGapGrey);

    auto at = [&](int x, int y, int z) {
        return v.valueAt(static_cast<size_t>(x) + static_cast<size_t>(v.width) * (y + static_cast<size_t>(v.height) * z));
    };
    // One slice: pixel (px, py) samples the plane bilinearly through
    // value(u, v) over the two in-plane axes.
    auto drawSlice = [&](int left, int axisU, int axisV, auto value) {
        const Taps tu = taps(pw[axisU], n[axisU]), tv = taps(pw[axisV], n[axisV]);
        for (int py = 0; py < pw[axisV]; ++py)
            for (int px = 0; px < pw[axisU]; ++px) {
                const double fu = tu.f[px], fv = tv.f[py];
                const double s[4] = {value(tu.lo[px], tv.lo[py]), value(tu.hi[px], tv.lo[py]),
                                     value(tu.lo[px], tv.hi[py]), value(tu.hi[px], tv.hi[py])};
                const double w[4] = {(1 - fu) * (1 - fv), fu * (1 - fv), (1 - fu) * fv, fu * fv};
                double sum = 0.0, weight = 0.0;
                for (int k = 0; k < 4; ++k)
                    if (std::isfinite(s[k])) sum += w[k] * s[k], weight += w[k];
                    else if (!std::isnan(s[k])) sum += w[k] * (s[k] > 0 ? hi : lo), weight += w[k];
                const double g = weight > 0.0 ? (sum / weight - lo) * grey : 0.0;
                pixels[static_cast<size_t>(py) * imageWidth + left + px] =
                    static_cast<unsigned char>(std::lround(std::min(std::max(g, 0.0), 255.0)));
            }
    };
    drawSlice(0, 0, 1, [&](int x, int y) { return at(x, y, v.depth / 2); });
    drawSlice(pw[0] + kGap, 0, 2, [&](int x, int z) { return at(x, v.height / 2, z); });
    drawSlice(2 * (pw[0] + kGap), 1, 2, [&](int y, int z) { return at(v.width / 2, y, z); });

    std::vector<png_bytep> rows(imageHeight);
    for (int y = 0; y < imageHeight; ++y) rows[y] = pixels.data() + static_cast<size_t>(y) * imageWidth;
    PngBytes png;
    if (!encodePng(rows.data(), imageWidth, imageHeight, &png)) {
        if (png.outOfMemory) throw std::bad_alloc();
        throw ToolError("cannot encode preview '" + file.path() + "'");
    }
    file.write(png.bytes.data(), png.bytes.size());
    file.finish();
}

}  // namespace vekr_tool
