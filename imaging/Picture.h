// A raster as the programs that host the format take pictures: straight
// (not premultiplied) RGBA, 8 bits a channel, top row first. The key colour
// 0xFF00FF is fully transparent and every other pixel opaque, since the
// format knows no partial transparency. One definition for the command-line
// companion, the image plugins and the shell's thumbnails, so that they all
// show the same pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qel {

class Raster;

// What a key-coloured pixel becomes. keepColour (0xFF, 0x00, 0xFF, 0) keeps
// the picture recoverable from its RGBA form, as `qel extract --png` needs;
// clear (0, 0, 0, 0) is the same whether a host reads the alpha as straight
// or as premultiplied; opaque draws it as any other colour, as the viewer's
// composed canvas is shown.
enum class KeyPixel { keepColour, clear, opaque };

// How a host lays out a pixel's four bytes. argb32 is one native-endian
// 32-bit word 0xAARRGGBB a pixel (Qt's ARGB32).
enum class ChannelOrder { rgba, bgra, argb32 };

struct PictureSize {
    int width = 0;
    int height = 0;
};

// A host's buffer, and how the picture is to fill it.
struct PixelTarget {
    std::uint8_t* pixels = nullptr;  // row firstRow of the output
    std::size_t stride = 0;          // bytes from one row to the next
    PictureSize size;                // the whole output; the picture is scaled to it
    ChannelOrder order = ChannelOrder::rgba;
    KeyPixel key = KeyPixel::keepColour;
    int firstRow = 0;  // the rows firstRow .. firstRow + rows - 1 (0 = top) are written
    int rows = -1;     // -1: to the last row
};

// The size at which a width x height picture is shown within size x size.
// A picture that fits is enlarged by the largest whole factor that still
// fits (at least 1), so sprite pixels stay square blocks. One larger than
// size on either side is reduced to fit, keeping its proportions, each side
// at least 1 pixel. {0, 0} for a size or picture that is not positive.
PictureSize thumbnailSize(int width, int height, int size);

// The one conversion from a raster to a host's pixels: the picture scaled to
// target.size with nearest-neighbour sampling, top row first. Every output
// pixel is exactly one source pixel, never a blend, so a reduced sprite keeps
// hard edges, its own colours, and transparency that is either full or none.
// False, and nothing written, for a raster without pixels, a size that is
// not positive, a stride shorter than a row, or rows outside the output.
bool convertPicture(const Raster& raster, const PixelTarget& target);

// The whole picture scaled to out as one RGBA buffer, out.width * out.height
// * 4 bytes. Empty without pixels, for a size that is not positive, or when
// the memory cannot be had.
std::vector<std::uint8_t> scaledRgba(const Raster& raster, PictureSize out, KeyPixel key);

// The picture at its own size.
std::vector<std::uint8_t> pictureRgba(const Raster& raster, KeyPixel key);

// The picture within size x size (thumbnailSize), as `qel thumbnail` and the
// shell's thumbnails draw it; outSize receives the size chosen.
std::vector<std::uint8_t> thumbnailRgba(const Raster& raster, int size, KeyPixel key, PictureSize& outSize);

}  // namespace qel
