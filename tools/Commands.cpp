#include "tools/Commands.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string_view>
#include <utility>

#include "files/FileIo.h"
#include "files/Listing.h"
#include "imaging/Raster.h"
#include "packed/PackedFile.h"
#include "tools/BatchRunner.h"
#include "tools/Cli.h"
#include "tools/FileList.h"
#include "tools/PngReader.h"
#include "tools/PngWriter.h"
#include "packed/PackedName.h"
#include "viewer/Scene.h"

namespace qel {

namespace {

ItemReport failure(const std::string& path, const std::string& message) {
    ItemReport report;
    report.ok = false;
    report.errLine = path + ": " + message;
    return report;
}

std::string cannotWrite(const std::string& outPath, int errorNumber) {
    return "cannot write " + outPath + ": " + describeError(errorNumber);
}

// Anything at the output path, a dangling link included, is kept unless
// force; whatever is there is either kept whole or replaced whole.
// The output path is joined only for a message: most files need none.
ItemReport writeResult(const std::string& path, const BatchSettings& settings, const std::string& outName,
                       const std::vector<std::uint8_t>& bytes) {
    const WriteResult written = settings.output->publish(outName, bytes.data(), bytes.size(), settings.force);
    switch (written.outcome) {
    case WriteOutcome::written: return ItemReport{};
    case WriteOutcome::exists:
        return failure(path, joinPath(settings.outDir, outName) + " exists (use -f to overwrite)");
    case WriteOutcome::failed: break;
    }
    return failure(path, cannotWrite(joinPath(settings.outDir, outName), written.errorNumber));
}

// Each worker decodes on a zlib state of its own, reset between files: for
// thousands of sprites, making and ending a state for each costs as much as
// inflating them. Its result, payload room included, is kept as well. qel
// reports each file in one line of its own, in the viewer's words, so the
// decoder's diagnostic lines are never written.
struct WorkerDecoder {
    PackedDecoder decoder{PackedDecoder::ZlibState::reused};
    DecodeResult result;
};

// The decoders, lent to one worker at a time and kept for the next file.
// Not thread-local objects: with the Windows toolchain's emulated thread
// storage, their destructors can run after the storage of the ending thread
// is gone, and ending the zlib state then reads freed memory.
class DecoderPool {
public:
    std::unique_ptr<WorkerDecoder> take() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (!idle_.empty()) {
                std::unique_ptr<WorkerDecoder> decoder = std::move(idle_.back());
                idle_.pop_back();
                return decoder;
            }
        }
        return std::make_unique<WorkerDecoder>();
    }
    // Never throws: a decoder there is no room to keep is dropped.
    void giveBack(std::unique_ptr<WorkerDecoder> decoder) noexcept {
        const std::lock_guard<std::mutex> lock(mutex_);
        try {
            idle_.push_back(std::move(decoder));
        } catch (...) {
        }
    }

private:
    std::mutex mutex_;
    std::vector<std::unique_ptr<WorkerDecoder>> idle_;
};

DecoderPool& decoderPool() {
    static DecoderPool pool;
    return pool;
}

// One file decoded by a decoder from the pool, which goes back when the
// lease ends; the result is the decoder's own until then. A null sprite:
// only the reader's verdict on the payload, no pixels.
class DecodedFile {
public:
    DecodedFile(const std::string& path, Raster* sprite) : worker_(decoderPool().take()) {
        InputFile file;
        if (file.open(path)) {
            worker_->decoder.decode(file, sprite, worker_->result);
        } else {
            worker_->result.outcome = DecodeOutcome::openFailure;
            worker_->result.zlibCode = 0;
            worker_->result.hasPayload = false;
            worker_->result.payload.clear();
        }
    }
    ~DecodedFile() { decoderPool().giveBack(std::move(worker_)); }
    DecodedFile(const DecodedFile&) = delete;
    DecodedFile& operator=(const DecodedFile&) = delete;
    const DecodeResult& result() const { return worker_->result; }

private:
    std::unique_ptr<WorkerDecoder> worker_;
};

bool openOutDir(const OutputDirectory& directory, const BatchSettings& settings, std::ostream& err) {
    if (directory.valid()) return true;
    const int error = directory.errorNumber();
    err << "qel: " << (settings.outDir.empty() ? std::string(".") : settings.outDir) << ": ";
    if (error == ENOENT || error == ENOTDIR) {
        err << "not a directory\n";
    } else {
        err << "cannot open directory: " << describeError(error) << '\n';
    }
    err << std::flush;
    return false;
}

// Each item's output name, split from its path once. Every output goes to
// the one output directory, so the name alone tells which items share a file.
std::vector<std::string> outputNames(const std::vector<FileItem>& items, const char* suffix) {
    std::vector<std::string> names(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].failure.empty()) names[i] = splitDroppedPath(items[i].path).baseName + suffix;
    }
    return names;
}

// Items whose outputs the file system takes as one file share a key, so that
// they run in input order as in a serial run: on Windows "X.bmp" and "x.bmp"
// are one file.
std::vector<std::string> sameFileKeys(const std::vector<std::string>& names) {
    std::vector<std::string> keys(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!names[i].empty()) keys[i] = sameFileKey(names[i]);
    }
    return keys;
}

ItemReport extractOne(const FileItem& item, const std::string& outName, const BatchSettings& settings) {
    if (!item.failure.empty()) return failure(item.path, item.failure);

    // The viewer's "Extract(BMP)" writes whatever payload came out, picture
    // or not; only a PNG needs the picture's pixels.
    Raster sprite;
    const DecodedFile decoded(item.path, settings.png ? &sprite : nullptr);
    const DecodeResult& result = decoded.result();
    if (!result.hasPayload) return failure(item.path, describeOutcome(result));
    if (!settings.png) return writeResult(item.path, settings, outName, result.payload);

    if (result.outcome != DecodeOutcome::success) return failure(item.path, describeOutcome(result));
    std::vector<std::uint8_t> png;
    std::string why;
    if (!encodePng(keyedPngImage(sprite, {sprite.width(), sprite.height()}), png, &why)) return failure(item.path, "cannot encode PNG: " + why);
    return writeResult(item.path, settings, outName, png);
}

ItemReport describeOne(const FileItem& item) {
    ItemReport report;
    if (!item.failure.empty()) {
        // A refused name is still one line about that file; a directory that
        // gave nothing is a diagnostic.
        if (item.isDirectory) return failure(item.path, item.failure);
        report.ok = false;
        report.outLine = item.path + ": " + item.failure;
        return report;
    }
    // The size and the bit count the file declares, not the 24 bits the
    // reader converts every picture to: no pixels are needed.
    const DecodedFile decoded(item.path, nullptr);
    const DecodeResult& result = decoded.result();
    if (result.outcome != DecodeOutcome::success) {
        report.ok = false;
        report.outLine = item.path + ": " + describeOutcome(result);
        return report;
    }
    const BmpInfo picture = checkBmp(result.payload.data(), result.payload.size());
    // "24x24, 24-bit, 1782 bytes" written in place, then the line allocated
    // once: this runs for every file.
    char tail[96];
    char* at = tail;
    char* const stop = tail + sizeof tail;
    const auto put = [&at, stop](std::string_view text) {
        const std::size_t count = std::min<std::size_t>(text.size(), static_cast<std::size_t>(stop - at));
        std::memcpy(at, text.data(), count);
        at += count;
    };
    at = std::to_chars(at, stop, picture.width).ptr;
    put("x");
    at = std::to_chars(at, stop, picture.height).ptr;
    put(", ");
    at = std::to_chars(at, stop, picture.bitCount).ptr;
    put("-bit, ");
    at = std::to_chars(at, stop, result.payload.size()).ptr;
    put(" bytes");
    std::string& line = report.outLine;
    line.reserve(item.path.size() + 2 + static_cast<std::size_t>(at - tail));
    line.append(item.path).append(": ").append(tail, at);
    return report;
}

// True when the name ends in ".png" in any case.
bool endsWithPng(const std::string& path) {
    if (path.size() < 4) return false;
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".png";
}

ItemReport packOne(const FileItem& item, const std::string& outName, const BatchSettings& settings) {
    if (!item.failure.empty()) return failure(item.path, item.failure);

    std::vector<std::uint8_t> bmp;
    switch (readWholeFile(item.path, Raster::kMaxFileSize, bmp)) {
    case ReadStatus::ok: break;
    case ReadStatus::cannotOpen: return failure(item.path, "cannot open");
    case ReadStatus::tooLarge: return failure(item.path, describeRefusal(PackRefusal::tooLarge));
    case ReadStatus::readError: return failure(item.path, "read error");
    }
    // A PNG by its name, so that a damaged one is reported as a PNG, or by
    // its content whatever it is called.
    if (endsWithPng(item.path) || hasPngSignature(bmp.data(), bmp.size())) {
        PngToBmpResult converted = pngToBmp(bmp.data(), bmp.size());
        if (converted.outcome != PngToBmpOutcome::ok) return failure(item.path, converted.message);
        bmp = std::move(converted.bmp);
    }
    const PackResult packed = packPicture(bmp.data(), bmp.size());
    if (packed.refusal != PackRefusal::none) return failure(item.path, describeRefusal(packed.refusal));
    return writeResult(item.path, settings, outName, packed.packed);
}

// reportOnOutput: the command reports every file in a line of its own on
// the output stream (info), so a file that failed unexpectedly does too.
int runItems(const std::vector<FileItem>& items, const std::vector<std::string>& keys, const BatchSettings& settings,
             const std::function<ItemReport(std::size_t)>& work, bool reportOnOutput, std::ostream& out,
             std::ostream& err) {
    const auto failed = [&](std::size_t i, const std::string& why) {
        ItemReport report = failure(items[i].path, why);
        if (reportOnOutput) std::swap(report.outLine, report.errLine);
        return report;
    };
    const bool ok = runBatch(keys, settings.jobs, work, failed,
                             BatchStreams{out, err, settings.showProgress, settings.outIsTerminal});
    return ok ? kExitSuccess : kExitFailure;
}

// Decodes the file as the viewer does; only a picture the viewer would show
// is worth drawing.
bool decodeShownPicture(const std::string& path, Raster& sprite, std::ostream& err) {
    const DecodedFile decoded(path, &sprite);
    if (decoded.result().outcome == DecodeOutcome::success) return true;
    err << "qel: " << path << ": " << describeOutcome(decoded.result()) << '\n' << std::flush;
    return false;
}

bool loadBackdrop(const std::string& path, Raster& backdrop, std::ostream& err) {
    std::vector<std::uint8_t> bytes;
    const char* problem = nullptr;
    switch (readWholeFile(path, Raster::kMaxFileSize, bytes)) {
    case ReadStatus::ok:
        if (!backdrop.loadFromMemory(bytes.data(), bytes.size())) problem = "not a picture the viewer can read";
        break;
    case ReadStatus::cannotOpen: problem = "cannot open"; break;
    case ReadStatus::tooLarge: problem = "too large for a backdrop"; break;
    case ReadStatus::readError: problem = "read error"; break;
    }
    if (!problem) return true;
    err << "qel: " << path << ": " << problem << '\n' << std::flush;
    return false;
}

// bytes empty: encoding failed, for the reason why.
int writeSingle(const std::string& path, const std::string& outPath, const std::vector<std::uint8_t>& bytes,
                const std::string& why, std::ostream& err) {
    if (bytes.empty()) {
        err << "qel: " << path << ": cannot encode " << outPath << (why.empty() ? "" : ": ") << why << '\n'
            << std::flush;
        return kExitFailure;
    }
    const WriteResult written = publishFile(outPath, bytes.data(), bytes.size(), true);
    if (written.outcome == WriteOutcome::written) return kExitSuccess;
    err << "qel: " << path << ": " << cannotWrite(outPath, written.errorNumber) << '\n' << std::flush;
    return kExitFailure;
}

// The written files reach the disk once, at the end, before the batch can
// report success.
int flushBatch(int status, OutputDirectory& directory, const BatchSettings& settings, std::ostream& err) {
    const int error = directory.flushAll();
    if (error == 0) return status;
    err << "qel: " << (settings.outDir.empty() ? std::string(".") : settings.outDir)
        << ": cannot flush: " << describeError(error) << '\n' << std::flush;
    return kExitFailure;
}

// extract and pack: each item becomes one file in the output directory;
// items whose outputs are one file run in input order, and the files reach
// the disk once, at the end.
using WriteOne = ItemReport (*)(const FileItem&, const std::string&, const BatchSettings&);

int writeEach(std::vector<std::string> operands, NameRule rule, bool checkExplicit, const char* suffix, WriteOne one,
              const BatchSettings& settings, std::ostream& out, std::ostream& err) {
    OutputDirectory outDir(settings.outDir, Durability::batch);
    if (!openOutDir(outDir, settings, err)) return kExitFailure;
    BatchSettings batch = settings;
    batch.output = &outDir;
    const std::vector<FileItem> items = expandOperands(std::move(operands), rule, checkExplicit);
    const std::vector<std::string> names = outputNames(items, suffix);
    const int status = runItems(items, sameFileKeys(names), batch,
                                [&](std::size_t i) { return one(items[i], names[i], batch); }, false, out, err);
    return flushBatch(status, outDir, batch, err);
}

}  // namespace

int extractFiles(std::vector<std::string> operands, const BatchSettings& settings, std::ostream& out,
                 std::ostream& err) {
    return writeEach(std::move(operands), NameRule::packed, true, settings.png ? ".png" : ".bmp", extractOne,
                     settings, out, err);
}

int describeFiles(std::vector<std::string> operands, const BatchSettings& settings, std::ostream& out,
                  std::ostream& err) {
    const std::vector<FileItem> items = expandOperands(std::move(operands), NameRule::packed, true);
    const std::vector<std::string> independent(items.size());
    return runItems(items, independent, settings, [&](std::size_t i) { return describeOne(items[i]); }, true, out,
                    err);
}

int packFiles(std::vector<std::string> operands, const BatchSettings& settings, std::ostream& out,
              std::ostream& err) {
    return writeEach(std::move(operands), NameRule::picture, false, ".qel", packOne, settings, out, err);
}

int renderFile(const std::string& path, const std::string& backdropPath, const std::string& outPath,
               std::ostream& err) {
    Scene scene;
    // No backdrop file here: the viewer's white stand-in, never whatever
    // "bg/bg.bmp" the current directory happens to hold.
    scene.initScene(std::string());
    if (!backdropPath.empty() && !loadBackdrop(backdropPath, scene.backdrop, err)) return kExitFailure;
    if (!decodeShownPicture(path, scene.sprite, err)) return kExitFailure;
    scene.composeScene();

    std::vector<std::uint8_t> bytes;
    std::string why;
    if (endsWithPng(outPath)) {
        encodePng(opaquePngImage(scene.canvas), bytes, &why);
    } else {
        bytes = scene.canvas.encodeBmp();
    }
    return writeSingle(path, outPath, bytes, why, err);
}

int thumbnailFile(const std::string& path, int size, const std::string& outPath, std::ostream& err) {
    Raster sprite;
    if (!decodeShownPicture(path, sprite, err)) return kExitFailure;
    std::vector<std::uint8_t> bytes;
    std::string why;
    // Never larger than size x size, whatever size the file claims: this is
    // what a file manager runs on every file it shows.
    encodePng(keyedPngImage(sprite, thumbnailSize(sprite.width(), sprite.height(), size)), bytes, &why);
    return writeSingle(path, outPath, bytes, why, err);
}

}  // namespace qel
