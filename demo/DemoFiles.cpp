#include "demo/DemoFiles.h"

#include <cmath>
#include <filesystem>
#include <map>
#include <ostream>
#include <system_error>

#include "files/FileIo.h"
#include "packed/PackedFile.h"
#include "tests/support/BmpFactory.h"
#include "viewer/Scene.h"

namespace qel::demo {

namespace {

using testing::Bytes;

constexpr int kSize = kSpriteSize;

// The nearest X1R5G5B5 value. The viewer widens 5-bit channels so that 31
// comes back as 255, so the key colour survives the round trip.
std::uint16_t toX1R5G5B5(std::uint32_t colour) {
    const auto channel = [colour](int shift) {
        const unsigned c = (colour >> shift) & 0xFF;
        return static_cast<std::uint16_t>((c * 31 + 127) / 255);
    };
    return static_cast<std::uint16_t>((channel(16) << 10) | (channel(8) << 5) | channel(0));
}

// An 8-bit picture of a drawing with few colours: the palette holds the
// distinct colours in the order they are met, the key colour first.
Bytes makePalettedSprite(const testing::ColourAt& colourAt) {
    std::vector<std::uint32_t> palette{kTransparentKey};
    std::map<std::uint32_t, std::uint8_t> indexOf{{kTransparentKey, 0}};
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const std::uint32_t c = colourAt(x, y);
            if (indexOf.count(c) == 0 && palette.size() < 256) {
                indexOf[c] = static_cast<std::uint8_t>(palette.size());
                palette.push_back(c);
            }
        }
    }
    return testing::makeBmp8(kSize, kSize, palette, [&](int x, int y) {
        const auto it = indexOf.find(colourAt(x, y));
        return it == indexOf.end() ? std::uint8_t{0} : it->second;
    });
}

Bytes pack(const Bytes& bmp) { return packPicture(bmp.data(), bmp.size()).packed; }

}  // namespace

std::uint32_t heartColour(int x, int y) {
    // The classic heart curve (u^2 + v^2 - 1)^3 - u^2 v^3 <= 0, scaled to
    // about 20 pixels and turned point down.
    const auto inside = [](double px, double py) {
        const double u = (px - 11.5) / 9.0;
        const double v = (12.5 - py) / 9.0 + 0.1;
        const double s = u * u + v * v - 1.0;
        return s * s * s - u * u * v * v * v <= 0.0;
    };
    if (!inside(x, y)) return kTransparentKey;
    // Outline: a pixel with a 4-neighbour outside the shape.
    if (!inside(x - 1, y) || !inside(x + 1, y) || !inside(x, y - 1) || !inside(x, y + 1)) {
        return 0x6A0A1A;
    }
    const double dx = x - 7.5, dy = y - 7.0;
    return dx * dx + dy * dy < 5.0 ? 0xFF9AA8 : 0xE0203A;  // a highlight, then red
}

std::vector<DemoFile> makeDemoFiles() {
    std::vector<DemoFile> files;
    files.push_back({"bg/bg.bmp", testing::makeBmp24(kCanvasWidth, kCanvasHeight, testing::sampleBackdropColour),
                     "the backdrop, 144x76"});

    const Bytes star24 = testing::makeBmp24(kSize, kSize, testing::sampleSpriteColour);
    const Bytes star16 = testing::makeBmp16(kSize, kSize, [](int x, int y) {
        return toX1R5G5B5(testing::sampleSpriteColour(x, y));
    });
    const Bytes star8 = makePalettedSprite(testing::sampleSpriteColour);
    const Bytes heart = testing::makeBmp24(kSize, kSize, heartColour);

    const Bytes starPacked = pack(star24);
    files.push_back({"star.qel", starPacked, "star, 24-bit"});
    files.push_back({"star16.qel", pack(star16), "star, 16-bit"});
    files.push_back({"star8.qel", pack(star8), "star, 8-bit with a palette"});
    files.push_back({"heart.qel", pack(heart), "heart, 24-bit"});
    files.push_back({"broken.qel", Bytes(starPacked.begin(), starPacked.begin() + starPacked.size() / 2),
                     "the star cut off half way: an inflate error, Extract(BMP) grayed"});
    return files;
}

bool writeDemoFiles(const std::string& dir, std::ostream& out, std::ostream& diag) {
    const std::filesystem::path root(dir);
    for (const DemoFile& file : makeDemoFiles()) {
        const std::filesystem::path path = root / file.name;
        std::error_code ec;
        std::filesystem::create_directories(path.parent_path(), ec);
        if (ec) {
            diag << "cant create " << path.parent_path().string() << ": " << ec.message() << "\n";
            return false;
        }
        if (file.bytes.empty()) {
            diag << "cant make " << file.name << "\n";
            return false;
        }
        const WriteResult written = publishFile(path.string(), file.bytes.data(), file.bytes.size(), true);
        if (written.outcome != WriteOutcome::written) {
            diag << "cant create " << path.string() << "\n";
            return false;
        }
        out << path.string() << "  (" << file.note << ")\n";
    }
    return true;
}

}  // namespace qel::demo
