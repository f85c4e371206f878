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
// or as premultiplied.
enum class KeyPixel { keepColour, clear };

struct PictureSize {
    int width = 0;
    int height = 0;
};

// The size at which a width x height picture is shown within size x size.
// A picture that fits is enlarged by the largest whole factor that still
// fits (at least 1), so sprite pixels stay square blocks. One larger than
// size on either side is reduced to fit, keeping its proportions, each side
// at least 1 pixel. {0, 0} for a size or picture that is not positive.
PictureSize thumbnailSize(int width, int height, int size);

// Fills row y (0 = top) of raster scaled to out with nearest-neighbour
// sampling: out.width * 4 bytes of RGBA. Every output pixel is exactly one
// source pixel, never a blend, so a reduced sprite keeps hard edges, its
// own colours, and transparency that is either full or none. y outside
// 0 .. out.height - 1, or a raster without pixels, writes nothing.
void scaledRgbaRow(const Raster& raster, PictureSize out, int y, KeyPixel key, std::uint8_t* row);

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
