// Reading PNG pictures for packing, through libpng: any colour type and bit
// depth libpng can turn into 8-bit RGBA becomes the 24-bit bottom-up BMP the
// viewer reads, with fully transparent pixels in the key colour.
#pragma once

#include <cstddef>
#include <cstdint>

#include "packed/HostPicture.h"

namespace qel {

// What came of a PNG is what came of its pixels (rgbaToBmp), noPixels also
// standing for a file libpng refuses, the message saying why.
using PngToBmpOutcome = RgbaToBmpOutcome;
using PngToBmpResult = RgbaToBmpResult;

// True when data starts with the PNG signature.
bool hasPngSignature(const std::uint8_t* data, std::size_t size);

// Converts a PNG file image held in memory. Pixels with alpha 0 become the
// key colour 0xFF00FF whatever colour they hold; opaque ones keep theirs. No
// gamma or colour-space correction: the stored values are the picture.
PngToBmpResult pngToBmp(const std::uint8_t* data, std::size_t size);

}  // namespace qel
