#include "preview.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace vekr_tool {

namespace {

constexpr int kGap = 4;

struct FileClose {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

void writePreview(const std::string& path, const Volume& v)
{
    double lo = INFINITY, hi = -INFINITY;
    for (size_t i = 0; i < v.voxelCount(); ++i) {
        const double x = v.valueAt(i);
        if (std::isfinite(x)) lo = std::min(lo, x), hi = std::max(hi, x);
    }
    if (!(hi > lo)) hi = lo + 1.0;
    const double scale = 255.0 / (hi - lo);

    const int w = v.width, h = v.height, d = v.depth;
    const int imageWidth = w + kGap + w + kGap + h, imageHeight = std::max(h, d);
    std::vector<unsigned char> pixels(static_cast<size_t>(imageWidth) * imageHeight, 16);
    auto grey = [&](int x, int y, int z) {
        const double x0 = v.valueAt(static_cast<size_t>(x) + static_cast<size_t>(w) * (y + static_cast<size_t>(h) * z));
        return static_cast<unsigned char>(std::isfinite(x0) ? std::lround((x0 - lo) * scale) : 0);
    };
    auto put = [&](int px, int py, unsigned char g) { pixels[static_cast<size_t>(py) * imageWidth + px] = g; };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) put(x, y, grey(x, y, d / 2));
    for (int z = 0; z < d; ++z)
        for (int x = 0; x < w; ++x) put(w + kGap + x, z, grey(x, h / 2, z));
    for (int z = 0; z < d; ++z)
        for (int y = 0; y < h; ++y) put(2 * (w + kGap) + y, z, grey(w / 2, y, z));

    std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "wb"));
    if (!file) throw ToolError("cannot write preview '" + path + "'");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        throw ToolError("out of memory writing a PNG");
    }
    std::vector<png_bytep> rows(imageHeight);
    for (int y = 0; y < imageHeight; ++y) rows[y] = pixels.data() + static_cast<size_t>(y) * imageWidth;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw ToolError("cannot write preview '" + path + "'");
    }
    png_init_io(png, file.get());
    png_set_IHDR(png, info, imageWidth, imageHeight, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
}

}  // namespace vekr_tool
