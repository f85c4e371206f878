// PNG encoding for the command-line companion, through libpng. Rows are
// converted one at a time, so a large scaled preview never needs its whole
// uncompressed image in memory at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/Picture.h"

namespace qel {

class Raster;

struct PngImage {
    const Raster* raster = nullptr;
    PictureSize size;  // the raster is scaled to it, nearest-neighbour
    bool alpha = false;  // RGBA when true, RGB otherwise; 8 bits per channel
};

// Encodes the image as a complete PNG file image into out. False (out empty)
// when libpng reports an error or the size is not positive; why, when
// given, then gets libpng's words. libpng itself prints nothing.
bool encodePng(const PngImage& image, std::vector<std::uint8_t>& out, std::string* why = nullptr);

// The raster as RGBA at the given size, nearest-neighbour sampled; pixels of
// the key colour get alpha 0 and keep their colour, so the original picture
// can be rebuilt from the PNG. Other pixels are opaque.
PngImage keyedPngImage(const Raster& raster, PictureSize size);
// The raster as opaque RGB.
PngImage opaquePngImage(const Raster& raster);

}  // namespace qel
