// Turning command-line operands into the files a command works on: a
// directory stands for the files in it that the command takes, by name,
// sorted, not recursing. On Windows an operand with "*" or "?" in its last
// part stands for the names that match (cmd.exe leaves that to programs).
#pragma once

#include <string>
#include <vector>

namespace qel {

enum class NameRule {
    packed,  // names the viewer accepts: extension starting with ".qel"
    picture,  // ".bmp" or ".png" in any case, for packing
};

struct FileItem {
    std::string path;     // as given, or joinPath(directory, name)
    std::string failure;  // set when the operand cannot be worked on at all
    bool isDirectory = false;  // the failure is about a directory operand
};

// True when a file name passes the rule.
bool nameMatches(const std::string& path, NameRule rule);

// Expands every operand in order. A directory that cannot be read or holds
// no matching file becomes one failed item, and so does each entry whose
// name has no UTF-8 form (on Windows, an unpaired surrogate). With checkExplicit, a file named
// on the command line must pass the rule as well (the viewer would ignore it
// otherwise); without it any name is taken.
std::vector<FileItem> expandOperands(std::vector<std::string> operands, NameRule rule, bool checkExplicit);

// dir joined with name; "name" alone when dir is empty. The separator is the
// system's own ('\\' on Windows) unless dir already ends in one.
std::string joinPath(const std::string& dir, const std::string& name);

}  // namespace qel
