// The BMP writer and the whole-image and per-pixel operations of Raster.
#include <cstring>
#include <limits>
#include <ostream>

#include "imaging/Bytes.h"
#include "files/FileIo.h"
#include "imaging/Raster.h"

#include <iostream>

namespace qel {

std::vector<std::uint8_t> Raster::encodeBmp() const {
    std::vector<std::uint8_t> out;
    if (!pixels_) return out;
    const std::uint64_t dataBytes = pixelBytes();
    const std::uint64_t fileBytes = dataBytes + kBmpHeaderSize;
    if (fileBytes > std::numeric_limits<std::uint32_t>::max()) return out;  // bfSize cannot say it

    out.resize(static_cast<std::size_t>(fileBytes));
    std::uint8_t* f = out.data();
    writeLe16(f + 0, 0x4D42);                                // bfType "BM"
    writeLe32(f + 2, static_cast<std::uint32_t>(fileBytes));  // bfSize
    writeLe16(f + 6, 0);                                     // bfReserved1
    writeLe16(f + 8, 0);                                     // bfReserved2
    writeLe32(f + 10, kBmpHeaderSize);                       // bfOffBits
    std::memcpy(f + kFileHeaderSize, header_.data(), kInfoHeaderSize);
    // The rows written are always 24-bit, whatever bit count a load of an
    // unconverted picture left in the header; say so, or the file would lie.
    writeLe16(f + kFileHeaderSize + biBitCount, 24);
    std::memcpy(f + kBmpHeaderSize, pixels_.get(), static_cast<std::size_t>(dataBytes));
    return out;
}

bool Raster::saveToFile(const std::string& path, std::ostream& diag) const {
    const std::vector<std::uint8_t> bytes = encodeBmp();
    if (bytes.empty()) {
        diag << "cant save " << path << ": no picture" << std::endl;
        return false;
    }
    if (publishFile(path, bytes.data(), bytes.size(), true).outcome != WriteOutcome::written) {
        diag << "cant create " << path << std::endl;
        return false;
    }
    return true;
}

bool Raster::saveToFile(const std::string& path) const { return saveToFile(path, std::cerr); }

void Raster::toGray() {
    std::uint8_t* p = pixels_.get();
    const std::size_t bytes = pixelBytes();
    for (std::size_t i = 0; i < bytes; i += 3) {
        const double blue = p[i];
        const double green = p[i + 1];
        const double red = p[i + 2];
        // Evaluated in this order in double precision, then truncated, so that
        // every build gives the same greys (10,10,10 becomes 9).
        const double weighted = (red * 0.3 + green * 0.59) + blue * 0.11;
        const auto grey = static_cast<std::uint8_t>(static_cast<int>(weighted));
        p[i] = p[i + 1] = p[i + 2] = grey;
    }
}

void Raster::invert() {
    std::uint8_t* p = pixels_.get();
    const std::size_t bytes = pixelBytes();
    for (std::size_t i = 0; i < bytes; ++i) p[i] = static_cast<std::uint8_t>(~p[i]);
}

void Raster::setColourRgb(int red, int green, int blue) {
    const auto inRange = [](int c) { return c >= 0 && c <= 255; };
    if (!inRange(red) || !inRange(green) || !inRange(blue)) return;
    colour_ = static_cast<std::uint32_t>(red * 65536 + green * 256 + blue);
}

void Raster::setPixel(int x, int y) {
    if (!pixels_ || x < 0 || x >= width_ || y < 1 || y > height_) return;
    const std::size_t row = static_cast<std::size_t>(height_ - y);
    std::uint8_t* p = pixels_.get() + (row * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x)) * 3;
    p[0] = colour_ & 0xFF;
    p[1] = (colour_ & 0xFF00) >> 8;
    p[2] = (colour_ & 0xFF0000) >> 16;
}

}  // namespace qel
