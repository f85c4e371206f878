#include "tools/PngWriter.h"

#include <csetjmp>
#include <cstdio>
#include <new>
#include <string>

#include <png.h>

#include "imaging/Picture.h"
#include "imaging/Raster.h"

namespace qel {

namespace {

void appendToVector(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    // An exception must not cross libpng's C frames, and the jump libpng
    // makes must not leave a handler: note the failure, then report it.
    bool stored = true;
    try {
        out->insert(out->end(), data, data + length);
    } catch (const std::bad_alloc&) {
        stored = false;
    }
    if (!stored) png_error(png, "out of memory");
}

void flushNothing(png_structp) {}

// libpng's own handlers print lines of their own on standard error; these
// keep the words for the caller's one-line report instead. Fixed buffers:
// nothing here may throw inside libpng's C frames.
struct PngMessages {
    char error[160] = {};
    char warning[160] = {};
};

void copyMessage(char (&to)[160], png_const_charp message) {
    std::snprintf(to, sizeof to, "%s", message ? message : "");
}

[[noreturn]] void keepError(png_structp png, png_const_charp message) {
    auto* messages = static_cast<PngMessages*>(png_get_error_ptr(png));
    if (messages) copyMessage(messages->error, message);
    png_longjmp(png, 1);
}

void keepWarning(png_structp png, png_const_charp message) {
    auto* messages = static_cast<PngMessages*>(png_get_error_ptr(png));
    // The first one is usually the cause of an error that follows.
    if (messages && messages->warning[0] == '\0') copyMessage(messages->warning, message);
}

// libpng reports errors by longjmp to here. Nothing with a destructor lives
// in this frame, so jumping over the rest of it leaks nothing.
bool writeRows(png_structp png, png_infop info, const PngImage& image, std::uint8_t* row) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.size.width), static_cast<png_uint_32>(image.size.height), 8,
                 image.alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    // Rows come as four bytes a pixel; an RGB image drops the fourth.
    if (!image.alpha) png_set_filler(png, 0, PNG_FILLER_AFTER);
    PixelTarget target;
    target.pixels = row;
    target.stride = static_cast<std::size_t>(image.size.width) * 4;
    target.size = image.size;
    target.key = image.alpha ? KeyPixel::keepColour : KeyPixel::opaque;
    target.rows = 1;
    for (int y = 0; y < image.size.height; ++y) {
        target.firstRow = y;
        if (!convertPicture(*image.raster, target)) png_error(png, "no picture");
        png_write_row(png, row);
    }
    png_write_end(png, info);
    return true;
}

struct PngWriteHandles {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngWriteHandles() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};

}  // namespace

bool encodePng(const PngImage& image, std::vector<std::uint8_t>& out, std::string* why) {
    out.clear();
    const auto fail = [&](const std::string& reason) {
        out.clear();
        if (why) *why = reason;
        return false;
    };
    if (image.size.width <= 0 || image.size.height <= 0 || !image.raster || !image.raster->allocated()) {
        return fail("no picture");
    }
    std::vector<std::uint8_t> row(static_cast<std::size_t>(image.size.width) * 4);

    PngMessages messages;
    PngWriteHandles handles;
    handles.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &messages, keepError, keepWarning);
    if (!handles.png) return fail("out of memory");
    handles.info = png_create_info_struct(handles.png);
    if (!handles.info) return fail("out of memory");
    png_set_write_fn(handles.png, &out, appendToVector, flushNothing);
    if (!writeRows(handles.png, handles.info, image, row.data())) {
        std::string reason = messages.error[0] != '\0' ? messages.error : "libpng failed";
        if (messages.warning[0] != '\0') reason += std::string(" (") + messages.warning + ")";
        return fail(reason);
    }
    return true;
}

PngImage keyedPngImage(const Raster& raster, PictureSize size) {
    return PngImage{&raster, size, true};
}

PngImage opaquePngImage(const Raster& raster) {
    return PngImage{&raster, {raster.width(), raster.height()}, false};
}

}  // namespace qel
