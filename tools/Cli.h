/*
 * qel, the command-line companion of the viewer: extract, info, pack, render
 * and thumbnail over packed picture files, on the viewer's own decoding,
 * refusals and output names. main() only gathers the arguments and the
 * terminal state; everything else is here so that tests run it in-process
 * with their own streams.
 */
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace qel {

constexpr int kExitSuccess = 0;  // every file succeeded
constexpr int kExitFailure = 1;  // at least one file failed; the others were done
constexpr int kExitUsage = 2;    // the command line itself was wrong

struct CliContext {
    // Whether the error stream is a terminal: only then does a long run show
    // its "N/TOTAL" progress line.
    bool errIsTerminal = false;
    // Whether the output stream is a terminal too; then the progress line
    // gives way to every result line, so that none is glued to it.
    bool outIsTerminal = false;
    // Worker threads for commands over many files; 0 picks one per core.
    unsigned defaultJobs = 0;
    // Why writing to the output stream failed (an errno value, 0 unknown),
    // asked once the stream has gone bad.
    std::function<int()> outputError;
};

// Runs one command line. args excludes the program name. Results go to out,
// diagnostics to err; returns the exit status. When out cannot take what is
// written to it, that is reported as "qel: write error: ..." and the status
// is kExitFailure.
int runQel(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const CliContext& context = CliContext{});

}  // namespace qel
