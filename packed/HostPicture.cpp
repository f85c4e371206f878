#include "packed/HostPicture.h"

#include "imaging/Picture.h"
#include "imaging/Raster.h"
#include "packed/PackedFile.h"

namespace qel {

namespace {

// A host gets the outcome's words, not the viewer's diagnostic lines.
HostPicture fromResult(const DecodeResult& result, HostPicture& picture) {
    if (result.outcome != DecodeOutcome::success) {
        picture.refusal = describeOutcome(result);
        picture.sprite.release();  // an end failure loaded it all the same
    }
    return std::move(picture);
}

RgbaToBmpResult refused(RgbaToBmpOutcome outcome, std::string message) {
    RgbaToBmpResult result;
    result.outcome = outcome;
    result.message = std::move(message);
    return result;
}

}  // namespace

HostPicture hostPictureFromBytes(const std::uint8_t* data, std::size_t size) {
    HostPicture picture;
    return fromResult(decodePacked(data, size, &picture.sprite), picture);
}

HostPicture hostPictureFromSource(ByteSource& source) {
    HostPicture picture;
    return fromResult(decodePacked(source, &picture.sprite), picture);
}

HostPicture hostPictureFromStream(PackedDecoder& decoder) {
    HostPicture picture;
    return fromResult(decoder.finish(&picture.sprite), picture);
}

bool looksPacked(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return false;
    const unsigned header = static_cast<unsigned>(data[0]) << 8 | data[1];
    // Method 8 (deflate), a window of at most 32 KiB, and the check bits.
    return (data[0] & 0x0F) == 8 && (data[0] >> 4) <= 7 && header % 31 == 0;
}

bool looksLikePackedPicture(const std::uint8_t* head, std::size_t size, bool whole) {
    if (!looksPacked(head, size)) return false;
    PackedDecoder decoder;
    if (!decoder.feed(head, size) || whole) return decoder.finish(nullptr).outcome == DecodeOutcome::success;
    std::size_t count = 0;
    const std::uint8_t* inflated = decoder.inflated(count);
    return checkBmp(inflated, count).accepted;
}

std::uint64_t bmpSizeFor(std::uint64_t width, std::uint64_t height) {
    return Raster::kBmpHeaderSize + width * height * 3;
}

RgbaToBmpResult bmpTooLarge(std::uint64_t width, std::uint64_t height) {
    return refused(RgbaToBmpOutcome::tooLarge, "its BMP would be " + std::to_string(bmpSizeFor(width, height)) +
                                                   " bytes, larger than " + std::to_string(kMaxPayloadSize));
}

RgbaToBmpResult rgbaToBmp(const std::uint8_t* pixels, int width, int height, std::size_t stride, int channels) {
    if (width <= 0 || height <= 0 || (channels != 3 && channels != 4)) {
        return refused(RgbaToBmpOutcome::noPixels, "has no pixels");
    }
    if (bmpSizeFor(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height)) > kMaxPayloadSize) {
        return bmpTooLarge(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height));
    }
    Raster raster;
    if (!raster.create(width, height)) return refused(RgbaToBmpOutcome::noPixels, "has no pixels");
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = pixels + static_cast<std::size_t>(y) * stride;
        // The raster is bottom-up BGR.
        std::uint8_t* out = raster.pixels() + static_cast<std::size_t>(height - 1 - y) * width * 3;
        for (int x = 0; x < width; ++x, in += channels, out += 3) {
            const std::uint8_t alpha = channels == 4 ? in[3] : 0xFF;
            if (alpha == 0) {
                out[0] = kTransparentKey & 0xFF;
                out[1] = (kTransparentKey >> 8) & 0xFF;
                out[2] = (kTransparentKey >> 16) & 0xFF;
            } else if (alpha == 0xFF) {
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
            } else {
                return refused(RgbaToBmpOutcome::partlyTransparent,
                               "has partly transparent pixels; the viewer has only fully transparent ones");
            }
        }
    }
    RgbaToBmpResult result;
    result.outcome = RgbaToBmpOutcome::ok;
    result.bmp = raster.encodeBmp();
    return result;
}

PackedFromRgba packRgba(const std::uint8_t* pixels, int width, int height, std::size_t stride, int channels) {
    PackedFromRgba result;
    const RgbaToBmpResult bmp = rgbaToBmp(pixels, width, height, stride, channels);
    if (bmp.outcome != RgbaToBmpOutcome::ok) {
        result.refusal = bmp.message;
        return result;
    }
    PackResult packed = packPicture(bmp.bmp.data(), bmp.bmp.size());
    if (packed.refusal != PackRefusal::none) {
        result.refusal = describeRefusal(packed.refusal);
        return result;
    }
    result.packed = std::move(packed.packed);
    return result;
}

}  // namespace qel
