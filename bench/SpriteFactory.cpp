#include "bench/SpriteFactory.h"

#include "imaging/Bytes.h"

namespace qel::bench {

namespace {

constexpr int kSize = 24;

std::vector<std::uint8_t> header(int width, int height, int bitCount, std::uint32_t dataOffset,
                                 std::uint32_t dataSize) {
    std::vector<std::uint8_t> h(54, 0);
    h[0] = 'B';
    h[1] = 'M';
    writeLe32(&h[2], dataOffset + dataSize);
    writeLe32(&h[10], dataOffset);
    writeLe32(&h[14], 40);
    writeLe32(&h[18], static_cast<std::uint32_t>(width));
    writeLe32(&h[22], static_cast<std::uint32_t>(height));
    writeLe16(&h[26], 1);
    writeLe16(&h[28], static_cast<std::uint16_t>(bitCount));
    return h;
}

// A disc on the key colour, its size, place and colours taken from the seed.
std::uint32_t spriteColour(unsigned seed, int x, int y) {
    const int cx = 8 + static_cast<int>(seed % 9);
    const int cy = 8 + static_cast<int>((seed / 9) % 9);
    const int radius = 5 + static_cast<int>((seed / 81) % 5);
    const int dx = x - cx, dy = y - cy;
    const int d2 = dx * dx + dy * dy;
    if (d2 > radius * radius) return 0xFF00FF;
    const std::uint32_t base = (seed * 2654435761u) & 0xFFFFFF;
    if (d2 > (radius - 1) * (radius - 1)) return base >> 1 & 0x7F7F7F;  // darker rim
    return (base + static_cast<std::uint32_t>(x * 0x030201 + y * 0x010203)) & 0xFFFFFF;
}

}  // namespace

std::vector<std::uint8_t> makeSprite24(unsigned seed) {
    std::vector<std::uint8_t> b = header(kSize, kSize, 24, 54, kSize * kSize * 3);
    for (int row = 0; row < kSize; ++row) {
        for (int x = 0; x < kSize; ++x) {
            const std::uint32_t c = spriteColour(seed, x, kSize - 1 - row);
            b.push_back(static_cast<std::uint8_t>(c));
            b.push_back(static_cast<std::uint8_t>(c >> 8));
            b.push_back(static_cast<std::uint8_t>(c >> 16));
        }
    }
    return b;
}

std::vector<std::uint8_t> makeSprite16(unsigned seed) {
    std::vector<std::uint8_t> b = header(kSize, kSize, 16, 54, kSize * kSize * 2);
    for (int row = 0; row < kSize; ++row) {
        for (int x = 0; x < kSize; ++x) {
            const std::uint32_t c = spriteColour(seed, x, kSize - 1 - row);
            const unsigned v = ((c >> 19) & 0x1F) << 10 | ((c >> 11) & 0x1F) << 5 | ((c >> 3) & 0x1F);
            b.push_back(static_cast<std::uint8_t>(v));
            b.push_back(static_cast<std::uint8_t>(v >> 8));
        }
    }
    return b;
}

std::vector<std::uint8_t> makeSprite8(unsigned seed) {
    const std::uint32_t dataOffset = 54 + 1024;
    std::vector<std::uint8_t> b = header(kSize, kSize, 8, dataOffset, kSize * kSize);
    b.resize(dataOffset, 0);
    for (unsigned i = 0; i < 256; ++i) {  // entry 0 is the key colour
        const std::uint32_t c = i == 0 ? 0xFF00FF : (seed + i * 0x010305u) & 0xFFFFFF;
        b[54 + 4 * i] = static_cast<std::uint8_t>(c);
        b[54 + 4 * i + 1] = static_cast<std::uint8_t>(c >> 8);
        b[54 + 4 * i + 2] = static_cast<std::uint8_t>(c >> 16);
    }
    for (int row = 0; row < kSize; ++row) {
        for (int x = 0; x < kSize; ++x) {
            const std::uint32_t c = spriteColour(seed, x, kSize - 1 - row);
            b.push_back(c == 0xFF00FF ? 0 : static_cast<std::uint8_t>(1 + (c % 255)));
        }
    }
    return b;
}

std::vector<std::uint8_t> makeBackdrop() {
    constexpr int width = 144, height = 76;
    std::vector<std::uint8_t> b = header(width, height, 24, 54, width * height * 3);
    for (int row = 0; row < height; ++row) {
        const int y = height - 1 - row;
        for (int x = 0; x < width; ++x) {
            b.push_back(static_cast<std::uint8_t>(0xF0));
            b.push_back(static_cast<std::uint8_t>(170 + y));
            b.push_back(static_cast<std::uint8_t>(120 + x / 2));
        }
    }
    return b;
}

}  // namespace qel::bench
