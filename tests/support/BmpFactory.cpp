#include "tests/support/BmpFactory.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "imaging/Bytes.h"

namespace qel::testing {

Bytes bmpHeader(int width, int height, int bitCount, std::uint32_t dataOffset, std::uint32_t fileSize,
                std::uint32_t clrUsed) {
    Bytes h(54, 0);
    h[0] = 'B';
    h[1] = 'M';
    writeLe32(&h[2], fileSize);
    writeLe32(&h[10], dataOffset);
    writeLe32(&h[14], 40);
    writeLe32(&h[18], static_cast<std::uint32_t>(width));
    writeLe32(&h[22], static_cast<std::uint32_t>(height));
    writeLe16(&h[26], 1);
    writeLe16(&h[28], static_cast<std::uint16_t>(bitCount));
    writeLe32(&h[46], clrUsed);
    return h;
}

Bytes makeBmp24(int width, int height, const ColourAt& colourAt) {
    const std::uint32_t dataSize = static_cast<std::uint32_t>(width * height * 3);
    Bytes b = bmpHeader(width, height, 24, 54, 54 + dataSize);
    for (int row = 0; row < height; ++row) {
        const int y = height - 1 - row;
        for (int x = 0; x < width; ++x) {
            const std::uint32_t c = colourAt(x, y);
            b.push_back(c & 0xFF);
            b.push_back((c >> 8) & 0xFF);
            b.push_back((c >> 16) & 0xFF);
        }
    }
    return b;
}

Bytes makeBmp16(int width, int height, const std::function<std::uint16_t(int x, int y)>& valueAt) {
    const std::uint32_t dataSize = static_cast<std::uint32_t>(width * height * 2);
    Bytes b = bmpHeader(width, height, 16, 54, 54 + dataSize);
    for (int row = 0; row < height; ++row) {
        for (int x = 0; x < width; ++x) {
            const std::uint16_t v = valueAt(x, height - 1 - row);
            b.push_back(v & 0xFF);
            b.push_back(v >> 8);
        }
    }
    return b;
}

Bytes makeBmp8(int width, int height, const std::vector<std::uint32_t>& palette,
               const std::function<std::uint8_t(int x, int y)>& indexAt) {
    const std::uint32_t dataOffset = 54 + 1024;
    const std::uint32_t dataSize = static_cast<std::uint32_t>(width * height);
    Bytes b = bmpHeader(width, height, 8, dataOffset, dataOffset + dataSize,
                        static_cast<std::uint32_t>(palette.size()));
    b.resize(dataOffset, 0);
    for (std::size_t i = 0; i < palette.size() && i < 256; ++i) {
        b[54 + 4 * i] = palette[i] & 0xFF;
        b[54 + 4 * i + 1] = (palette[i] >> 8) & 0xFF;
        b[54 + 4 * i + 2] = (palette[i] >> 16) & 0xFF;
    }
    for (int row = 0; row < height; ++row) {
        for (int x = 0; x < width; ++x) b.push_back(indexAt(x, height - 1 - row));
    }
    return b;
}

Bytes makeBmpOfBitCount(int width, int height, int bitCount) {
    const int bytesPerPixel = bitCount >= 8 ? bitCount / 8 : 1;
    const std::uint32_t dataSize = static_cast<std::uint32_t>(width * height * bytesPerPixel);
    Bytes b = bmpHeader(width, height, bitCount, 54, 54 + dataSize);
    b.resize(54 + dataSize, 0x77);
    return b;
}

std::uint32_t sampleSpriteColour(int x, int y) {
    // A five-pointed star: inside when the radius is below a wavy bound.
    const double dx = x - 11.5, dy = y - 11.5;
    const double r = std::sqrt(dx * dx + dy * dy);
    const double a = std::atan2(dy, dx);
    const double bound = 7.0 + 4.0 * std::cos(5.0 * (a + 1.5707963));
    if (r > bound) return 0xFF00FF;
    if (r > bound - 1.5) return 0x7A4A00;  // outline
    return r < 3.0 ? 0xFFF2A0 : 0xFFC400;
}

std::uint32_t sampleBackdropColour(int x, int y) {
    if (y >= 58) return (x + y) % 7 == 0 ? 0x3C8C2C : 0x4CA83A;  // grass
    const int t = y * 255 / 58;
    const std::uint32_t red = static_cast<std::uint32_t>(120 + t / 3);
    const std::uint32_t green = static_cast<std::uint32_t>(170 + t / 5);
    return (red << 16) | (green << 8) | 0xF0;
}

// Paths are UTF-8, as everywhere in the project; u8path makes them wide on
// Windows.
void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes readFile(const std::string& path) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace qel::testing
