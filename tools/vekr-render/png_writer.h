// 8-bit RGB PNG output through libpng.
#ifndef VEKR_RENDER_PNG_WRITER_H
#define VEKR_RENDER_PNG_WRITER_H

#include <cstdint>
#include <string>
#include <vector>

namespace vekr_render {

// rgb holds 3 bytes per pixel, row-major, row 0 at the top. Returns false
// with a reason in error when the file cannot be written.
bool writePng(const std::string& path, int32_t width, int32_t height, const std::vector<uint8_t>& rgb,
              std::string& error);

}  // namespace vekr_render

#endif
