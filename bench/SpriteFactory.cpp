#include "bench/SpriteFactory.h"

#include "tests/support/BmpFactory.h"

namespace qel::bench {

namespace {

constexpr int kSize = 24;

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
    return testing::makeBmp24(kSize, kSize, [seed](int x, int y) { return spriteColour(seed, x, y); });
}

std::vector<std::uint8_t> makeSprite16(unsigned seed) {
    return testing::makeBmp16(kSize, kSize, [seed](int x, int y) {
        const std::uint32_t c = spriteColour(seed, x, y);
        return static_cast<std::uint16_t>(((c >> 19) & 0x1F) << 10 | ((c >> 11) & 0x1F) << 5 | ((c >> 3) & 0x1F));
    });
}

std::vector<std::uint8_t> makeSprite8(unsigned seed) {
    std::vector<std::uint32_t> palette(256);
    for (unsigned i = 0; i < 256; ++i) {  // entry 0 is the key colour
        palette[i] = i == 0 ? 0xFF00FF : (seed + i * 0x010305u) & 0xFFFFFF;
    }
    return testing::makeBmp8(kSize, kSize, palette, [seed](int x, int y) {
        const std::uint32_t c = spriteColour(seed, x, y);
        return c == 0xFF00FF ? std::uint8_t{0} : static_cast<std::uint8_t>(1 + (c % 255));
    });
}

std::vector<std::uint8_t> makeBackdrop() {
    return testing::makeBmp24(144, 76, [](int x, int y) {
        return (static_cast<std::uint32_t>(120 + x / 2) << 16) | (static_cast<std::uint32_t>(170 + y) << 8) | 0xF0u;
    });
}

}  // namespace qel::bench
