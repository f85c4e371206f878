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
#include <streambuf>

#include "imaging/Bytes.h"
#include "files/FileIo.h"
#include "imaging/Raster.h"
#include "packed/PackedFile.h"
#include "tools/BatchRunner.h"
#include "tools/Cli.h"
#include "tools/FileList.h"
#include "tools/PngReader.h"
#include "tools/PngWriter.h"
#include "viewer/Scene.h"
#include "viewer/Viewer.h"

namespace qel {

namespace {

// Where the decoder's two-line zlib diagnostics go: qel reports each file in
// one line of its own, in the viewer's words.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

class NullStream : public std::ostream {
public:
    NullStream() : std::ostream(&buffer_) {}

private:
    NullBuffer buffer_;
};

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
// inflating them.
struct WorkerDecoder {
    PackedDecoder decoder;
    NullStream diag;
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
    void giveBack(std::unique_ptr<WorkerDecoder> decoder) {
        const std::lock_guard<std::mutex> lock(mutex_);
        idle_.push_back(std::move(decoder));
    }

private:
    std::mutex mutex_;
    std::vector<std::unique_ptr<WorkerDecoder>> idle_;
};

DecodeResult decodeFile(const std::string& path, Raster& sprite) {
    static DecoderPool pool;
    std::unique_ptr<WorkerDecoder> worker = pool.take();
    DecodeResult result = worker->decoder.decodeFile(path, sprite, worker->diag);
    pool.giveBack(std::move(worker));
    return result;
}

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

ItemReport extractOne(const FileItem& item, const std::string& outName, const BatchSettings& settings) {
    if (!item.failure.empty()) return failure(item.path, item.failure);

    Raster sprite;
    const DecodeResult result = decodeFile(item.path, sprite);
    // The viewer's "Extract(BMP)" writes whatever payload came out, picture
    // or not; a PNG needs the picture.
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
    Raster sprite;
    const DecodeResult result = decodeFile(item.path, sprite);
    if (result.outcome != DecodeOutcome::success) {
        report.ok = false;
        report.outLine = item.path + ": " + describeOutcome(result);
        return report;
    }
    // The bit count the file declares (byte 28), not the 24 bits the reader
    // converts every picture to. A loaded payload has all 54 header bytes.
    const unsigned bitCount = readLe16(result.payload.data() + 28);
    // Built in one string reserved once, rather than from a temporary for
    // every piece.
    std::string& line = report.outLine;
    line.reserve(item.path.size() + 64);
    const auto number = [&line](std::size_t value) {
        char digits[24];
        line.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
    };
    line.append(item.path).append(": ");
    number(static_cast<std::size_t>(sprite.width()));
    line += 'x';
    number(static_cast<std::size_t>(sprite.height()));
    line.append(", ");
    number(bitCount);
    line.append("-bit, ");
    number(result.payload.size());
    line.append(" bytes");
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
    const DecodeResult result = decodeFile(path, sprite);
    if (result.outcome == DecodeOutcome::success) return true;
    err << "qel: " << path << ": " << describeOutcome(result) << '\n' << std::flush;
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

}  // namespace

int extractFiles(const std::vector<std::string>& operands, const BatchSettings& settings, std::ostream& out,
                 std::ostream& err) {
    OutputDirectory outDir(settings.outDir, Durability::batch);
    if (!openOutDir(outDir, settings, err)) return kExitFailure;
    BatchSettings batch = settings;
    batch.output = &outDir;
    const std::vector<FileItem> items = expandOperands(operands, NameRule::packed, true);
    const std::vector<std::string> names = outputNames(items, batch.png ? ".png" : ".bmp");
    const int status = runItems(items, names, batch,
                                [&](std::size_t i) { return extractOne(items[i], names[i], batch); }, false, out, err);
    return flushBatch(status, outDir, batch, err);
}

int describeFiles(const std::vector<std::string>& operands, const BatchSettings& settings, std::ostream& out,
                  std::ostream& err) {
    const std::vector<FileItem> items = expandOperands(operands, NameRule::packed, true);
    const std::vector<std::string> independent(items.size());
    return runItems(items, independent, settings, [&](std::size_t i) { return describeOne(items[i]); }, true, out,
                    err);
}

int packFiles(const std::vector<std::string>& operands, const BatchSettings& settings, std::ostream& out,
              std::ostream& err) {
    OutputDirectory outDir(settings.outDir, Durability::batch);
    if (!openOutDir(outDir, settings, err)) return kExitFailure;
    BatchSettings batch = settings;
    batch.output = &outDir;
    const std::vector<FileItem> items = expandOperands(operands, NameRule::picture, false);
    const std::vector<std::string> names = outputNames(items, ".qel");
    const int status = runItems(items, names, batch,
                                [&](std::size_t i) { return packOne(items[i], names[i], batch); }, false, out, err);
    return flushBatch(status, outDir, batch, err);
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
