#include "tools/FileList.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "viewer/Viewer.h"

namespace qel {

namespace {

bool equalsIgnoringCase(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return i == a.size() && b[i] == '\0';
}

const char* ruleNoun(NameRule rule) { return rule == NameRule::packed ? ".qel" : ".bmp or .png"; }

}  // namespace

bool nameMatches(const std::string& path, NameRule rule) {
    const DroppedName name = splitDroppedPath(path);
    if (rule == NameRule::packed) return isPackedExtension(name.extension);
    return equalsIgnoringCase(name.extension, ".bmp") || equalsIgnoringCase(name.extension, ".png");
}

std::string joinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (dir.back() == '/') return dir + name;
#ifdef _WIN32
    // As a Windows user writes it; a drive alone ("C:") means its current folder.
    if (dir.back() == '\\' || dir.back() == ':') return dir + name;
    return dir + "\\" + name;
#else
    return dir + "/" + name;
#endif
}

std::vector<FileItem> expandOperands(const std::vector<std::string>& operands, NameRule rule, bool checkExplicit) {
    namespace fs = std::filesystem;
    std::vector<FileItem> items;
    for (const std::string& operand : operands) {
        std::error_code ec;
        // Names are UTF-8 inside; on Windows the library turns them into
        // UTF-16 for the wide-character calls, so any name the file system
        // holds is listed and reached.
        const fs::path operandPath = fs::u8path(operand);
        if (!fs::is_directory(operandPath, ec)) {
            FileItem item{operand, {}, false};
            if (checkExplicit && !nameMatches(operand, rule)) {
                item.failure = std::string("not a ") + ruleNoun(rule) + " file name";
            }
            items.push_back(std::move(item));
            continue;
        }

        std::vector<std::string> names;
        fs::directory_iterator it(operandPath, ec);
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
            std::error_code typeError;
            if (!it->is_regular_file(typeError)) continue;  // follows links; skips folders
            std::string name = it->path().filename().u8string();
            if (nameMatches(name, rule)) names.push_back(std::move(name));
        }
        if (ec) {
            items.push_back({operand, "cannot read directory: " + ec.message(), true});
            continue;
        }
        if (names.empty()) {
            items.push_back({operand, std::string("no ") + ruleNoun(rule) + " files in this directory", true});
            continue;
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) items.push_back({joinPath(operand, name), {}, false});
    }
    return items;
}

}  // namespace qel
