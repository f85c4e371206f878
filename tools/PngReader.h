// Reading PNG pictures for packing, through libpng: any colour type and bit
// depth libpng can turn into 8-bit RGBA becomes the 24-bit bottom-up BMP the
// viewer reads, with fully transparent pixels in the key colour.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qel {

enum class PngToBmpOutcome {
    ok,
    notDecoded,         // libpng refused the file; message says why
    partlyTransparent,  // some alpha is neither 0 nor 255
    tooLarge,           // the BMP would not fit the viewer's 2048-byte buffer
};

struct PngToBmpResult {
    PngToBmpOutcome outcome = PngToBmpOutcome::notDecoded;
    std::vector<std::uint8_t> bmp;  // the BMP file image when ok
    std::string message;            // one line for any other outcome
};

// True when data starts with the PNG signature.
bool hasPngSignature(const std::uint8_t* data, std::size_t size);

// Converts a PNG file image held in memory. Pixels with alpha 0 become the
// key colour 0xFF00FF whatever colour they hold; opaque ones keep theirs. No
// gamma or colour-space correction: the stored values are the picture.
PngToBmpResult pngToBmp(const std::uint8_t* data, std::size_t size);

}  // namespace qel
