// The name rule of packed files: how a dropped or listed path splits into
// base name and extension, and which extensions are packed files. The
// viewer, qel and the hosts all decide by it.
#pragma once

#include <string>
#include <string_view>

namespace qel {

struct DroppedName {
    std::string baseName;   // the file name without directory and extension
    std::string extension;  // from the last dot on, dot included; empty without one
};

DroppedName splitDroppedPath(const std::string& path);
// The extension splitDroppedPath finds, as a view into path (empty without
// one): for checking many names without building any.
std::string_view droppedExtension(const std::string& path);
// True when the extension's first four characters are exactly ".qel".
bool isPackedExtension(std::string_view extension);

}  // namespace qel
