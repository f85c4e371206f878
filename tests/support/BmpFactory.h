// BMP file images made in memory, for tests, fuzz seeds, benchmarks and the
// demo files. Pictures are described top-down (y = 0 is the top row) and
// written bottom-up, unpadded, as the viewer reads them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qel::testing {

using Bytes = std::vector<std::uint8_t>;
using ColourAt = std::function<std::uint32_t(int x, int y)>;  // 0x00RRGGBB

// A 54-byte header: "BM", bfSize, bfOffBits, a 40-byte info header.
Bytes bmpHeader(int width, int height, int bitCount, std::uint32_t dataOffset, std::uint32_t fileSize,
                std::uint32_t clrUsed = 0);

Bytes makeBmp24(int width, int height, const ColourAt& colourAt);
// 16-bit X1R5G5B5 values, one per pixel.
Bytes makeBmp16(int width, int height, const std::function<std::uint16_t(int x, int y)>& valueAt);
// 8-bit indices into a 256-entry palette written from offset 54.
Bytes makeBmp8(int width, int height, const std::vector<std::uint32_t>& palette,
               const std::function<std::uint8_t(int x, int y)>& indexAt);
// A header declaring bitCount with width * height * bytesPerPixel zero bytes
// after it (at least one byte per pixel).
Bytes makeBmpOfBitCount(int width, int height, int bitCount);

// The project's sample sprite: a 24x24 star on the key colour.
std::uint32_t sampleSpriteColour(int x, int y);
// The project's demo backdrop: a 144x76 sky-to-grass gradient.
std::uint32_t sampleBackdropColour(int x, int y);

void writeFile(const std::string& path, const Bytes& bytes);
Bytes readFile(const std::string& path);

}  // namespace qel::testing
