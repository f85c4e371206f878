// The pictures every image plugin gives and the files every plugin saves:
// decoding (whole, from a source, fed a byte at a time) and packing from
// RGBA, as qel pack packs a PNG.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "files/FileIo.h"
#include "imaging/Picture.h"
#include "imaging/Raster.h"
#include "packed/HostPicture.h"
#include "packed/PackedFile.h"
#include "tests/malformed/Cases.h"
#include "tests/plugins/PluginCases.h"

namespace qel::testing {
namespace {

// Every way in gives the same answer, and a shown picture is exactly the
// pixels of its payload as qel extract --png writes them.
TEST(HostPicture, EveryWayInGivesTheViewersAnswer) {
    const struct {
        const char* name;
        const char* refusal;
        int width;
    } cases[] = {
        {"sprite8", "", 24},
        {"trailing-garbage", "", 24},
        {"empty-blocks-before", "", 24},
        {"payload-max-pixels-bits1", "", 4096},  // the viewer shows it blank: so do the hosts
        {"empty", "inflate error -5", 0},
        {"cut-mid-stream", "inflate error -5", 0},
        {"payload-2049", "inflate error -5", 0},
        {"gzip", "inflate error -3", 0},
        {"preset-dictionary", "not a picture", 0},  // zlib asks for a dictionary: no payload
        {"payload-text", "not a picture", 0},
        {"payload-cut-bmp", "not a picture", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = hostilePacked(c.name);
        MemorySource source(file.data(), file.size(), 7);
        PackedStreamDecoder stream;
        for (std::uint8_t byte : file) stream.feed(&byte, 1);
        for (const HostPicture& got : {hostPictureFromBytes(file.data(), file.size()), hostPictureFromSource(source),
                                       hostPictureFromStream(stream)}) {
            EXPECT_EQ(got.refusal, c.refusal);
            EXPECT_EQ(got.width, c.width);
            if (!got.ok()) {
                EXPECT_TRUE(got.rgba.empty());
                continue;
            }
            Raster sprite;
            std::ostringstream diag;
            ASSERT_EQ(decodePackedBytes(file.data(), file.size(), sprite, diag).outcome, DecodeOutcome::success);
            EXPECT_EQ(got.height, sprite.height());
            EXPECT_TRUE(got.rgba == pictureRgba(sprite, KeyPixel::keepColour));
        }
    }
}

// What qel pack accepts from a PNG, from a host's pixels: the refusals word
// for word, and an accepted picture comes back as the same pixels, with a
// transparent pixel of any colour coming back as the key.
TEST(HostPicture, PackingFromRgbaAcceptsWhatQelPackAccepts) {
    const struct {
        const char* what;
        int width, height;
        std::uint8_t alphaOfFirst;
        const char* refusal;
    } cases[] = {
        {"opaque 24x24", 24, 24, 255, ""},
        {"transparent corner", 5, 3, 0, ""},
        {"partly transparent", 5, 3, 128, "has partly transparent pixels; the viewer has only fully transparent ones"},
        {"27x27", 27, 27, 255, "its BMP would be 2241 bytes, larger than 2048"},
        {"a tall line", 1, 665, 255, "its BMP would be 2049 bytes, larger than 2048"},
        {"no width", 0, 3, 255, "has no pixels"},
        {"negative height", 3, -3, 255, "has no pixels"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes rgba = rgbaPicture(c.width, c.height, c.alphaOfFirst);
        const PackedFromRgba packed = packRgba(rgba.data(), c.width, c.height, static_cast<std::size_t>(c.width) * 4, 4);
        EXPECT_EQ(packed.refusal, c.refusal);
        EXPECT_EQ(packed.packed.empty(), !packed.refusal.empty());
        if (!packed.refusal.empty()) continue;
        const HostPicture back = hostPictureFromBytes(packed.packed.data(), packed.packed.size());
        ASSERT_TRUE(back.ok()) << back.refusal;
        EXPECT_TRUE(back.rgba == shownAs(rgba));
    }
}

// Rows further apart than the pixels, and pixels without alpha, as
// GdkPixbuf and QImage hand them over.
TEST(HostPicture, PackingHonoursStrideAndChannels) {
    const Bytes rgb = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};  // 2x2, 8-byte rows
    const PackedFromRgba packed = packRgba(rgb.data(), 2, 2, 8, 3);
    ASSERT_EQ(packed.refusal, "");
    const HostPicture back = hostPictureFromBytes(packed.packed.data(), packed.packed.size());
    EXPECT_TRUE(back.rgba == Bytes({1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255, 10, 11, 12, 255}));
}

}  // namespace
}  // namespace qel::testing
