// Helpers for the qel tests: running the command in-process, making packed
// files, reading PNGs back through libpng.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/BmpFactory.h"

namespace qel::testing {

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs qel in-process with the given worker count and terminal state.
CliRun runCli(const std::vector<std::string>& args, unsigned jobs = 1, bool errIsTerminal = false);

// Runs the qel program itself in the working directory, with standard input
// empty and both output streams going to files (so not a terminal or a
// console). args are UTF-8; on Windows they travel on the wide-character
// command line. status is -1 when the program could not be run.
CliRun runProgram(const std::vector<std::string>& args);

// The sample star sprite as a 24x24 24-bit BMP.
Bytes starBmp();
// payload packed as a .qel file at zlib's best compression.
Bytes packed(const Bytes& payload);
void writePacked(const std::string& path, const Bytes& payload);

// A path as qel joins a directory and a name: with '/' replaced by the
// system's separator ('\\' on Windows).
std::string native(std::string slashed);

// The sorted names in a directory.
std::vector<std::string> namesIn(const std::string& dir);

struct PngPixels {
    int width = 0;
    int height = 0;
    bool fileHasAlpha = false;         // the colour type stored in the file
    std::vector<std::uint8_t> rgba;  // converted to RGBA, top row first

    std::uint32_t rgbAt(int x, int y) const;
    std::uint8_t alphaAt(int x, int y) const;
};

// Reads a PNG file with libpng. False when libpng does not accept it.
bool readPng(const std::string& path, PngPixels& pixels);

// A PNG written by libpng in any colour type and bit depth. samples holds,
// row by row from the top, each pixel's channel values at that bit depth (one
// palette index, one grey, grey and alpha, RGB or RGBA).
struct PngSpec {
    int width = 0;
    int height = 0;
    int colourType = 0;  // PNG_COLOR_TYPE_*
    int bitDepth = 8;
    std::vector<unsigned> samples;
    std::vector<std::uint32_t> palette;  // 0xRRGGBB, for palette pictures
    std::vector<std::uint8_t> paletteAlpha;  // tRNS for a palette
    std::vector<unsigned> transparentValue;  // tRNS for grey (one value) or RGB (three)
    bool interlaced = false;
};
Bytes makePng(const PngSpec& spec);

}  // namespace qel::testing
