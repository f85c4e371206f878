// qel::decodePacked on arbitrary bytes: the step from a packed file's
// contents to an outcome, with no file involved. The outcome, the payload and
// the diagnostic text must agree with each other, with what zlib itself makes
// of the bytes given room to spare, and with what the BMP reader makes of the
// payload; the sprite must change only for a picture the reader accepts. The
// result then goes through the viewer's scene as a drop would.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <zlib.h>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzLimits.h"
#include "imaging/Raster.h"
#include "packed/PackedFile.h"
#include "viewer/Scene.h"

namespace {

// zlib's own reading of the bytes into a buffer twice the decoder's, so a
// payload that does not fit the decoder is still seen whole.
struct Reference {
    int code = Z_OK;
    std::vector<std::uint8_t> out;
};

Reference inflateWithRoom(const std::uint8_t* data, std::size_t size) {
    Reference ref;
    ref.out.resize(2 * qel::kMaxPayloadSize + 1);
    z_stream s;
    std::memset(&s, 0, sizeof s);
    s.next_in = const_cast<Bytef*>(data);
    s.avail_in = static_cast<uInt>(size);
    s.next_out = ref.out.data();
    s.avail_out = static_cast<uInt>(ref.out.size());
    QEL_FUZZ_CHECK(inflateInit(&s) == Z_OK);
    ref.code = inflate(&s, Z_FINISH);
    ref.out.resize(s.total_out);
    inflateEnd(&s);
    return ref;
}

std::string diagnostic(const char* stage, int code) {
    return std::string(stage) + "\nERROR NO : " + std::to_string(code) + "\n";
}

bool sameRaster(const qel::Raster& a, const qel::Raster& b) {
    return a.width() == b.width() && a.height() == b.height() && a.pixelBytes() == b.pixelBytes() &&
           std::memcmp(a.header(), b.header(), qel::Raster::kHeaderBlockSize) == 0 &&
           std::memcmp(a.pixels(), b.pixels(), a.pixelBytes()) == 0;
}

struct Snapshot {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> header;
    std::vector<std::uint8_t> pixels;
};

Snapshot snapshot(const qel::Raster& r) {
    Snapshot s;
    s.width = r.width();
    s.height = r.height();
    s.header.assign(r.header(), r.header() + qel::Raster::kHeaderBlockSize);
    s.pixels.assign(r.pixels(), r.pixels() + r.pixelBytes());
    return s;
}

bool matches(const qel::Raster& r, const Snapshot& s) {
    return r.width() == s.width && r.height() == s.height && r.pixelBytes() == s.pixels.size() &&
           std::memcmp(r.header(), s.header.data(), s.header.size()) == 0 &&
           std::memcmp(r.pixels(), s.pixels.data(), s.pixels.size()) == 0;
}

qel::Scene& scene() {
    static qel::Scene* s = [] {
        auto* created = new qel::Scene;
        created->initScene("");  // no backdrop file: plain white
        return created;
    }();
    return *s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Reference ref = inflateWithRoom(data, size);
    if (qel::fuzz::declaresLargeBlankPicture(ref.out.data(), ref.out.size())) return -1;  // keep it out

    qel::Scene& sc = scene();
    qel::Raster& sprite = sc.sprite;
    // Every run starts from the placeholder sprite, as after initScene. Its
    // header may still hold fields of an earlier load, which create() leaves
    // alone, so what "unchanged" means is taken from the sprite itself.
    QEL_FUZZ_CHECK(sprite.create(qel::kSpriteSize, qel::kSpriteSize));
    sprite.setColour(qel::kTransparentKey);
    sprite.fill();
    const Snapshot before = snapshot(sprite);

    std::ostringstream diag;
    const qel::DecodeResult result = qel::decodePacked(data, size, &sprite);
    qel::writeDecodeDiagnostic(diag, result);

    QEL_FUZZ_CHECK(result.payload.size() <= qel::kMaxPayloadSize);
    const bool payloadOutcome = result.outcome == qel::DecodeOutcome::notAPicture ||
                                result.outcome == qel::DecodeOutcome::endFailure ||
                                result.outcome == qel::DecodeOutcome::success;
    QEL_FUZZ_CHECK(result.hasPayload == payloadOutcome);
    if (!result.hasPayload) QEL_FUZZ_CHECK(result.payload.empty());

    switch (result.outcome) {
    case qel::DecodeOutcome::openFailure:
        QEL_FUZZ_CHECK(false);  // bytes in memory are always there to read
        break;
    case qel::DecodeOutcome::initFailure:
        QEL_FUZZ_CHECK(result.zlibCode < 0);
        QEL_FUZZ_CHECK(diag.str() == diagnostic("INFLATE INIT ERROR", result.zlibCode));
        break;
    case qel::DecodeOutcome::inflateFailure:
        QEL_FUZZ_CHECK(result.zlibCode < 0);
        QEL_FUZZ_CHECK(diag.str() == diagnostic("INFLATE ERROR", result.zlibCode));
        // Either zlib fails on these bytes too, or the payload is too big.
        if (ref.code == Z_STREAM_END || ref.code == Z_NEED_DICT) {
            QEL_FUZZ_CHECK(result.zlibCode == Z_BUF_ERROR && ref.out.size() > qel::kMaxPayloadSize);
        }
        break;
    case qel::DecodeOutcome::notAPicture:
    case qel::DecodeOutcome::endFailure:
    case qel::DecodeOutcome::success:
        // Nothing is lost: the payload is everything the stream holds.
        QEL_FUZZ_CHECK(ref.code == Z_STREAM_END || ref.code == Z_NEED_DICT);
        QEL_FUZZ_CHECK(result.payload == ref.out);
        if (ref.code == Z_NEED_DICT) QEL_FUZZ_CHECK(result.payload.empty());
        break;
    }

    qel::Raster direct;
    const bool isPicture = result.hasPayload && direct.loadFromMemory(result.payload.data(), result.payload.size());
    if (result.outcome == qel::DecodeOutcome::notAPicture) {
        QEL_FUZZ_CHECK(!isPicture);
        QEL_FUZZ_CHECK(diag.str().empty());
    }
    if (result.outcome == qel::DecodeOutcome::success) {
        QEL_FUZZ_CHECK(isPicture && result.zlibCode == 0 && diag.str().empty());
        QEL_FUZZ_CHECK(qel::describeOutcome(result) == "ok");
    }
    if (result.outcome == qel::DecodeOutcome::success || result.outcome == qel::DecodeOutcome::endFailure) {
        QEL_FUZZ_CHECK(sameRaster(sprite, direct));
    } else {
        QEL_FUZZ_CHECK(matches(sprite, before));
    }
    QEL_FUZZ_CHECK(!qel::describeOutcome(result).empty());

    // The frame the viewer would paint next when the sprite changed: white
    // backdrop, the new sprite on top.
    if (result.outcome == qel::DecodeOutcome::success || result.outcome == qel::DecodeOutcome::endFailure) {
        const std::uint32_t corner = sprite.pixelAt(0, 0);
        sc.composeScene();
        QEL_FUZZ_CHECK(sc.canvas.pixelAt(0, 0) == qel::kWhite);
        QEL_FUZZ_CHECK(sc.canvas.pixelAt(qel::kSpriteX, qel::kSpriteY) ==
                       (corner == qel::kTransparentKey ? qel::kWhite : corner));
    }
    return 0;
}
