// Packed files as the programs that host the format take them: the image
// plugins (a GdkPixbuf loader, the Qt image plugins) and `qel pack` share
// these, so that every host shows the pixels `qel extract --png` writes,
// refuses what the viewer refuses with the words `qel info` uses, and saves
// exactly what `qel pack` accepts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/Raster.h"

namespace qel {

class ByteSource;
class PackedDecoder;

// A decoded file: the picture, which a host converts straight into its own
// buffer (convertPicture), or why there is none.
struct HostPicture {
    Raster sprite;        // no pixels when refused
    std::string refusal;  // describeOutcome's words; empty when shown

    bool ok() const { return refusal.empty(); }
    int width() const { return ok() ? sprite.width() : 0; }
    int height() const { return ok() ? sprite.height() : 0; }
};

// The picture of a packed file held in memory, read from source, or fed to
// decoder (which is finished here). Only an outcome of success gives pixels.
// The reader accepts pictures up to 4096 x 4096.
HostPicture hostPictureFromBytes(const std::uint8_t* data, std::size_t size);
HostPicture hostPictureFromSource(ByteSource& source);
HostPicture hostPictureFromStream(PackedDecoder& decoder);

// True when data starts as a packed file can: a zlib header (deflate, its
// check bits right). A peek for hosts that guess formats by content; what
// the stream holds is for the decoder to say.
bool looksPacked(const std::uint8_t* data, std::size_t size);

// Whether head, the first size bytes of a file (all of it when whole), is a
// picture the viewer shows, as far as those bytes can tell: the decoder's
// verdict when the stream settles within them, else the reader's check of
// what they have inflated to (a stream that goes on past them, as with
// empty blocks after the picture). For hosts that guess formats by content:
// exact, and no more than the payload's room is ever made.
bool looksLikePackedPicture(const std::uint8_t* head, std::size_t size, bool whole);

// RGBA pixels from a host (a decoded PNG, a paint program's picture) as the
// 24-bit bottom-up BMP file image the viewer reads. Alpha 0 becomes the key
// colour whatever colour the pixel holds, opaque pixels keep theirs, and
// anything in between is refused, since the format knows only full
// transparency. An opaque pixel of the key colour is stored as it is, and
// so is transparent in the viewer, as in a packed BMP. No colour correction:
// the stored values are the picture.
enum class RgbaToBmpOutcome {
    ok,
    partlyTransparent,  // some alpha is neither 0 nor 255
    tooLarge,           // the BMP would not fit the viewer's 2048-byte buffer
    noPixels,           // a width or height that is not positive
};

struct RgbaToBmpResult {
    RgbaToBmpOutcome outcome = RgbaToBmpOutcome::noPixels;
    std::vector<std::uint8_t> bmp;  // the BMP file image when ok
    std::string message;            // one line for any other outcome
};

// The bytes of the BMP a width x height picture becomes (header and
// unpadded 24-bit rows), and the refusal of one that is too large: "its BMP
// would be N bytes, larger than 2048".
std::uint64_t bmpSizeFor(std::uint64_t width, std::uint64_t height);
RgbaToBmpResult bmpTooLarge(std::uint64_t width, std::uint64_t height);

// pixels: height rows, top row first, stride bytes apart, of channels
// bytes a pixel: 4 (RGBA) or 3 (RGB, all opaque). The size is checked
// before any pixel is looked at.
RgbaToBmpResult rgbaToBmp(const std::uint8_t* pixels, int width, int height, std::size_t stride, int channels);

// rgbaToBmp followed by packPicture: the packed file, or the one line that
// says why not (empty packed).
struct PackedFromRgba {
    std::vector<std::uint8_t> packed;
    std::string refusal;
};
PackedFromRgba packRgba(const std::uint8_t* pixels, int width, int height, std::size_t stride, int channels);

}  // namespace qel
