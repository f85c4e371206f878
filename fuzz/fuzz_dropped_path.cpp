// qel::splitDroppedPath and qel::isPackedExtension on arbitrary byte strings,
// once as single-byte text and once with a double-byte code page whose lead
// bytes are 0x81-0x9F and 0xE0-0xFC. The split must describe a tail of the
// path: base name and extension together end it, the extension is empty or
// starts at a real dot, and neither part starts inside a double-byte
// character or holds a real separator.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "viewer/Viewer.h"

namespace {

bool doubleByteLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

bool endsWith(const std::string& text, const std::string& tail) {
    return tail.size() <= text.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// For each byte: true when it is the second byte of a double-byte character,
// scanning from the first byte after a drive prefix as the splitter does.
std::vector<bool> trailBytes(const std::string& path, qel::LeadBytePredicate isLead, std::size_t from) {
    std::vector<bool> trail(path.size(), false);
    if (!isLead) return trail;
    for (std::size_t i = from; i < path.size(); ++i) {
        if (isLead(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) trail[++i] = true;
    }
    return trail;
}

void checkSplit(const std::string& path, qel::LeadBytePredicate isLead) {
    const qel::DroppedName name = qel::splitDroppedPath(path, isLead);
    const std::string tail = name.baseName + name.extension;
    QEL_FUZZ_CHECK(endsWith(path, tail));
    QEL_FUZZ_CHECK(name.extension.empty() || name.extension[0] == '.');

    const bool drive = path.size() >= 2 && path[1] == ':';
    const std::size_t driveEnd = drive ? 2 : 0;
    const std::size_t start = path.size() - tail.size();
    QEL_FUZZ_CHECK(start >= driveEnd);
    const std::vector<bool> trail = trailBytes(path, isLead, driveEnd);
    const auto isSeparatorAt = [&](std::size_t i) {
        return !trail[i] && (path[i] == '/' || path[i] == '\\');
    };
    // The name starts right after a real separator, or at the drive's end.
    QEL_FUZZ_CHECK(start == driveEnd || isSeparatorAt(start - 1));
    for (std::size_t i = start; i < path.size(); ++i) QEL_FUZZ_CHECK(!isSeparatorAt(i));
    // The extension starts at the last real dot of the name, if any.
    const std::size_t dot = path.size() - name.extension.size();
    std::size_t lastDot = std::string::npos;
    for (std::size_t i = start; i < path.size(); ++i) {
        if (!trail[i] && path[i] == '.') lastDot = i;
    }
    if (name.extension.empty()) {
        QEL_FUZZ_CHECK(lastDot == std::string::npos);
    } else {
        QEL_FUZZ_CHECK(dot == lastDot);
    }
    if (!isLead) QEL_FUZZ_CHECK(name.extension.find('.', 1) == std::string::npos);

    const std::string& e = name.extension;
    const bool expected = e.size() >= 4 && e[0] == '.' && e[1] == 'q' && e[2] == 'e' && e[3] == 'l';
    QEL_FUZZ_CHECK(qel::isPackedExtension(e) == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path(reinterpret_cast<const char*>(data), size);
    checkSplit(path, nullptr);
    checkSplit(path, doubleByteLead);

    // The extension test on raw bytes as well, shorter ones included.
    const bool expected = size >= 4 && path.compare(0, 4, ".qel") == 0;
    QEL_FUZZ_CHECK(qel::isPackedExtension(path) == expected);
    return 0;
}
