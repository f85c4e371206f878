#include "packed/PackedName.h"

namespace qel {

namespace {

// Where a dropped path's name starts, and its last dot (npos without one).
struct NameCut {
    std::size_t nameStart = 0;
    std::size_t lastDot = std::string::npos;
};

NameCut cutDroppedPath(const std::string& path) {
    NameCut cut;
    const std::size_t first = path.size() >= 2 && path[1] == ':' ? 2 : 0;  // after a drive letter
    // From the end back to the last separator: only the name is looked at.
    // Every byte of a UTF-8 multibyte character is 0x80 or above, so a byte
    // test is a character test for the ASCII separators and the dot.
    std::size_t i = path.size();
    for (; i > first; --i) {
        const char c = path[i - 1];
        if (c == '\\' || c == '/') break;
        if (c == '.' && cut.lastDot == std::string::npos) cut.lastDot = i - 1;
    }
    cut.nameStart = i;
    return cut;
}

}  // namespace

DroppedName splitDroppedPath(const std::string& path) {
    const NameCut cut = cutDroppedPath(path);
    DroppedName name;
    if (cut.lastDot == std::string::npos) {
        name.baseName = path.substr(cut.nameStart);
    } else {
        name.baseName = path.substr(cut.nameStart, cut.lastDot - cut.nameStart);
        name.extension = path.substr(cut.lastDot);
    }
    return name;
}

// As cutDroppedPath finds it, but stopping at the last dot: a listing checks
// every name it meets, and most names end in their extension.
std::string_view droppedExtension(const std::string& path) {
    const std::size_t first = path.size() >= 2 && path[1] == ':' ? 2 : 0;
    for (std::size_t i = path.size(); i > first; --i) {
        const char c = path[i - 1];
        if (c == '.') return std::string_view(path).substr(i - 1);
        if (c == '\\' || c == '/') break;
    }
    return std::string_view();
}

bool isPackedExtension(std::string_view extension) {
    return extension.substr(0, 4) == ".qel";
}

}  // namespace qel
