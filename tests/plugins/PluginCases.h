// The one table of files every image plugin is tried on: each hostile and
// sound packed file of the malformed-input tests, with the picture or the
// refusal the core gives it (checked against the viewer in
// host_picture_test.cpp). A plugin must show exactly that picture, or
// refuse, and never crash.
#pragma once

#include <string>
#include <vector>

#include "packed/HostPicture.h"
#include "tests/malformed/HostileInputs.h"

namespace qel::testing {

struct PluginCase {
    std::string name;
    Bytes file;
    HostPicture expected;
};

inline std::vector<PluginCase> pluginCases() {
    std::vector<PluginCase> cases;
    for (NamedInput& input : hostilePackedFiles()) {
        HostPicture expected = hostPictureFromBytes(input.bytes.data(), input.bytes.size());
        cases.push_back({input.name, std::move(input.bytes), std::move(expected)});
    }
    return cases;
}

// A width x height RGBA picture of distinct colours, the first pixel's alpha
// as given, and the picture a packed file of it shows (alpha 0 as the key).
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

// The saving cases of every plugin: qel pack's acceptance and refusals.
struct SaveCase {
    const char* what;
    int width, height;
    std::uint8_t alphaOfFirst;
    bool accepted;
};
inline const std::vector<SaveCase>& saveCases() {
    static const std::vector<SaveCase> cases = {
        {"opaque 24x24", 24, 24, 255, true},
        {"transparent corner", 5, 3, 0, true},
        {"partly transparent", 5, 3, 128, false},
        {"27x27", 27, 27, 255, false},
    };
    return cases;
}

}  // namespace qel::testing
