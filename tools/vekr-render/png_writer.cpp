#include "png_writer.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

namespace vekr_render {

namespace {

// What went wrong inside libpng, kept for the one message the caller
// prints: libpng's default handlers would print their own lines.
struct PngSink {
    std::FILE* file;
    int writeErrno;
    char message[160];
};

void onError(png_structp png, png_const_charp message)
{
    auto* sink = static_cast<PngSink*>(png_get_error_ptr(png));
    std::snprintf(sink->message, sizeof sink->message, "%s", message);
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

// fwrite is buffered: a full disk or a file-size limit may first show at
// a later write or at the flush, which is why commit() checks again.
void onWrite(png_structp png, png_bytep data, png_size_t length)
{
    auto* sink = static_cast<PngSink*>(png_get_io_ptr(png));
    errno = 0;
    if (std::fwrite(data, 1, length, sink->file) != length) {
        sink->writeErrno = errno ? errno : EIO;
        png_error(png, "write failed");
    }
}

void onFlush(png_structp png)
{
    auto* sink = static_cast<PngSink*>(png_get_io_ptr(png));
    errno = 0;
    if (std::fflush(sink->file) != 0) {
        sink->writeErrno = errno ? errno : EIO;
        png_error(png, "write failed");
    }
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

}  // namespace

bool writePng(OutputFile& file, int32_t width, int32_t height, const PngRowSource& row, std::string& error)
{
    PngSink sink{file.stream(), 0, {0}};
    const std::unique_ptr<uint8_t, FreeDeleter> rowBuffer(
        static_cast<uint8_t*>(std::malloc(static_cast<size_t>(width) * 3)));
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, onError, onWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || !rowBuffer) {
        png_destroy_write_struct(&png, nullptr);
        error = "cannot write '" + file.path() + "': out of memory";
        return false;
    }
    // libpng reports failures by longjmp; nothing with a destructor is
    // created between here and the end of the write.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        error = sink.writeErrno ? file.writeError(sink.writeErrno)
                                : "cannot write '" + file.path() + "': the PNG encoder failed: " + sink.message;
        return false;
    }
    png_set_write_fn(png, &sink, onWrite, onFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 9);
    png_set_sRGB_gAMA_and_cHRM(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    png_write_info(png, info);
    for (int32_t r = 0; r < height; ++r) {
        row(r, rowBuffer.get());
        png_write_row(png, rowBuffer.get());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace vekr_render
