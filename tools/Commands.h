// The subcommands of qel once their command line has been checked. Each
// returns the exit status: kExitSuccess or kExitFailure.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace qel {

class OutputDirectory;

struct BatchSettings {
    std::string outDir;  // empty: the current directory
    bool force = false;  // replace existing output files
    bool png = false;    // extract: write "<base name>.png" instead of the payload
    unsigned jobs = 1;
    bool showProgress = false;  // the error stream is a terminal
    bool outIsTerminal = false;
    const OutputDirectory* output = nullptr;  // the output directory, set by the command itself
};

int extractFiles(std::vector<std::string> operands, const BatchSettings& settings, std::ostream& out,
                 std::ostream& err);
int describeFiles(std::vector<std::string> operands, const BatchSettings& settings, std::ostream& out,
                  std::ostream& err);
int packFiles(std::vector<std::string> operands, const BatchSettings& settings, std::ostream& out,
              std::ostream& err);
// backdropPath empty: plain white, as the viewer without a backdrop file.
int renderFile(const std::string& path, const std::string& backdropPath, const std::string& outPath,
               std::ostream& err);
int thumbnailFile(const std::string& path, int size, const std::string& outPath, std::ostream& err);

}  // namespace qel
