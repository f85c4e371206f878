// The demo folder: a backdrop and a few packed sprites to drop on the viewer,
// all drawn here so that nothing in it comes from outside the project.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace qel::demo {

struct DemoFile {
    std::string name;                // relative to the demo folder
    std::vector<std::uint8_t> bytes;
    std::string note;                // what it shows, for the listing
};

// A second design beside the project's star: a red heart on the key colour.
std::uint32_t heartColour(int x, int y);

// The backdrop (bg/bg.bmp) and the packed files, in memory. Besides the star
// at 24, 16 and 8 bits and the heart there is "broken.qel", a packed star cut
// off half way, to show how the viewer treats a damaged file.
std::vector<DemoFile> makeDemoFiles();

// Writes every demo file under dir, creating dir and dir/bg as needed, and
// lists them on out. False, with the reason on diag, when a file cannot be
// written.
bool writeDemoFiles(const std::string& dir, std::ostream& out, std::ostream& diag);

}  // namespace qel::demo
