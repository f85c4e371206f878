// Reading BMP file images into rasters. Every offset is checked against the
// real length before it is read, and the raster is touched only once the whole
// image has been found sound.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "imaging/Bytes.h"
#include "files/FileIo.h"
#include "imaging/Raster.h"

namespace qel {

namespace {

constexpr std::size_t kOffType = 0;
constexpr std::size_t kOffPixelData = 10;   // bfOffBits
constexpr std::size_t kOffInfoHeader = 14;
constexpr std::size_t kOffWidth = 18;
constexpr std::size_t kOffHeight = 22;
constexpr std::size_t kOffBitCount = 28;
constexpr std::size_t kOffPalette = 54;
constexpr std::size_t kPaletteBytes = 256 * 4;

// 5-bit channel widened to 8 bits so that 0x1F becomes 0xFF.
std::uint8_t widen5(unsigned c) { return static_cast<std::uint8_t>((c << 3) | (c >> 2)); }

// Bytes per pixel of the bit counts that are converted; 0 for the others,
// which load black.
unsigned bytesPerPixel(std::uint16_t bitCount) {
    switch (bitCount) {
    case 24: return 3;
    case 16: return 2;
    case 8: return 1;
    default: return 0;
    }
}

}  // namespace

BmpInfo checkBmp(const std::uint8_t* bytes, std::size_t size) {
    BmpInfo info;
    if (!bytes || size < Raster::kBmpHeaderSize) return info;
    if (readLe16(bytes + kOffType) != 0x4D42) return info;  // "BM"

    const std::int32_t width = readLe32Signed(bytes + kOffWidth);
    const std::int32_t height = readLe32Signed(bytes + kOffHeight);
    if (width <= 0 || height <= 0) return info;
    const std::uint64_t pixelCount = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    if (pixelCount > Raster::kMaxPixels) return info;

    const std::uint16_t bitCount = readLe16(bytes + kOffBitCount);
    const std::uint32_t dataOffset = readLe32(bytes + kOffPixelData);
    const std::uint64_t dataSize = pixelCount * bytesPerPixel(bitCount);
    if (dataSize != 0 && std::uint64_t{dataOffset} + dataSize > size) return info;
    if (bitCount == 8 && kOffPalette + kPaletteBytes > size) return info;

    info.accepted = true;
    info.width = width;
    info.height = height;
    info.bitCount = bitCount;
    info.dataOffset = dataOffset;
    return info;
}

bool Raster::loadFromMemory(const std::uint8_t* bytes, std::size_t size) {
    const BmpInfo info = checkBmp(bytes, size);
    if (!info.accepted) return false;
    const std::int32_t width = info.width;
    const std::int32_t height = info.height;
    const std::uint16_t bitCount = info.bitCount;
    const std::uint64_t pixelCount = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);

    const std::size_t outBytes = static_cast<std::size_t>(pixelCount) * 3;
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[outBytes]());
    if (!buffer) return false;

    // From here on the image is sound: take its header, size and pixels.
    std::memcpy(header_.data(), bytes + kOffInfoHeader, kInfoHeaderSize);
    std::memset(header_.data() + kInfoHeaderSize, 0, kHeaderBlockSize - kInfoHeaderSize);
    std::memcpy(header_.data() + kInfoHeaderSize, bytes + kBmpHeaderSize,
                std::min<std::size_t>(kHeaderBlockSize - kInfoHeaderSize, size - kBmpHeaderSize));
    width_ = width;
    height_ = height;

    const std::uint8_t* src = bytes + info.dataOffset;
    std::uint8_t* dst = buffer.get();
    const auto count = static_cast<std::size_t>(pixelCount);
    switch (bitCount) {
    case 24:
        std::memcpy(dst, src, outBytes);
        break;
    case 16:
        for (std::size_t p = 0; p < count; ++p) {
            const unsigned v = readLe16(src + 2 * p);  // X1R5G5B5
            dst[3 * p] = widen5(v & 0x1F);
            dst[3 * p + 1] = widen5((v >> 5) & 0x1F);
            dst[3 * p + 2] = widen5((v >> 10) & 0x1F);
        }
        break;
    case 8: {
        const std::uint8_t* palette = bytes + kOffPalette;
        for (std::size_t p = 0; p < count; ++p) {
            const std::uint8_t* entry = palette + 4 * static_cast<std::size_t>(src[p]);
            dst[3 * p] = entry[0];
            dst[3 * p + 1] = entry[1];
            dst[3 * p + 2] = entry[2];
        }
        break;
    }
    default:
        break;  // other bit counts stay black and keep their bit count
    }
    if (bytesPerPixel(bitCount) != 0) writeLe16(header_.data() + biBitCount, 24);
    pixels_ = std::move(buffer);
    return true;
}

bool Raster::loadFromFile(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    if (readWholeFile(path, kMaxFileSize, bytes) != ReadStatus::ok) return false;
    return loadFromMemory(bytes.data(), bytes.size());
}

}  // namespace qel
