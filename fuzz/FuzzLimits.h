// Keeps the fuzzers fast. A 54-byte BMP header with a bit count the reader
// does not convert loads as a black picture of up to Raster::kMaxPixels
// pixels (48 MiB), a documented and bounded cost that the malformed-input
// tests check once. Met on every other run it would cut the fuzzers to a few
// hundred runs a second, so inputs that declare such a picture larger than
// kFuzzPixelLimit are skipped. Every other declared size, including those
// the reader refuses as too large, still goes through.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/Bytes.h"
#include "imaging/Raster.h"

namespace qel::fuzz {

constexpr std::uint64_t kFuzzPixelLimit = 4096;

inline bool declaresLargeBlankPicture(const std::uint8_t* bmp, std::size_t size) {
    if (!bmp || size < Raster::kBmpHeaderSize || bmp[0] != 'B' || bmp[1] != 'M') return false;
    const std::int32_t width = readLe32Signed(bmp + 18);
    const std::int32_t height = readLe32Signed(bmp + 22);
    const std::uint16_t bits = readLe16(bmp + 28);
    if (width <= 0 || height <= 0 || bits == 8 || bits == 16 || bits == 24) return false;
    const std::uint64_t pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    return pixels > kFuzzPixelLimit && pixels <= Raster::kMaxPixels;
}

}  // namespace qel::fuzz
