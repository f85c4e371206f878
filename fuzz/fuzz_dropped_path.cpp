// qel::splitDroppedPath and qel::isPackedExtension on arbitrary byte strings
// (UTF-8 paths and anything else). The split must describe a tail of the
// path: base name and extension together end it, the extension is empty or
// starts at the last dot of the name, and neither part holds a separator.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "viewer/Viewer.h"

namespace {

bool endsWith(const std::string& text, const std::string& tail) {
    return tail.size() <= text.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void checkSplit(const std::string& path) {
    const qel::DroppedName name = qel::splitDroppedPath(path);
    const std::string tail = name.baseName + name.extension;
    QEL_FUZZ_CHECK(endsWith(path, tail));
    QEL_FUZZ_CHECK(name.extension.empty() || name.extension[0] == '.');

    const bool drive = path.size() >= 2 && path[1] == ':';
    const std::size_t driveEnd = drive ? 2 : 0;
    const std::size_t start = path.size() - tail.size();
    QEL_FUZZ_CHECK(start >= driveEnd);
    const auto isSeparatorAt = [&](std::size_t i) { return path[i] == '/' || path[i] == '\\'; };
    // The name starts right after a separator, or at the drive's end.
    QEL_FUZZ_CHECK(start == driveEnd || isSeparatorAt(start - 1));
    for (std::size_t i = start; i < path.size(); ++i) QEL_FUZZ_CHECK(!isSeparatorAt(i));
    // The extension starts at the last dot of the name, if any.
    const std::size_t dot = path.size() - name.extension.size();
    std::size_t lastDot = std::string::npos;
    for (std::size_t i = start; i < path.size(); ++i) {
        if (path[i] == '.') lastDot = i;
    }
    if (name.extension.empty()) {
        QEL_FUZZ_CHECK(lastDot == std::string::npos);
    } else {
        QEL_FUZZ_CHECK(dot == lastDot);
    }
    QEL_FUZZ_CHECK(name.extension.find('.', 1) == std::string::npos);

    const std::string& e = name.extension;
    const bool expected = e.size() >= 4 && e[0] == '.' && e[1] == 'q' && e[2] == 'e' && e[3] == 'l';
    QEL_FUZZ_CHECK(qel::isPackedExtension(e) == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path(reinterpret_cast<const char*>(data), size);
    checkSplit(path);

    // The extension test on raw bytes as well, shorter ones included.
    const bool expected = size >= 4 && path.compare(0, 4, ".qel") == 0;
    QEL_FUZZ_CHECK(qel::isPackedExtension(path) == expected);
    return 0;
}
