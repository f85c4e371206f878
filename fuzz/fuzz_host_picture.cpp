// What the image plugins run inside other people's programs: a packed file
// to the host's RGBA picture (whole and in pieces), and RGBA back to a
// packed file. The input is taken both as a packed file and as raw RGBA
// rows. Whatever the plugins show must pack again into a file that shows
// the very same pixels, unless it is too large for the viewer; whatever RGBA
// is accepted must come back as itself, transparent pixels (and opaque
// ones of the key colour) as the transparent key.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzLimits.h"
#include "imaging/Picture.h"
#include "imaging/Raster.h"
#include "packed/HostPicture.h"
#include "packed/PackedFile.h"

namespace {

// What a host shows: the picture as straight RGBA, or the refusal.
struct Shown {
    int width;
    int height;
    std::vector<std::uint8_t> rgba;
    std::string refusal;
    bool ok() const { return refusal.empty(); }
};

Shown shown(const qel::HostPicture& p) {
    return {p.width(), p.height(), qel::pictureRgba(p.sprite, qel::KeyPixel::keepColour), p.refusal};
}

void checkRoundTrip(const Shown& picture) {
    const std::size_t stride = static_cast<std::size_t>(picture.width) * 4;
    const qel::PackedFromRgba again = qel::packRgba(picture.rgba.data(), picture.width, picture.height, stride, 4);
    const bool fits = qel::bmpSizeFor(static_cast<std::uint64_t>(picture.width),
                                      static_cast<std::uint64_t>(picture.height)) <= qel::kMaxPayloadSize;
    QEL_FUZZ_CHECK(again.refusal.empty() == fits);
    if (!fits) return;
    const Shown back = shown(qel::hostPictureFromBytes(again.packed.data(), again.packed.size()));
    QEL_FUZZ_CHECK(back.ok() && back.width == picture.width && back.height == picture.height);
    QEL_FUZZ_CHECK(back.rgba == picture.rgba);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The payload decides the picture's cost: skip the huge blank ones.
    qel::Raster probe;
    const qel::DecodeResult decoded = qel::decodePacked(data, size, &probe);
    if (decoded.hasPayload &&
        qel::fuzz::declaresLargeBlankPicture(decoded.payload.data(), decoded.payload.size())) {
        return -1;
    }

    const Shown whole = shown(qel::hostPictureFromBytes(data, size));
    qel::PackedDecoder stream;
    const std::size_t piece = 1 + (size ? data[0] % 13 : 0);
    for (std::size_t at = 0; at < size && stream.feed(data + at, std::min(piece, size - at)); at += piece) {
    }
    const Shown streamed = shown(qel::hostPictureFromStream(stream));
    QEL_FUZZ_CHECK(whole.refusal == streamed.refusal && whole.rgba == streamed.rgba);
    QEL_FUZZ_CHECK(whole.ok() == (decoded.outcome == qel::DecodeOutcome::success));
    if (whole.ok()) {
        QEL_FUZZ_CHECK(whole.rgba.size() == static_cast<std::size_t>(whole.width) * whole.height * 4);
        checkRoundTrip(whole);
    }

    // The input as RGBA rows, 1 to 32 pixels wide.
    if (size < 1) return 0;
    const int width = 1 + data[0] % 32;
    const int height = static_cast<int>((size - 1) / (static_cast<std::size_t>(width) * 4));
    const qel::PackedFromRgba packed = qel::packRgba(data + 1, width, height, static_cast<std::size_t>(width) * 4, 4);
    if (!packed.refusal.empty()) return 0;
    const Shown back = shown(qel::hostPictureFromBytes(packed.packed.data(), packed.packed.size()));
    QEL_FUZZ_CHECK(back.ok() && back.width == width && back.height == height);
    for (std::size_t i = 0; i < back.rgba.size(); i += 4) {
        const std::uint8_t* in = data + 1 + i;
        // An opaque pixel of the key colour is transparent in the viewer too.
        const bool clear = in[3] == 0 || (in[0] == 0xFF && in[1] == 0x00 && in[2] == 0xFF);
        QEL_FUZZ_CHECK(back.rgba[i + 3] == (clear ? 0 : 255));
        if (!clear) QEL_FUZZ_CHECK(back.rgba[i] == in[0] && back.rgba[i + 1] == in[1] && back.rgba[i + 2] == in[2]);
    }
    return 0;
}
