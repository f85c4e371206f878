#include "tools/FileList.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <utility>

#include "files/FileIo.h"
#include "files/Listing.h"
#include "packed/PackedName.h"

namespace qel {

namespace {

bool equalsIgnoringCase(std::string_view a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return i == a.size() && b[i] == '\0';
}

const char* ruleNoun(NameRule rule) { return rule == NameRule::packed ? ".qel" : ".bmp or .png"; }

void sortByName(std::vector<FolderEntry>& entries) {
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
}

// An entry of a folder as an item: one that no UTF-8 name reaches is a
// failure of its own, and the others go on.
FileItem entryItem(const std::string& folder, const FolderEntry& entry) {
    FileItem item{joinPath(folder, entry.name), {}, false};
    if (!entry.exactName) {
        item.failure = "the name is not valid Unicode (an unpaired surrogate, shown as \xEF\xBF\xBD); "
                       "rename the file to use it";
        item.isDirectory = true;  // a diagnostic about the listing, not a result
    }
    return item;
}

void expandOperand(std::string operand, NameRule rule, bool checkExplicit, std::vector<FileItem>& items) {
    if (!isFolder(operand)) {
        const bool refused = checkExplicit && !nameMatches(operand, rule);
        items.push_back({std::move(operand), {}, false});
        if (refused) items.back().failure = std::string("not a ") + ruleNoun(rule) + " file name";
        return;
    }
    std::vector<FolderEntry> entries;
    int error = 0;
    if (!listFolder(operand, entries, error)) {
        items.push_back({operand, "cannot read directory: " + describeError(error), true});
        return;
    }
    // Links are followed; folders and anything else are skipped.
    std::vector<FolderEntry> files;
    for (FolderEntry& entry : entries) {
        if (entry.kind == EntryKind::file && nameMatches(entry.name, rule)) files.push_back(std::move(entry));
    }
    if (files.empty()) {
        items.push_back({operand, std::string("no ") + ruleNoun(rule) + " files in this directory", true});
        return;
    }
    sortByName(files);
    for (const FolderEntry& entry : files) items.push_back(entryItem(operand, entry));
}

#ifdef _WIN32
// The length of the UTF-8 character at i (1 for a stray byte).
std::size_t characterLength(const std::string& text, std::size_t i) {
    std::size_t length = 1;
    while (i + length < text.size() && (static_cast<unsigned char>(text[i + length]) & 0xC0) == 0x80) ++length;
    return length;
}

// "*" stands for any run of characters, "?" for one character (not one byte).
bool wildcardMatches(const std::string& pattern, const std::string& name) {
    const std::size_t none = std::string::npos;
    std::size_t p = 0, n = 0, afterStar = none, starAt = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            afterStar = ++p;
            starAt = n;
            continue;
        }
        if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            n += characterLength(name, n);
            continue;
        }
        if (p < pattern.size()) {
            const std::size_t length = characterLength(pattern, p);
            if (pattern.compare(p, length, name, n, length) == 0) {
                p += length;
                n += length;
                continue;
            }
        }
        if (afterStar == none) return false;
        // Let the last "*" take one more character and try again from there.
        starAt += characterLength(name, starAt);
        n = starAt;
        p = afterStar;
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

// cmd.exe hands "*" and "?" over as they are, so a Windows console program
// expands them itself, as a POSIX shell does: in the last part of the path
// only, in the file system's case rules, sorted, files and folders alike.
// False when the operand has no wildcard or nothing matches: it is then
// taken as it stands, and fails as any missing file does.
bool expandWildcards(const std::string& operand, NameRule rule, bool checkExplicit, std::vector<FileItem>& items) {
    const std::size_t cut = operand.find_last_of("\\/:");
    const std::string folder = cut == std::string::npos ? std::string() : operand.substr(0, cut + 1);
    const std::string pattern = operand.substr(folder.size());
    if (pattern.find_first_of("*?") == std::string::npos) return false;
    std::vector<FolderEntry> entries;
    int error = 0;
    if (!listFolder(folder, entries, error)) return false;
    const std::string patternKey = sameFileKey(pattern);
    std::vector<FolderEntry> matches;
    for (FolderEntry& entry : entries) {
        if (wildcardMatches(patternKey, sameFileKey(entry.name))) matches.push_back(std::move(entry));
    }
    if (matches.empty()) return false;
    sortByName(matches);
    for (const FolderEntry& entry : matches) {
        if (entry.exactName) {
            expandOperand(joinPath(folder, entry.name), rule, checkExplicit, items);
        } else {
            items.push_back(entryItem(folder, entry));
        }
    }
    return true;
}
#endif

}  // namespace

bool nameMatches(const std::string& path, NameRule rule) {
    // The viewer's own cut, without building the parts: called once a file.
    const std::string_view extension = droppedExtension(path);
    if (rule == NameRule::packed) return isPackedExtension(extension);
    return equalsIgnoringCase(extension, ".bmp") || equalsIgnoringCase(extension, ".png");
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

std::vector<FileItem> expandOperands(std::vector<std::string> operands, NameRule rule, bool checkExplicit) {
    std::vector<FileItem> items;
    items.reserve(operands.size());
    for (std::string& operand : operands) {
#ifdef _WIN32
        if (expandWildcards(operand, rule, checkExplicit, items)) continue;
#endif
        expandOperand(std::move(operand), rule, checkExplicit, items);
    }
    return items;
}

}  // namespace qel
