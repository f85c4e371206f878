#include "tests/tools/QelTestSupport.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <sstream>

#include <png.h>

#include "packed/PackedFile.h"
#include "tools/Cli.h"

namespace qel::testing {

CliRun runCli(const std::vector<std::string>& args, unsigned jobs, bool errIsTerminal) {
    std::ostringstream out, err;
    CliContext context;
    context.defaultJobs = jobs;
    context.errIsTerminal = errIsTerminal;
    CliRun run;
    run.status = runQel(args, out, err, context);
    run.out = out.str();
    run.err = err.str();
    return run;
}

Bytes starBmp() { return makeBmp24(24, 24, sampleSpriteColour); }

Bytes packed(const Bytes& payload) { return packBytes(payload.data(), payload.size(), 9); }

void writePacked(const std::string& path, const Bytes& payload) { writeFile(path, packed(payload)); }

std::vector<std::string> namesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::uint32_t PngPixels::rgbAt(int x, int y) const {
    const std::uint8_t* p = &rgba[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                   static_cast<std::size_t>(x)) * 4];
    return (static_cast<std::uint32_t>(p[0]) << 16) | (static_cast<std::uint32_t>(p[1]) << 8) | p[2];
}

std::uint8_t PngPixels::alphaAt(int x, int y) const {
    return rgba[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 4 + 3];
}

bool readPng(const std::string& path, PngPixels& pixels) {
    const Bytes file = readFile(path);
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return false;
    pixels.width = static_cast<int>(image.width);
    pixels.height = static_cast<int>(image.height);
    pixels.fileHasAlpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    image.format = PNG_FORMAT_RGBA;
    pixels.rgba.assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, pixels.rgba.data(), 0, nullptr)) {
        png_image_free(&image);
        return false;
    }
    return true;
}

}  // namespace qel::testing
