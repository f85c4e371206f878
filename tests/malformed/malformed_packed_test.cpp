// The packed file decoder against hostile streams and hostile payloads: the
// outcome, the zlib code, the diagnostic text, the payload and the sprite.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <tuple>

#include "files/FileIo.h"
#include "imaging/Raster.h"
#include "packed/PackedFile.h"
#include "tests/malformed/Cases.h"
#include "tests/malformed/RasterSnapshot.h"

namespace qel::testing {
namespace {

struct Decoded {
    DecodeResult result;
    std::string diag;
    bool spriteUnchanged = false;
    int spriteWidth = 0;
};

Decoded decode(const Bytes& packed) {
    Raster sprite;
    makePlaceholderSprite(sprite);
    const RasterSnapshot before(sprite);
    std::ostringstream diag;
    Decoded d;
    d.result = decodePacked(packed.data(), packed.size(), &sprite);
    writeDecodeDiagnostic(diag, d.result);
    d.diag = diag.str();
    d.spriteUnchanged = RasterSnapshot(sprite) == before;
    d.spriteWidth = sprite.width();
    return d;
}

// An inflate failure: the code, its two diagnostic lines, no payload, the
// sprite left alone.
void expectInflateError(const std::string& name, int code) {
    SCOPED_TRACE(name);
    const Decoded d = decode(hostilePacked(name));
    EXPECT_EQ(d.result.outcome, DecodeOutcome::inflateFailure);
    EXPECT_EQ(d.result.zlibCode, code);
    EXPECT_EQ(d.diag, "INFLATE ERROR\nERROR NO : " + std::to_string(code) + "\n");
    EXPECT_EQ(describeOutcome(d.result), "inflate error " + std::to_string(code));
    EXPECT_FALSE(d.result.hasPayload);
    EXPECT_TRUE(d.result.payload.empty());
    EXPECT_TRUE(d.spriteUnchanged);
}

// Not a picture: the payload is handed on byte for byte, silently, and the
// sprite is left alone.
void expectNotAPicture(const Bytes& packed, const Bytes& payload) {
    const Decoded d = decode(packed);
    EXPECT_EQ(d.result.outcome, DecodeOutcome::notAPicture);
    EXPECT_EQ(describeOutcome(d.result), "not a picture");
    EXPECT_EQ(d.diag, "");
    EXPECT_TRUE(d.result.hasPayload);
    EXPECT_EQ(d.result.payload, payload);
    EXPECT_TRUE(d.spriteUnchanged);
}

void expectSuccess(const Bytes& packed, const Bytes& payload) {
    const Decoded d = decode(packed);
    EXPECT_EQ(d.result.outcome, DecodeOutcome::success);
    EXPECT_EQ(describeOutcome(d.result), "ok");
    EXPECT_EQ(d.diag, "");
    EXPECT_TRUE(d.result.hasPayload);
    EXPECT_EQ(d.result.payload, payload);
    EXPECT_FALSE(d.spriteUnchanged);
}

TEST(MalformedPacked, EmptyOrNullInputIsAnInflateBufferError) {
    expectInflateError("empty", -5);
    std::ostringstream diag;
    Raster sprite;
    const DecodeResult r = decodePacked(nullptr, 0, &sprite);
    writeDecodeDiagnostic(diag, r);
    EXPECT_EQ(r.outcome, DecodeOutcome::inflateFailure);
    EXPECT_EQ(r.zlibCode, -5);
    EXPECT_EQ(diag.str(), "INFLATE ERROR\nERROR NO : -5\n");
}

TEST(MalformedPacked, TruncatedZlibHeaderIsAnInflateBufferError) {
    expectInflateError("one-byte", -5);
    expectInflateError("header-only", -5);
}

TEST(MalformedPacked, StreamCutInTheMiddleIsAnInflateBufferError) { expectInflateError("cut-mid-stream", -5); }

TEST(MalformedPacked, StreamCutInTheCheckValueIsAnInflateBufferError) {
    expectInflateError("cut-in-check", -5);
    expectInflateError("check-missing", -5);
}

TEST(MalformedPacked, WrongCheckValueIsAnInflateDataError) { expectInflateError("bad-check", -3); }

TEST(MalformedPacked, StreamsWithoutAZlibHeaderAreInflateDataErrors) {
    expectInflateError("bad-header-check", -3);
    expectInflateError("unknown-method", -3);
    expectInflateError("raw-deflate", -3);
    expectInflateError("gzip", -3);
}

TEST(MalformedPacked, CorruptDeflateDataIsAnInflateDataError) {
    expectInflateError("invalid-block-type", -3);
    expectInflateError("stored-length-mismatch", -3);
}

TEST(MalformedPacked, PayloadOverTheLimitIsAnInflateBufferError) {
    expectInflateError("payload-2049", -5);
    expectInflateError("payload-27x27", -5);
    // A mebibyte of zeros packs into about a kilobyte; inflating stops at the
    // buffer's end rather than allocating for it.
    EXPECT_LT(hostilePacked("payload-mebibyte-of-zeros").size(), 2048u);
    expectInflateError("payload-mebibyte-of-zeros", -5);
}

TEST(MalformedPacked, PayloadOfExactlyTheLimitDecodes) {
    expectSuccess(hostilePacked("payload-exactly-2048"), pictureOfExactSize(kMaxPayloadSize));
}

TEST(MalformedPacked, InputWithoutOutputIsTakenAlsoWhenTheBufferIsFull) {
    // Empty blocks before the data, or after a payload that fills the
    // buffer: the stream still ends, and decodes as a whole.
    expectSuccess(hostilePacked("empty-blocks-before"), sampleSprite24());
    expectSuccess(hostilePacked("empty-blocks-after-a-full-buffer"), pictureOfExactSize(kMaxPayloadSize));
    EXPECT_GT(hostilePacked("empty-blocks-after-a-full-buffer").size(), 3000u);
    expectInflateError("empty-blocks-after-2049", -5);
}

TEST(MalformedPacked, PresetDictionaryGivesAnEmptyPayloadThatIsNotAPicture) {
    const Bytes packed = hostilePacked("preset-dictionary");
    ASSERT_GE(packed.size(), 2u);
    ASSERT_TRUE(packed[1] & 0x20);  // FDICT
    expectNotAPicture(packed, Bytes{});
}

TEST(MalformedPacked, BytesAfterTheStreamAreIgnored) {
    expectSuccess(hostilePacked("trailing-garbage"), sampleSprite24());
    // A second stream is trailing bytes too: only the first one is read.
    expectSuccess(hostilePacked("two-streams"), sampleSprite24());
}

TEST(MalformedPacked, PayloadThatIsNotABmpIsNotAPicture) {
    const std::string text = "hello, not a pic";
    expectNotAPicture(hostilePacked("payload-text"), Bytes(text.begin(), text.end()));
    expectNotAPicture(hostilePacked("payload-empty"), Bytes{});
    expectNotAPicture(hostilePacked("payload-cut-bmp"), truncated(sampleSprite24(), sampleSprite24().size() - 1));
}

TEST(MalformedPacked, EveryBmpTheReaderRefusesIsNotAPictureWithItsPayloadKept) {
    for (const NamedInput& bmp : hostileBmps()) {
        Raster probe;
        if (probe.loadFromMemory(bmp.bytes.data(), bmp.bytes.size())) continue;
        SCOPED_TRACE(bmp.name);
        expectNotAPicture(packBytes(bmp.bytes.data(), bmp.bytes.size(), 9), bmp.bytes);
    }
}

TEST(MalformedPacked, TinyFileDeclaringTheLargestBlankPictureDecodesWithinTheLimit) {
    const Bytes packed = hostilePacked("payload-max-pixels-bits1");
    EXPECT_LT(packed.size(), 64u);
    const Decoded d = decode(packed);
    EXPECT_EQ(d.result.outcome, DecodeOutcome::success);
    EXPECT_EQ(d.result.payload.size(), 54u);
    EXPECT_EQ(d.spriteWidth, 4096);
}

TEST(MalformedPacked, SoundStreamsOfEveryKindDecode) {
    expectSuccess(hostilePacked("stored-sprite"), sampleSprite24());
    expectSuccess(hostilePacked("sprite8"), sampleSprite8());
    expectSuccess(hostilePacked("sprite16"), sampleSprite16());
}

// Everything one decoding gives, to compare ways of decoding: outcome,
// code, payload, diagnostic and the sprite's header and pixels.
template <typename Decode>
auto decodedBy(Decode decode) {
    Raster sprite;
    makePlaceholderSprite(sprite);
    std::ostringstream diag;
    const DecodeResult r = decode(sprite);
    writeDecodeDiagnostic(diag, r);
    const RasterSnapshot after(sprite);
    return std::make_tuple(r.outcome, r.zlibCode, r.hasPayload, r.payload, diag.str(), after.header, after.pixels);
}

// Feeds bytes to a stream decoder in pieces of piece bytes, as a host's
// increments come, until it says the rest is not needed.
DecodeResult fedInPieces(const Bytes& bytes, std::size_t piece, Raster& sprite) {
    PackedDecoder decoder;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        if (!decoder.feed(bytes.data() + at, std::min(piece, bytes.size() - at))) break;
    }
    return decoder.finish(&sprite);
}

TEST(MalformedPacked, EveryStreamDecodesAlikeInPiecesOfAnySizeAndOnAReusedState) {
    // Each piece boundary stops inflate in another place; none may change a
    // thing, pulled from a source or pushed by the caller. One decoder goes
    // through every case in turn, as a worker does.
    PackedDecoder reused(PackedDecoder::ZlibState::reused);
    for (const NamedInput& input : hostilePackedFiles()) {
        // A stream of a few bytes that loads a 48 MiB picture: slow to
        // compare, and nothing for piece boundaries to find.
        if (input.name == "payload-max-pixels-bits1") continue;
        SCOPED_TRACE(input.name);
        const Bytes& bytes = input.bytes;
        const auto whole = decodedBy([&](Raster& sprite) { return decodePacked(bytes.data(), bytes.size(), &sprite); });
        for (const std::size_t piece : {1, 2, 5, 64, 1000}) {
            EXPECT_TRUE(whole == decodedBy([&](Raster& sprite) {
                MemorySource source(bytes.data(), bytes.size(), piece);
                return decodePacked(source, &sprite);
            })) << "pieces of " << piece;
            EXPECT_TRUE(whole == decodedBy([&](Raster& sprite) { return fedInPieces(bytes, piece, sprite); }))
                << "fed in pieces of " << piece;
        }
        EXPECT_TRUE(whole == decodedBy([&](Raster& sprite) {
            MemorySource source(bytes.data(), bytes.size(), 3);
            DecodeResult result;
            reused.decode(source, &sprite, result);
            return result;
        })) << "reused state";
    }
}

TEST(MalformedPacked, DecodingWithoutASpriteGivesTheSameOutcomeAndPayload) {
    // qel info and extract decode without pixels into one result per worker:
    // nothing of one file may linger into the next, whatever order they come in.
    std::vector<NamedInput> cases = hostilePackedFiles();
    for (const NamedInput& sound : soundBmps()) {
        cases.push_back({sound.name, packBytes(sound.bytes.data(), sound.bytes.size(), 9)});
    }
    PackedDecoder reused(PackedDecoder::ZlibState::reused);
    DecodeResult kept;
    for (const NamedInput& input : cases) {
        SCOPED_TRACE(input.name);
        const Bytes& bytes = input.bytes;
        Raster sprite;
        std::ostringstream wholeDiag;
        const DecodeResult whole = decodePacked(bytes.data(), bytes.size(), &sprite);
        writeDecodeDiagnostic(wholeDiag, whole);
        std::ostringstream diag;
        MemorySource source(bytes.data(), bytes.size(), 7);
        reused.decode(source, nullptr, kept);
        writeDecodeDiagnostic(diag, kept);
        EXPECT_EQ(kept.outcome, whole.outcome);
        EXPECT_EQ(kept.zlibCode, whole.zlibCode);
        EXPECT_EQ(kept.hasPayload, whole.hasPayload);
        EXPECT_EQ(kept.payload, whole.payload);
        EXPECT_EQ(diag.str(), wholeDiag.str());
    }
}

// A source that counts what it hands out.
class CountingSource final : public ByteSource {
public:
    CountingSource(const Bytes& bytes, std::size_t piece) : inner_(bytes.data(), bytes.size(), piece) {}
    bool read(std::uint8_t* buffer, std::size_t capacity, std::size_t& count) override {
        const bool ok = inner_.read(buffer, capacity, count);
        handedOut += count;
        return ok;
    }
    std::size_t handedOut = 0;

private:
    MemorySource inner_;
};

TEST(MalformedPacked, ReadingStopsWhereTheOutcomeIsDecided) {
    // A sound stream followed by a mebibyte: nothing after the stream's end
    // is asked for.
    Bytes file = hostilePacked("sprite8");
    const std::size_t streamSize = file.size();
    file.resize(streamSize + (1u << 20), 0xA5);
    CountingSource sound(file, 100);
    Raster sprite;
    EXPECT_EQ(decodePacked(sound, &sprite).outcome, DecodeOutcome::success);
    EXPECT_LT(sound.handedOut, streamSize + 100);

    // Fed by the caller, the decoder says so at the piece that ends it.
    PackedDecoder pushed;
    std::size_t taken = 0;
    while (taken < file.size() && pushed.feed(file.data() + taken, 100)) taken += 100;
    EXPECT_LT(taken, streamSize);
    EXPECT_EQ(pushed.finish(&sprite).outcome, DecodeOutcome::success);
    EXPECT_FALSE(pushed.feed(file.data(), 1));
    EXPECT_EQ(pushed.finish(&sprite).outcome, DecodeOutcome::openFailure);  // once only

    // A read that fails is a file that cannot be read: no diagnostic.
    class FailingSource final : public ByteSource {
    public:
        bool read(std::uint8_t*, std::size_t, std::size_t& count) override {
            count = 0;
            return false;
        }
    } failing;
    std::ostringstream quiet;
    const DecodeResult failed = decodePacked(failing, &sprite);
    writeDecodeDiagnostic(quiet, failed);
    EXPECT_EQ(failed.outcome, DecodeOutcome::openFailure);
    EXPECT_FALSE(failed.hasPayload);
    EXPECT_EQ(quiet.str(), "");
}

}  // namespace
}  // namespace qel::testing
