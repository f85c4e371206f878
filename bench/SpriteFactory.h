// Sprites for the benchmarks and the extract timing: 24x24 BMP file images
// at 8, 16 and 24 bits, each seed a different picture, so that a folder of
// them compresses like real sprites rather than like one file repeated.
#pragma once

#include <cstdint>
#include <vector>

namespace qel::bench {

std::vector<std::uint8_t> makeSprite24(unsigned seed);
std::vector<std::uint8_t> makeSprite16(unsigned seed);
std::vector<std::uint8_t> makeSprite8(unsigned seed);
// The 144x76 backdrop: a 24-bit gradient.
std::vector<std::uint8_t> makeBackdrop();

}  // namespace qel::bench
