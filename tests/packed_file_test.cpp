#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include <zlib.h>

#include "imaging/Raster.h"
#include "packed/PackedFile.h"
#include "tests/support/BmpFactory.h"
#include "tests/support/TestFiles.h"

namespace qel {
namespace {

using testing::Bytes;

Bytes pack(const Bytes& payload) { return packBytes(payload.data(), payload.size(), 9); }

// Raw deflate data, without the zlib header and check value.
Bytes rawDeflate(const Bytes& payload) {
    z_stream s{};
    EXPECT_EQ(deflateInit2(&s, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes out(deflateBound(&s, static_cast<uLong>(payload.size())));
    s.next_in = const_cast<Bytef*>(payload.data());
    s.avail_in = static_cast<uInt>(payload.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

// A zlib stream that needs a preset dictionary.
Bytes packWithDictionary(const Bytes& payload) {
    z_stream s{};
    EXPECT_EQ(deflateInit(&s, 9), Z_OK);
    const Bytef dictionary[] = "BM dictionary";
    deflateSetDictionary(&s, dictionary, sizeof dictionary);
    Bytes out(deflateBound(&s, static_cast<uLong>(payload.size())) + 16);
    s.next_in = const_cast<Bytef*>(payload.data());
    s.avail_in = static_cast<uInt>(payload.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

Bytes sprite24() { return testing::makeBmp24(24, 24, testing::sampleSpriteColour); }

// A BMP padded with trailing bytes to exactly size bytes.
Bytes bmpOfSize(std::size_t size) {
    Bytes b = testing::makeBmp24(24, 27, [](int x, int y) { return static_cast<std::uint32_t>(x * y); });
    b.resize(size, 0xAB);
    return b;
}

struct Decoded {
    DecodeResult result;
    std::string diag;
};

// Decodes into a sprite that shows a known placeholder beforehand.
Decoded decode(const Bytes& packed, Raster& sprite) {
    std::ostringstream diag;
    Decoded d{decodePackedBytes(packed.data(), packed.size(), sprite, diag), ""};
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
    void expectSpriteUntouched() const {
        EXPECT_EQ(sprite.width(), 24);
        EXPECT_EQ(sprite.pixelAt(0, 0), kTransparentKey);
        EXPECT_EQ(sprite.pixelAt(12, 12), kTransparentKey);
    }
    void expectInflateFailure(const Bytes& packed, int code) {
        const Decoded d = decode(packed, sprite);
        EXPECT_EQ(d.result.outcome, DecodeOutcome::inflateFailure);
        EXPECT_EQ(d.result.zlibCode, code);
        EXPECT_FALSE(d.result.hasPayload);
        EXPECT_EQ(d.diag, "INFLATE ERROR\nERROR NO : " + std::to_string(code) + "\n");
        expectSpriteUntouched();
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

TEST_F(PackedDecoder, PayloadsUpTo2048BytesFitAndLargerOnesFailWithBufError) {
    const Decoded fits = decode(pack(bmpOfSize(2048)), sprite);
    EXPECT_EQ(fits.result.outcome, DecodeOutcome::success);
    EXPECT_EQ(fits.result.payload.size(), 2048u);
    EXPECT_EQ(sprite.height(), 27);

    SetUp();
    expectInflateFailure(pack(bmpOfSize(2049)), Z_BUF_ERROR);
    // A 48x48 picture is 6,966 bytes.
    const Bytes big = testing::makeBmp24(48, 48, testing::sampleSpriteColour);
    ASSERT_EQ(big.size(), 6966u);
    expectInflateFailure(pack(big), -5);
}

TEST_F(PackedDecoder, BrokenStreamsAreRefusedWithZlibsCode) {
    const Bytes good = pack(sprite24());
    expectInflateFailure(Bytes{}, Z_BUF_ERROR);  // an empty file
    expectInflateFailure(Bytes(good.begin(), good.begin() + good.size() / 2), Z_BUF_ERROR);
    expectInflateFailure(Bytes(good.begin(), good.end() - 2), Z_BUF_ERROR);  // inside the check value

    Bytes badCheck = good;
    badCheck.back() ^= 0x01;
    expectInflateFailure(badCheck, Z_DATA_ERROR);

    const Decoded raw = decode(rawDeflate(sprite24()), sprite);
    EXPECT_EQ(raw.result.outcome, DecodeOutcome::inflateFailure);
    EXPECT_LT(raw.result.zlibCode, 0);
    EXPECT_EQ(raw.diag, "INFLATE ERROR\nERROR NO : " + std::to_string(raw.result.zlibCode) + "\n");
    expectSpriteUntouched();
}

TEST_F(PackedDecoder, BytesAfterTheStreamAreIgnored) {
    Bytes packed = pack(sprite24());
    packed.insert(packed.end(), 100, 0x5A);
    const Decoded d = decode(packed, sprite);
    EXPECT_EQ(d.result.outcome, DecodeOutcome::success);
    EXPECT_EQ(d.result.payload, sprite24());
}

TEST_F(PackedDecoder, ContentThatIsNotABmpHandsThePayloadOnQuietly) {
    const Bytes text = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'};
    const Decoded d = decode(pack(text), sprite);
    EXPECT_EQ(d.result.outcome, DecodeOutcome::notAPicture);
    EXPECT_TRUE(d.result.hasPayload);
    EXPECT_EQ(d.result.payload, text);
    EXPECT_EQ(d.diag, "");
    expectSpriteUntouched();
}

TEST_F(PackedDecoder, APresetDictionaryGivesAnEmptyPayloadThatIsNotAPicture) {
    const Decoded d = decode(packWithDictionary(sprite24()), sprite);
    EXPECT_EQ(d.result.outcome, DecodeOutcome::notAPicture);
    EXPECT_TRUE(d.result.hasPayload);
    EXPECT_TRUE(d.result.payload.empty());
    EXPECT_EQ(d.diag, "");
    expectSpriteUntouched();
}

TEST_F(PackedDecoder, FilesAreReadWholeOrNotAtAll) {
    testing::ScopedWorkDir dir;
    testing::writeFile("star.qel", pack(sprite24()));
    std::ostringstream diag;
    DecodeResult r = decodePackedFile("star.qel", sprite, diag);
    EXPECT_EQ(r.outcome, DecodeOutcome::success);
    EXPECT_EQ(r.payload, sprite24());

    SetUp();
    r = decodePackedFile("missing.qel", sprite, diag);
    EXPECT_EQ(r.outcome, DecodeOutcome::openFailure);
    EXPECT_FALSE(r.hasPayload);
    r = decodePackedFile(".", sprite, diag);  // a directory
    EXPECT_EQ(r.outcome, DecodeOutcome::openFailure);
    // Beyond the size limit a file is not even read.
    Bytes huge = pack(sprite24());
    huge.resize(kMaxPackedFileSize + 1, 0);
    testing::writeFile("huge.qel", huge);
    r = decodePackedFile("huge.qel", sprite, diag);
    EXPECT_EQ(r.outcome, DecodeOutcome::openFailure);
    EXPECT_EQ(diag.str(), "");
    expectSpriteUntouched();
}

TEST(PackedWords, OutcomesAreDescribedInTheViewersWords) {
    DecodeResult r;
    r.outcome = DecodeOutcome::inflateFailure;
    r.zlibCode = -5;
    EXPECT_EQ(describeOutcome(r), "inflate error -5");
    r.outcome = DecodeOutcome::notAPicture;
    EXPECT_EQ(describeOutcome(r), "not a picture");
    r.outcome = DecodeOutcome::openFailure;
    EXPECT_EQ(describeOutcome(r), "cannot open");
}

TEST(PackPicture, PacksOnlyWhatTheViewerCanShow) {
    const Bytes bmp = sprite24();
    const PackResult ok = packPicture(bmp.data(), bmp.size());
    ASSERT_EQ(ok.refusal, PackRefusal::none);
    Raster sprite;
    std::ostringstream diag;
    const DecodeResult back = decodePackedBytes(ok.packed.data(), ok.packed.size(), sprite, diag);
    EXPECT_EQ(back.outcome, DecodeOutcome::success);
    EXPECT_EQ(back.payload, bmp);

    const Bytes big = testing::makeBmp24(48, 48, testing::sampleSpriteColour);
    EXPECT_EQ(packPicture(big.data(), big.size()).refusal, PackRefusal::tooLarge);
    const Bytes text = {'n', 'o', 'p', 'e'};
    EXPECT_EQ(packPicture(text.data(), text.size()).refusal, PackRefusal::notAPicture);
}

}  // namespace
}  // namespace qel
