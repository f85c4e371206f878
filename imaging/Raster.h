/*
 * Raster: the one image type of the viewer.
 *
 * A raster is a 24-bit, bottom-up pixel surface laid out like the pixel data of
 * an uncompressed BMP without row padding, so that it can be read from and
 * written to a BMP file with plain byte copies:
 *
 *   - buffer row 0 is the bottom row of the picture;
 *   - a row is exactly width * 3 bytes (a 25-pixel row is 75 bytes, not 76);
 *   - a pixel is three bytes in the order blue, green, red;
 *   - the pixel in column x of buffer row r starts at byte (r * width + x) * 3;
 *     a position counted from the top (row y, 0 = top) is buffer row
 *     height - 1 - y.
 *
 * Alongside the pixels a raster keeps a 44-byte header block: a 40-byte BMP
 * info header (biSize, biWidth, biHeight, biPlanes, biBitCount, biCompression,
 * biSizeImage, biXPelsPerMeter, biYPelsPerMeter, biClrUsed, biClrImportant,
 * little-endian, in that order) followed by one 4-byte palette entry. A front
 * end hands that block to the display as the bitmap description.
 *
 * Colours are 32-bit values 0x00RRGGBB. White is 0xFFFFFF; the viewer's
 * transparency key is 0xFF00FF.
 *
 * BMP subset read by loadFromMemory / loadFromFile (offsets from the start of
 * the file image, all little-endian):
 *
 *   0   2  bfType      must be "BM"
 *   10  4  bfOffBits   offset of the pixel data
 *   14  40 info header copied whole into the header block; biWidth (18),
 *                      biHeight (22) and biBitCount (28) are used
 *   54  4  palette[0]  copied into the header block's palette entry
 *   54  1024 palette   8-bit images only: always 256 entries, whatever
 *                      biClrUsed says
 *   bfOffBits          rows bottom-up, width * bytes-per-pixel each, unpadded
 *
 * 24-bit pixels are copied, 16-bit ones are decoded as X1R5G5B5, 8-bit ones are
 * looked up in the palette; every other bit count loads as a black picture of
 * its declared size and keeps its bit count in the header. An image is refused
 * (false, raster untouched) when it is shorter than 54 bytes, does not start
 * with "BM", has a width or height <= 0 or more than kMaxPixels pixels, or
 * declares pixel data or a palette that reach past the bytes given.
 */
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace qel {

constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kTransparentKey = 0xFF00FF;

// What the reader makes of a BMP file image without converting it: whether
// it accepts it and, when it does, the picture's size and declared bit count.
struct BmpInfo {
    bool accepted = false;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t bitCount = 0;  // as declared (byte 28), before any conversion
    std::uint32_t dataOffset = 0;  // bfOffBits
};

// The reader's verdict on a BMP file image, by the very rules loadFromMemory
// applies (it calls this first), without allocating or touching any pixel:
// for callers that need the verdict and the size, not the picture.
BmpInfo checkBmp(const std::uint8_t* bytes, std::size_t size);

class Raster {
public:
    static constexpr std::size_t kInfoHeaderSize = 40;
    static constexpr std::size_t kHeaderBlockSize = 44;  // info header + one palette entry
    static constexpr std::size_t kFileHeaderSize = 14;
    static constexpr std::size_t kBmpHeaderSize = kFileHeaderSize + kInfoHeaderSize;  // 54
    // Largest picture a load accepts (4096 x 4096); keeps a hostile header from
    // asking for gigabytes.
    static constexpr std::uint64_t kMaxPixels = 16777216;
    // Largest BMP file worth reading (a backdrop, a picture to pack): the
    // largest picture at 24 bits with generous room for headers and a palette.
    static constexpr std::uint64_t kMaxFileSize = kMaxPixels * 3 + 65536;

    // Offsets of the info-header fields inside the header block.
    enum HeaderField : std::size_t {
        biSize = 0,
        biWidth = 4,
        biHeight = 8,
        biPlanes = 12,
        biBitCount = 14,
        biCompression = 16,
        biSizeImage = 20,
        biXPelsPerMeter = 24,
        biYPelsPerMeter = 28,
        biClrUsed = 32,
        biClrImportant = 36,
        paletteEntry = 40,
    };

    Raster() = default;
    Raster(int width, int height);
    ~Raster() = default;
    Raster(const Raster&) = delete;
    Raster& operator=(const Raster&) = delete;
    Raster(Raster&&) = default;
    Raster& operator=(Raster&&) = default;

    // Allocates a zero-filled width x height picture and a plain 24-bit header.
    // The drawing colour is reset to 0. False (and no pixels) for a negative
    // size, a size whose byte count does not fit, or a failed allocation.
    bool create(int width, int height);
    // Frees the pixels; the header, size and drawing colour stay. Safe to repeat.
    bool release();

    void setColour(std::uint32_t colour) { colour_ = colour; }
    // Sets the drawing colour from components; ignored unless each is 0..255.
    void setColourRgb(int red, int green, int blue);
    // Writes the drawing colour into every pixel (nothing without pixels).
    void fill();
    // Writes the drawing colour at column x of row y counted from the top
    // starting at 1 (y = 1 is the top row). Positions outside do nothing.
    void setPixel(int x, int y);

    // Copies the w x h rectangle at (srcX, srcY) of source to (destX, destY);
    // positions count from the top-left corner. A destination position beyond
    // the right or bottom edge copies nothing; everything else is clipped to
    // both rasters, so nothing outside either buffer is touched.
    void blit(int destX, int destY, int srcX, int srcY, int w, int h, const Raster& source);
    // As blit, leaving the destination unchanged where the source pixel equals key.
    void blitKeyed(int destX, int destY, int srcX, int srcY, int w, int h, std::uint32_t key,
                   const Raster& source);

    bool loadFromMemory(const std::uint8_t* bytes, std::size_t size);
    bool loadFromFile(const std::string& path);

    // The raster as a BMP file image: 54-byte header from the header block,
    // then the unpadded rows, bottom row first. Empty without pixels.
    std::vector<std::uint8_t> encodeBmp() const;
    // Writes encodeBmp() to path, replacing an existing file only once the new
    // one is complete. On failure writes "cant create PATH" to diag.
    bool saveToFile(const std::string& path, std::ostream& diag) const;
    bool saveToFile(const std::string& path) const;

    // Replaces every pixel by its grey value (0.3 R + 0.59 G + 0.11 B, truncated).
    void toGray();
    // Complements every byte of every pixel.
    void invert();

    int width() const { return width_; }
    int height() const { return height_; }
    std::uint32_t colour() const { return colour_; }
    bool allocated() const { return pixels_ != nullptr; }
    std::size_t pixelBytes() const;
    const std::uint8_t* pixels() const { return pixels_.get(); }
    std::uint8_t* pixels() { return pixels_.get(); }
    const std::uint8_t* header() const { return header_.data(); }
    std::uint32_t headerField(HeaderField field) const;  // 32-bit fields
    std::uint16_t bitCount() const;
    // The colour at column x of row y counted from the top (0 = top), or 0
    // outside the picture.
    std::uint32_t pixelAt(int x, int y) const;

private:
    void copyRect(int destX, int destY, int srcX, int srcY, int w, int h, const Raster& source,
                  bool keyed, std::uint32_t key);

    std::array<std::uint8_t, kHeaderBlockSize> header_{};
    std::unique_ptr<std::uint8_t[]> pixels_;
    std::uint32_t colour_ = 0;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
};

// Rows padded to 4 bytes, bottom row first, as display interfaces that take
// device-independent bitmaps expect them. Empty without pixels.
std::vector<std::uint8_t> paddedRows(const Raster& raster);

}  // namespace qel
