// The core's functions every image plugin shares: the viewer's answer to a
// packed file however it comes in, and packing from a host's pixels as qel
// pack packs a PNG.
#include <gtest/gtest.h>

#include "files/FileIo.h"
#include "tests/plugins/PluginCases.h"

namespace qel::testing {
namespace {

TEST(HostPicture, EveryWayInGivesTheViewersAnswer) {
    for (const PluginCase& c : pluginCases()) {
        SCOPED_TRACE(c.name);
        MemorySource source(c.file.data(), c.file.size(), 7);
        PackedDecoder stream;
        for (std::uint8_t byte : c.file) stream.feed(&byte, 1);
        for (const Shown& got : {shownOf(hostPictureFromBytes(c.file.data(), c.file.size())),
                                 shownOf(hostPictureFromSource(source)), shownOf(hostPictureFromStream(stream))}) {
            EXPECT_TRUE(samePicture(got, c.expected));
            EXPECT_EQ(got.refusal, c.expected.refusal);
        }
    }
}

// The refusals word for word; an accepted picture comes back as the same
// pixels, a transparent pixel of any colour as the key.
TEST(HostPicture, PackingFromRgbaAcceptsWhatQelPackAccepts) {
    for (const SaveCase& c : saveCases()) {
        SCOPED_TRACE(c.what);
        const Bytes rgba = rgbaPicture(c.width, c.height, c.alphaOfFirst);
        const PackedFromRgba packed = packRgba(rgba.data(), c.width, c.height, static_cast<std::size_t>(c.width) * 4, 4);
        EXPECT_EQ(packed.refusal, c.refusal);
        EXPECT_EQ(packed.packed.empty(), !packed.refusal.empty());
        const Shown back = shownOf(hostPictureFromBytes(packed.packed.data(), packed.packed.size()));
        EXPECT_TRUE(back.rgba == (packed.refusal.empty() ? shownAs(rgba) : Bytes()));
    }
}

// Rows further apart than the pixels, and pixels without alpha, as
// GdkPixbuf and QImage hand them over.
TEST(HostPicture, PackingHonoursStrideAndChannels) {
    const Bytes rgb = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};  // 2x2, 8-byte rows
    const PackedFromRgba packed = packRgba(rgb.data(), 2, 2, 8, 3);
    ASSERT_EQ(packed.refusal, "");
    const Shown back = shownOf(hostPictureFromBytes(packed.packed.data(), packed.packed.size()));
    EXPECT_TRUE(back.rgba == Bytes({1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255, 10, 11, 12, 255}));
}

}  // namespace
}  // namespace qel::testing
