#include "tools/PngReader.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <png.h>

#include "packed/PackedFile.h"

namespace qel {

namespace {

constexpr std::uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

std::uint32_t readBe32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
}

// Where libpng reads from and where its error message is kept. libpng's own
// handlers would print to the error stream; this keeps the message for the
// one line qel writes about the file.
struct ReadState {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t offset = 0;
    char message[160] = {};
};

void readFromMemory(png_structp png, png_bytep out, png_size_t length) {
    auto* state = static_cast<ReadState*>(png_get_io_ptr(png));
    if (length > state->size - state->offset) png_error(png, "the file ends early");
    std::memcpy(out, state->data + state->offset, length);
    state->offset += length;
}

void keepError(png_structp png, png_const_charp message) {
    auto* state = static_cast<ReadState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", message ? message : "unknown error");
    png_longjmp(png, 1);
}

// Warnings are about chunks that do not change the pixels (a colour profile,
// a damaged text chunk): nothing to tell the user.
void ignoreWarning(png_structp, png_const_charp) {}

// The two stages below are where libpng may jump back to on an error. They
// hold nothing with a destructor, so a jump leaks nothing; everything that
// must be freed is owned by the caller.
bool readHeader(png_structp png, png_infop info, png_uint_32& width, png_uint_32& height) {
    if (setjmp(png_jmpbuf(png))) return false;
    // Any size the format allows reaches the caller's own size check, which
    // then refuses it the same way on every build.
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    png_read_info(png, info);
    width = png_get_image_width(png, info);
    height = png_get_image_height(png, info);
    return true;
}

bool readRgbaRows(png_structp png, png_infop info, png_bytepp rows, std::size_t rowBytes) {
    if (setjmp(png_jmpbuf(png))) return false;
    const int colourType = png_get_color_type(png, info);
    png_set_expand(png);  // palette and low bit depths to 8 bits, tRNS to alpha
    if (png_get_bit_depth(png, info) == 16) png_set_scale_16(png);
    if ((colourType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
    if ((colourType & PNG_COLOR_MASK_ALPHA) == 0 && !png_get_valid(png, info, PNG_INFO_tRNS)) {
        png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != rowBytes) png_error(png, "unexpected pixel layout");
    png_read_image(png, rows);
    // The rest of the file too: a damaged chunk after the pixels is still a
    // damaged file.
    png_read_end(png, nullptr);
    return true;
}

struct PngReadHandles {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngReadHandles() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

PngToBmpResult notDecoded(const char* why) {
    PngToBmpResult result;
    result.outcome = PngToBmpOutcome::noPixels;
    result.message = std::string("cannot decode PNG: ") + why;
    return result;
}

}  // namespace

bool hasPngSignature(const std::uint8_t* data, std::size_t size) {
    return size >= sizeof kSignature && std::memcmp(data, kSignature, sizeof kSignature) == 0;
}

PngToBmpResult pngToBmp(const std::uint8_t* data, std::size_t size) {
    // The size straight from the header, before libpng checks it against
    // what this build's address space allows: a huge picture is too large
    // for the viewer on every build alike.
    if (hasPngSignature(data, size) && size >= 24 && std::memcmp(data + 12, "IHDR", 4) == 0) {
        const std::uint64_t width = readBe32(data + 16), height = readBe32(data + 20);
        if (bmpSizeFor(width, height) > kMaxPayloadSize) return bmpTooLarge(width, height);
    }

    ReadState state;
    state.data = data;
    state.size = size;
    PngReadHandles handles;
    handles.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, keepError, ignoreWarning);
    if (!handles.png) return notDecoded("out of memory");
    handles.info = png_create_info_struct(handles.png);
    if (!handles.info) return notDecoded("out of memory");
    png_set_read_fn(handles.png, &state, readFromMemory);

    png_uint_32 width = 0, height = 0;
    if (!readHeader(handles.png, handles.info, width, height)) {
        return notDecoded(state.message);
    }
    if (bmpSizeFor(width, height) > kMaxPayloadSize) return bmpTooLarge(width, height);

    const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
    std::vector<std::uint8_t> rgba(rowBytes * height);
    std::vector<png_bytep> rows(height);
    for (std::size_t y = 0; y < height; ++y) rows[y] = rgba.data() + y * rowBytes;
    if (!readRgbaRows(handles.png, handles.info, rows.data(), rowBytes)) {
        return notDecoded(state.message);
    }

    // The rule every host shares: alpha 0 to the key colour, partial alpha
    // refused.
    return rgbaToBmp(rgba.data(), static_cast<int>(width), static_cast<int>(height), rowBytes, 4);
}

}  // namespace qel
