#include "tools/BatchRunner.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <new>
#include <ostream>
#include <system_error>
#include <thread>
#include <unordered_map>

namespace qel {

ProgressLine::ProgressLine(std::ostream& err, bool enabled, std::size_t total)
    : err_(err), enabled_(enabled && total > kProgressThreshold), total_(total) {}

ProgressLine::~ProgressLine() { clear(); }

void ProgressLine::advance(std::size_t done) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (done != total_ && drawnWidth_ != 0 && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    draw(done);
}

void ProgressLine::draw(std::size_t done) {
    const std::string text = std::to_string(done) + "/" + std::to_string(total_);
    err_ << '\r' << text;
    // A shorter text never happens while counting up, but keep the line clean.
    if (text.size() < drawnWidth_) err_ << std::string(drawnWidth_ - text.size(), ' ');
    err_ << std::flush;
    drawnWidth_ = std::max(drawnWidth_, text.size());
}

void ProgressLine::clear() {
    if (!enabled_ || drawnWidth_ == 0) return;
    err_ << '\r' << std::string(drawnWidth_, ' ') << '\r' << std::flush;
    drawnWidth_ = 0;
}

namespace {

// Items in groups that share an output file, groups in order of their first
// item, so that claiming groups front to back keeps the emitter busy.
std::vector<std::vector<std::size_t>> groupByKey(const std::vector<std::string>& keys) {
    std::vector<std::vector<std::size_t>> groups;
    std::unordered_map<std::string, std::size_t> groupOfKey;
    groups.reserve(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i].empty()) {
            groups.push_back({i});
            continue;
        }
        const auto found = groupOfKey.emplace(keys[i], groups.size());
        if (found.second) {
            groups.push_back({i});
        } else {
            groups[found.first->second].push_back(i);
        }
    }
    return groups;
}

class Emitter {
public:
    Emitter(std::ostream& out, std::ostream& err, ProgressLine& progress, bool outIsTerminal)
        : out_(out), err_(err), progress_(progress), outIsTerminal_(outIsTerminal) {}

    void emit(const ItemReport& report, std::size_t done) {
        if (!report.ok) allOk_ = false;
        if (!report.outLine.empty()) {
            // On a shared terminal the line would start where the count ends.
            if (outIsTerminal_) progress_.clear();
            out_ << report.outLine << '\n';
            if (outIsTerminal_) out_ << std::flush;
        }
        if (!report.errLine.empty()) {
            progress_.clear();
            // Results first: a reader of both streams sees them in step.
            out_ << std::flush;
            err_ << "qel: " << report.errLine << '\n' << std::flush;
        }
        progress_.advance(done);
    }
    bool allOk() const { return allOk_; }

private:
    std::ostream& out_;
    std::ostream& err_;
    ProgressLine& progress_;
    bool outIsTerminal_;
    bool allOk_ = true;
};

}  // namespace

bool runBatch(const std::vector<std::string>& keys, unsigned jobs,
              const std::function<ItemReport(std::size_t)>& work,
              const std::function<ItemReport(std::size_t, const std::string& why)>& failed,
              const BatchStreams& streams) {
    std::ostream& out = streams.out;
    const std::size_t count = keys.size();
    ProgressLine progress(streams.err, streams.showProgress, count);
    Emitter emitter(out, streams.err, progress, streams.outIsTerminal);

    // One item's report whatever happens inside it: an exception must not
    // leave a worker thread, where it would end the whole program.
    const auto workOnItem = [&](std::size_t i) -> ItemReport {
        try {
            try {
                return work(i);
            } catch (const std::bad_alloc&) {
                return failed(i, "out of memory");
            } catch (const std::exception& e) {
                return failed(i, e.what());
            } catch (...) {
                return failed(i, "unexpected error");
            }
        } catch (...) {
            // Not even the report could be made: the item still fails.
            ItemReport report;
            report.ok = false;
            return report;
        }
    };

    // A serial run needs no groups: input order already keeps them in order.
    const std::vector<std::vector<std::size_t>> groups =
        jobs <= 1 ? std::vector<std::vector<std::size_t>>() : groupByKey(keys);
    const std::size_t workers = std::min<std::size_t>(jobs, groups.size());
    if (workers <= 1) {
        for (std::size_t i = 0; i < count; ++i) emitter.emit(workOnItem(i), i + 1);
        progress.clear();
        out << std::flush;
        return emitter.allOk();
    }

    // The calling thread works too and, between its own items, writes out
    // every report that is next in line: no thread wakes another per file.
    std::vector<ItemReport> reports(count);
    const std::unique_ptr<std::atomic<bool>[]> finished(new std::atomic<bool>[count]);
    for (std::size_t i = 0; i < count; ++i) finished[i].store(false, std::memory_order_relaxed);
    std::atomic<std::size_t> nextGroup{0};
    std::size_t emitted = 0;

    const auto emitReady = [&]() {
        while (emitted < count && finished[emitted].load(std::memory_order_acquire)) {
            emitter.emit(reports[emitted], emitted + 1);
            reports[emitted] = ItemReport{};
            ++emitted;
        }
    };
    const auto workOn = [&](bool emitting) {
        for (;;) {
            const std::size_t g = nextGroup.fetch_add(1, std::memory_order_relaxed);
            if (g >= groups.size()) return;
            for (const std::size_t i : groups[g]) {
                reports[i] = workOnItem(i);
                finished[i].store(true, std::memory_order_release);
            }
            if (emitting) emitReady();
        }
    };

    std::vector<std::thread> helpers;
    helpers.reserve(workers - 1);
    try {
        for (std::size_t t = 1; t < workers; ++t) helpers.emplace_back(workOn, false);
    } catch (const std::system_error&) {
        // No more threads to be had: those that started, and this one, do it all.
    }
    workOn(true);
    for (std::thread& helper : helpers) helper.join();
    emitReady();
    progress.clear();
    out << std::flush;
    return emitter.allOk();
}

}  // namespace qel
