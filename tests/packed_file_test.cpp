#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "imaging/Raster.h"
#include "packed/PackedFile.h"
#include "tests/support/BmpFactory.h"
#include "tests/support/TestFiles.h"

namespace qel {
namespace {

using testing::Bytes;

Bytes pack(const Bytes& payload) { return packBytes(payload.data(), payload.size(), 9); }

Bytes sprite24() { return testing::makeBmp24(24, 24, testing::sampleSpriteColour); }

struct Decoded {
    DecodeResult result;
    std::string diag;
};

// Decodes into a sprite that shows a known placeholder beforehand.
Decoded decode(const Bytes& packed, Raster& sprite) {
    std::ostringstream diag;
    Decoded d{decodePacked(packed.data(), packed.size(), &sprite), ""};
    writeDecodeDiagnostic(diag, d.result);
    d.diag = diag.str();
    return d;
}

class PackedDecoder : public ::testing::Test {
protected:
    void SetUp() override {
        sprite.create(24, 24);
        sprite.setColour(kTransparentKey);
        sprite.fill();
    }
    Raster sprite;
};

TEST_F(PackedDecoder, ASpriteDecodesIntoItsPayloadAndPicture) {
    const Bytes payload = sprite24();
    ASSERT_EQ(payload.size(), 1782u);
    const Decoded d = decode(pack(payload), sprite);
    EXPECT_EQ(d.result.outcome, DecodeOutcome::success);
    EXPECT_TRUE(d.result.hasPayload);
    EXPECT_EQ(d.result.payload, payload);
    EXPECT_EQ(d.diag, "");
    EXPECT_EQ(0, std::memcmp(sprite.pixels(), payload.data() + 54, 1728));
}

TEST_F(PackedDecoder, EightAndSixteenBitPayloadsAreConverted) {
    std::vector<std::uint32_t> palette(256);
    for (int i = 0; i < 256; ++i) palette[i] = static_cast<std::uint32_t>(i * 0x010101);
    const Bytes bmp8 = testing::makeBmp8(24, 24, palette, [](int x, int) { return std::uint8_t(x * 10); });
    ASSERT_EQ(bmp8.size(), 1654u);
    Decoded d = decode(pack(bmp8), sprite);
    EXPECT_EQ(d.result.outcome, DecodeOutcome::success);
    EXPECT_EQ(d.result.payload, bmp8);
    EXPECT_EQ(sprite.pixelAt(3, 5), 0x1E1E1Eu);

    const Bytes bmp16 = testing::makeBmp16(24, 24, [](int, int) { return std::uint16_t{0x7C00}; });
    d = decode(pack(bmp16), sprite);
    EXPECT_EQ(d.result.outcome, DecodeOutcome::success);
    EXPECT_EQ(d.result.payload, bmp16);  // the payload stays as it came, 16-bit
    EXPECT_EQ(sprite.pixelAt(7, 7), 0xFF0000u);
}

TEST_F(PackedDecoder, AFileIsReadWholeAndDecodedAsItsBytesAre) {
    testing::ScopedWorkDir dir;
    testing::writeFile("star.qel", pack(sprite24()));
    const DecodeResult r = decodePackedFile("star.qel", &sprite);
    EXPECT_EQ(r.outcome, DecodeOutcome::success);
    EXPECT_EQ(r.payload, sprite24());
    EXPECT_EQ(0, std::memcmp(sprite.pixels(), r.payload.data() + 54, 1728));
}

TEST(PackPicture, PacksOnlyWhatTheViewerCanShow) {
    const Bytes bmp = sprite24();
    const PackResult ok = packPicture(bmp.data(), bmp.size());
    ASSERT_EQ(ok.refusal, PackRefusal::none);
    Raster sprite;
    const DecodeResult back = decodePacked(ok.packed.data(), ok.packed.size(), &sprite);
    EXPECT_EQ(back.outcome, DecodeOutcome::success);
    EXPECT_EQ(back.payload, bmp);

    const Bytes big = testing::makeBmp24(48, 48, testing::sampleSpriteColour);
    EXPECT_EQ(packPicture(big.data(), big.size()).refusal, PackRefusal::tooLarge);
    const Bytes text = {'n', 'o', 'p', 'e'};
    EXPECT_EQ(packPicture(text.data(), text.size()).refusal, PackRefusal::notAPicture);
}

}  // namespace
}  // namespace qel
