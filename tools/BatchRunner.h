// Running one command over many files: in parallel when asked, yet with
// results and diagnostics written in input order, as a serial run would.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace qel {

struct ItemReport {
    bool ok = true;
    std::string outLine;  // written to the output stream when not empty
    std::string errLine;  // written as "qel: " + errLine when not empty
};

// The "N/TOTAL" line on a terminal's error stream, redrawn at most ten times
// a second and wiped before any other diagnostic and at the end. When the
// results go to a terminal as well, it is wiped before each of them too and
// drawn again after it, so that it always stands below the last result.
class ProgressLine {
public:
    ProgressLine(std::ostream& err, bool enabled, std::size_t total);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Redraws the count when a tenth of a second has passed, or at once when
    // the line was wiped.
    void advance(std::size_t done);
    // Removes the line, so that a diagnostic starts at the left margin.
    void clear();

private:
    void draw(std::size_t done);

    std::ostream& err_;
    bool enabled_;
    std::size_t total_;
    std::size_t drawnWidth_ = 0;
    std::chrono::steady_clock::time_point lastDraw_{};
};

// Progress is shown for runs of more than this many files.
constexpr std::size_t kProgressThreshold = 50;

struct BatchStreams {
    std::ostream& out;
    std::ostream& err;
    bool showProgress = false;  // err is a terminal: count there
    bool outIsTerminal = false;  // out is a terminal too
};

// Calls work(i) for every i below keys.size() and writes the reports in
// order of i. Items with the same non-empty key (the same output file) run
// one after another in input order on one thread, so that "exists" and
// overwrite decisions come out as in a serial run. jobs <= 1 runs everything
// on the calling thread. An exception out of work(i) (no memory, say)
// becomes item i's report through failed(i, why); the other items go on.
// Returns true when every report is ok.
bool runBatch(const std::vector<std::string>& keys, unsigned jobs,
              const std::function<ItemReport(std::size_t)>& work,
              const std::function<ItemReport(std::size_t, const std::string& why)>& failed,
              const BatchStreams& streams);

}  // namespace qel
