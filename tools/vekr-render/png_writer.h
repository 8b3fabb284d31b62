// 8-bit RGB PNG output through libpng.
#ifndef VEKR_RENDER_PNG_WRITER_H
#define VEKR_RENDER_PNG_WRITER_H

#include <cstdint>
#include <functional>
#include <string>

#include "output_file.h"

namespace vekr_render {

// Fills out with the 3 × width bytes (R, G, B per pixel) of image row r,
// row 0 at the top. Rows are asked for in order, one at a time, so the
// encoded image never needs to exist in memory as a whole.
using PngRowSource = std::function<void(int32_t r, uint8_t* out)>;

// Encodes a width × height image into file, checking every write. Returns
// false with a one-line reason in error when encoding or writing fails;
// the caller then discards the file.
bool writePng(OutputFile& file, int32_t width, int32_t height, const PngRowSource& row, std::string& error);

}  // namespace vekr_render

#endif
