#include "tests/malformed/HostileInputs.h"

#include <cstring>

#include <zlib.h>

#include "imaging/Bytes.h"
#include "packed/PackedFile.h"

namespace qel::testing {

namespace {

constexpr std::size_t kBfOffBits = 10;
constexpr std::size_t kBiWidth = 18;
constexpr std::size_t kBiHeight = 22;
constexpr std::size_t kBiBitCount = 28;
constexpr std::size_t kBiSizeImage = 34;
constexpr std::size_t kBiClrUsed = 46;

std::uint32_t asField(int value) { return static_cast<std::uint32_t>(value); }

Bytes packed(const Bytes& payload, int level = Z_BEST_COMPRESSION) {
    return packBytes(payload.data(), payload.size(), level);
}

// A two-byte zlib header with the given CMF byte and flag bits, its check
// bits set so that zlib gets past the header test.
Bytes zlibHeader(std::uint8_t cmf, std::uint8_t flagBits) {
    std::uint8_t flg = static_cast<std::uint8_t>(flagBits & 0xE0);
    while ((cmf * 256u + flg) % 31u != 0) ++flg;
    return {cmf, flg};
}

// Deflates payload in one call on a stream set up by the caller, and ends the
// stream; empty when zlib fails.
Bytes finishDeflate(z_stream& s, const Bytes& payload) {
    Bytes out(deflateBound(&s, static_cast<uLong>(payload.size())) + 32);
    s.next_in = const_cast<Bytef*>(payload.data());
    s.avail_in = static_cast<uInt>(payload.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    const int code = deflate(&s, Z_FINISH);
    out.resize(s.total_out);
    deflateEnd(&s);
    return code == Z_STREAM_END ? out : Bytes{};
}

Bytes gzipped(const Bytes& payload) {
    z_stream s;
    std::memset(&s, 0, sizeof s);
    if (deflateInit2(&s, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
    return finishDeflate(s, payload);
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A zlib stream of payload with empty stored blocks before and after its
// data: input that inflate takes without giving any output, also once the
// output is full. Empty when zlib fails.
Bytes withEmptyBlocks(const Bytes& payload, int before, int after) {
    z_stream s;
    std::memset(&s, 0, sizeof s);
    if (deflateInit2(&s, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
    Bytes data(deflateBound(&s, static_cast<uLong>(payload.size())) + 32);
    s.next_in = const_cast<Bytef*>(payload.data());
    s.avail_in = static_cast<uInt>(payload.size());
    s.next_out = data.data();
    s.avail_out = static_cast<uInt>(data.size());
    // A sync flush ends on a byte boundary, where stored blocks may follow.
    const int code = deflate(&s, Z_SYNC_FLUSH);
    data.resize(s.total_out);
    deflateEnd(&s);
    if (code != Z_OK || s.avail_in != 0) return {};

    const Bytes emptyBlock = {0x00, 0x00, 0x00, 0xFF, 0xFF};
    Bytes out = zlibHeader(0x78, 0);
    for (int i = 0; i < before; ++i) out = concat(std::move(out), emptyBlock);
    out = concat(std::move(out), data);
    for (int i = 0; i < after; ++i) out = concat(std::move(out), emptyBlock);
    out = concat(std::move(out), Bytes{0x01, 0x00, 0x00, 0xFF, 0xFF});  // the final block, empty
    const uLong check = adler32(adler32(0, nullptr, 0), payload.data(), static_cast<uInt>(payload.size()));
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(check >> shift));
    return out;
}

}  // namespace

Bytes sampleSprite24() { return makeBmp24(24, 24, sampleSpriteColour); }

Bytes sampleSprite16() {
    return makeBmp16(24, 24, [](int x, int y) {
        const std::uint32_t c = sampleSpriteColour(x, y);
        const unsigned r = (c >> 19) & 0x1F, g = (c >> 11) & 0x1F, b = (c >> 3) & 0x1F;
        return static_cast<std::uint16_t>((r << 10) | (g << 5) | b);
    });
}

Bytes sampleSprite8() {
    const std::vector<std::uint32_t> palette = {0xFF00FF, 0x7A4A00, 0xFFF2A0, 0xFFC400};
    return makeBmp8(24, 24, palette, [](int x, int y) {
        switch (sampleSpriteColour(x, y)) {
        case 0x7A4A00: return std::uint8_t{1};
        case 0xFFF2A0: return std::uint8_t{2};
        case 0xFFC400: return std::uint8_t{3};
        default: return std::uint8_t{0};
        }
    });
}

Bytes truncated(const Bytes& bytes, std::size_t length) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(length, bytes.size())));
}

Bytes withField32(const Bytes& bmp, std::size_t offset, std::uint32_t value) {
    Bytes out = bmp;
    if (offset + 4 <= out.size()) writeLe32(out.data() + offset, value);
    return out;
}

Bytes withField16(const Bytes& bmp, std::size_t offset, std::uint16_t value) {
    Bytes out = bmp;
    if (offset + 2 <= out.size()) writeLe16(out.data() + offset, value);
    return out;
}

Bytes packedWithPresetDictionary(const Bytes& payload) {
    static const char kDictionary[] = "qel";
    z_stream s;
    std::memset(&s, 0, sizeof s);
    if (deflateInit(&s, Z_BEST_COMPRESSION) != Z_OK) return {};
    deflateSetDictionary(&s, reinterpret_cast<const Bytef*>(kDictionary), 3);
    return finishDeflate(s, payload);
}

Bytes pictureOfExactSize(std::size_t size) {
    const int width = static_cast<int>((size - 54) / 3);
    Bytes bmp = makeBmp24(width, 1, [](int x, int) { return static_cast<std::uint32_t>(x * 0x010203); });
    bmp.resize(size, 0xA5);
    return bmp;
}

std::vector<NamedInput> soundBmps() {
    return {
        {"sprite24", sampleSprite24()},
        {"sprite16", sampleSprite16()},
        {"sprite8", sampleSprite8()},
        {"one-pixel24", makeBmp24(1, 1, [](int, int) { return 0x123456u; })},
        {"odd-width24", makeBmp24(5, 3, [](int x, int y) { return static_cast<std::uint32_t>(x * 40 + y); })},
        {"one-pixel8", makeBmp8(1, 1, {0x00FF00}, [](int, int) { return std::uint8_t{0}; })},
        {"wide16", makeBmp16(40, 2, [](int x, int) { return static_cast<std::uint16_t>(x * 811); })},
        {"bits1", makeBmpOfBitCount(24, 24, 1)},
        {"bits4", makeBmpOfBitCount(24, 24, 4)},
        {"bits32", makeBmpOfBitCount(24, 24, 32)},
        {"bits0", makeBmpOfBitCount(24, 24, 0)},
        {"bits15", makeBmpOfBitCount(4, 4, 15)},
        {"exactly-2048", pictureOfExactSize(kMaxPayloadSize)},
    };
}

std::vector<NamedInput> hostileBmps() {
    const Bytes s24 = sampleSprite24();
    const Bytes s16 = sampleSprite16();
    const Bytes s8 = sampleSprite8();
    const Bytes header4096 = bmpHeader(4096, 4096, 24, 54, 54);
    return {
        {"empty", {}},
        {"cut-in-file-header", truncated(s24, 10)},
        {"cut-in-info-header", truncated(s24, 30)},
        {"one-short-of-headers", truncated(s24, 53)},
        {"headers-only24", truncated(s24, 54)},
        {"not-bm", withField16(s24, 0, 0x424D)},
        {"cut-in-pixels24", truncated(s24, 54 + 100)},
        {"one-short24", truncated(s24, s24.size() - 1)},
        {"one-short16", truncated(s16, s16.size() - 1)},
        {"cut-in-palette8", truncated(s8, 54 + 512)},
        {"one-short8", truncated(s8, s8.size() - 1)},
        {"palette-past-end8", concat(bmpHeader(2, 2, 8, 54, 58), Bytes{0, 1, 2, 3})},
        {"offset-at-end", withField32(s24, kBfOffBits, asField(static_cast<int>(s24.size())))},
        {"offset-max", withField32(s24, kBfOffBits, 0xFFFFFFFFu)},
        {"offset-one-late", withField32(s24, kBfOffBits, 55)},
        {"file-size-zero", withField32(s24, 2, 0)},
        {"file-size-max", withField32(s24, 2, 0xFFFFFFFFu)},
        {"image-size-max", withField32(s24, kBiSizeImage, 0xFFFFFFFFu)},
        {"colours-used-max8", withField32(s8, kBiClrUsed, 0xFFFFFFFFu)},
        {"width-zero", withField32(s24, kBiWidth, 0)},
        {"height-zero", withField32(s24, kBiHeight, 0)},
        {"width-negative", withField32(s24, kBiWidth, asField(-24))},
        {"height-negative", withField32(s24, kBiHeight, asField(-24))},
        {"width-min-int", withField32(s24, kBiWidth, 0x80000000u)},
        {"dimensions-max-int", withField32(withField32(s24, kBiWidth, 0x7FFFFFFFu), kBiHeight, 0x7FFFFFFFu)},
        {"product-wraps-32-bits", withField32(withField32(s24, kBiWidth, 65536), kBiHeight, 65536)},
        {"one-over-max-pixels", bmpHeader(4097, 4096, 24, 54, 54)},
        {"max-pixels-without-data", header4096},
        {"max-pixels-bits1", bmpHeader(4096, 4096, 1, 54, 54)},
        {"bits32-without-data", bmpHeader(24, 24, 32, 54, 54)},
        {"bits-max", withField16(s24, kBiBitCount, 0xFFFF)},
    };
}

std::vector<NamedInput> hostilePackedFiles() {
    const Bytes s24 = sampleSprite24();
    const Bytes good = packed(s24);
    Bytes badCheck = good;
    if (!badCheck.empty()) badCheck.back() ^= 0x01;  // empty only if zlib failed
    Bytes invalidBlock = zlibHeader(0x78, 0);
    invalidBlock.push_back(0x07);  // final block of the reserved type 3
    Bytes storedLengthMismatch = zlibHeader(0x78, 0);
    for (int b : {0x01, 0x05, 0x00, 0x00, 0x00, 0x61, 0x62, 0x63, 0x64, 0x65}) storedLengthMismatch.push_back(static_cast<std::uint8_t>(b));
    Bytes unknownMethod = zlibHeader(0x77, 0);
    unknownMethod.insert(unknownMethod.end(), good.begin() + 2, good.end());
    const Bytes rawDeflate(good.begin() + 2, good.end() - 4);
    const Bytes text = {'h', 'e', 'l', 'l', 'o', ',', ' ', 'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c'};
    return {
        {"empty", {}},
        {"one-byte", truncated(good, 1)},
        {"header-only", truncated(good, 2)},
        {"bad-header-check", withField16(good, 0, 0x9D78)},
        {"unknown-method", unknownMethod},
        {"raw-deflate", rawDeflate},
        {"gzip", gzipped(s24)},
        {"cut-mid-stream", truncated(good, good.size() / 2)},
        {"cut-in-check", truncated(good, good.size() - 2)},
        {"check-missing", truncated(good, good.size() - 4)},
        {"bad-check", badCheck},
        {"invalid-block-type", invalidBlock},
        {"stored-length-mismatch", storedLengthMismatch},
        {"preset-dictionary", packedWithPresetDictionary(s24)},
        {"payload-2049", packed(pictureOfExactSize(kMaxPayloadSize + 1))},
        {"payload-27x27", packed(makeBmp24(27, 27, sampleSpriteColour))},
        {"payload-mebibyte-of-zeros", packed(Bytes(1u << 20, 0))},
        {"trailing-garbage", concat(good, text)},
        {"two-streams", concat(good, packed(sampleSprite8()))},
        {"payload-text", packed(text)},
        {"payload-empty", packed({})},
        {"payload-cut-bmp", packed(truncated(s24, s24.size() - 1))},
        {"payload-max-pixels-bits1", packed(bmpHeader(4096, 4096, 1, 54, 54))},
        {"payload-exactly-2048", packed(pictureOfExactSize(kMaxPayloadSize))},
        {"empty-blocks-before", withEmptyBlocks(s24, 600, 0)},
        {"empty-blocks-after-a-full-buffer", withEmptyBlocks(pictureOfExactSize(kMaxPayloadSize), 0, 600)},
        {"empty-blocks-after-2049", withEmptyBlocks(pictureOfExactSize(kMaxPayloadSize + 1), 0, 600)},
        {"stored-sprite", packed(s24, 0)},
        {"sprite8", packed(sampleSprite8())},
        {"sprite16", packed(sampleSprite16())},
    };
}

}  // namespace qel::testing
