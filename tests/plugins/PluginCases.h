// The tables every image plugin and the core's host functions are tried on:
// each hostile and sound packed file with the viewer's answer to it (qel
// info's words, or qel extract --png's pixels), and the pictures saving from
// a host's RGBA accepts or refuses, as qel pack does a PNG.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "imaging/Picture.h"
#include "imaging/Raster.h"
#include "packed/HostPicture.h"
#include "packed/PackedFile.h"
#include "tests/malformed/HostileInputs.h"

namespace qel::testing {

// What a host shows: the picture as straight RGBA, or why there is none.
struct Shown {
    int width = 0;
    int height = 0;
    Bytes rgba;
    std::string refusal;
    bool ok() const { return refusal.empty(); }
};

inline Shown shownOf(const HostPicture& p) {
    return {p.width(), p.height(), pictureRgba(p.sprite, KeyPixel::keepColour), p.refusal};
}

struct PluginCase {
    std::string name;
    Bytes file;
    Shown expected;
};

inline std::vector<PluginCase> pluginCases() {
    std::vector<PluginCase> cases;
    for (NamedInput& input : hostilePackedFiles()) {
        Raster sprite;
        const DecodeResult result = decodePacked(input.bytes.data(), input.bytes.size(), &sprite);
        Shown expected{sprite.width(), sprite.height(), pictureRgba(sprite, KeyPixel::keepColour), ""};
        if (result.outcome != DecodeOutcome::success) expected = {0, 0, {}, describeOutcome(result)};
        cases.push_back({input.name, std::move(input.bytes), std::move(expected)});
    }
    return cases;
}

// The same picture, or both refused (the words are each host's to pass on).
inline bool samePicture(const Shown& a, const Shown& b) {
    return a.width == b.width && a.height == b.height && a.rgba == b.rgba && a.ok() == b.ok();
}

// A width x height RGBA picture of distinct colours, the first pixel's alpha
// as given; and the pixels a packed file of it shows (alpha 0 as the key).
inline Bytes rgbaPicture(int width, int height, std::uint8_t alphaOfFirst) {
    Bytes rgba;
    for (int i = 0; i < width * height; ++i) {
        const auto v = static_cast<std::uint8_t>(i * 7);
        rgba.insert(rgba.end(), {v, static_cast<std::uint8_t>(255 - v), static_cast<std::uint8_t>(i), 255});
    }
    if (!rgba.empty()) rgba[3] = alphaOfFirst;
    return rgba;
}

inline Bytes shownAs(Bytes rgba) {
    for (std::size_t i = 0; i < rgba.size(); i += 4) {
        if (rgba[i + 3] == 0) rgba[i] = 0xFF, rgba[i + 1] = 0x00, rgba[i + 2] = 0xFF;
    }
    return rgba;
}

struct SaveCase { const char* what; int width, height; std::uint8_t alphaOfFirst; const char* refusal; };
inline const std::vector<SaveCase>& saveCases() {
    static const std::vector<SaveCase> cases = {
        {"opaque 24x24", 24, 24, 255, ""},
        {"transparent corner", 5, 3, 0, ""},
        {"partly transparent", 5, 3, 128, "has partly transparent pixels; the viewer has only fully transparent ones"},
        {"27x27", 27, 27, 255, "its BMP would be 2241 bytes, larger than 2048"},
        {"a tall line", 1, 665, 255, "its BMP would be 2049 bytes, larger than 2048"},
        {"no width", 0, 3, 255, "has no pixels"},
        {"negative height", 3, -3, 255, "has no pixels"},
    };
    return cases;
}

}  // namespace qel::testing
