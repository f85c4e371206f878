// A copy of everything a raster shows to the outside, to tell whether a
// refused load or a failed decode left it alone.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/Raster.h"

namespace qel::testing {

struct RasterSnapshot {
    int width = 0;
    int height = 0;
    bool allocated = false;
    std::vector<std::uint8_t> header;
    std::vector<std::uint8_t> pixels;

    explicit RasterSnapshot(const Raster& r)
        : width(r.width()), height(r.height()), allocated(r.allocated()),
          header(r.header(), r.header() + Raster::kHeaderBlockSize),
          pixels(r.pixels(), r.pixels() + r.pixelBytes()) {}

    bool operator==(const RasterSnapshot& o) const {
        return width == o.width && height == o.height && allocated == o.allocated && header == o.header &&
               pixels == o.pixels;
    }
};

// The viewer's placeholder sprite: 24x24 of the key colour.
inline void makePlaceholderSprite(Raster& sprite) {
    sprite.create(24, 24);
    sprite.setColour(kTransparentKey);
    sprite.fill();
}

}  // namespace qel::testing
