// Hostile files as the viewer meets them: files it cannot open, things that
// are not files, very large files, and broken or odd packed files dropped
// one after another, with the diagnostics, title, "Extract(BMP)" state and
// extract file that follow.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "packed/PackedFile.h"
#include "tests/malformed/Cases.h"
#include "tests/malformed/RasterSnapshot.h"
#include "tests/support/RecordingWindow.h"
#include "tests/support/TestFiles.h"
#include "viewer/Viewer.h"

#ifndef _WIN32
#include <chrono>
#include <future>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qel::testing {
namespace {

// A viewer in a fresh working directory without a backdrop.
class MalformedFiles : public ::testing::Test {
protected:
    MalformedFiles() : viewer(window, diag) { viewer.initScene(); }

    std::string put(const std::string& name, const Bytes& bytes) {
        const std::string path = dir.file(name);
        writeFile(path, bytes);
        return path;
    }
    std::string takeDiag() {
        const std::string text = diag.str();
        diag.str("");
        return text;
    }
    bool extractGrayed() const { return window.commands.at(kExtractCommand) == false; }

    ScopedWorkDir dir;
    RecordingWindow window;
    std::ostringstream diag;
    Viewer viewer;
};

TEST_F(MalformedFiles, MissingFileCannotBeOpened) {
    const std::string path = dir.file("missing.qel");
    Raster sprite;
    makePlaceholderSprite(sprite);
    std::ostringstream quiet;
    const DecodeResult r = decodePackedFile(path, &sprite);
    writeDecodeDiagnostic(quiet, r);
    EXPECT_EQ(r.outcome, DecodeOutcome::openFailure);
    EXPECT_EQ(describeOutcome(r), "cannot open");
    EXPECT_FALSE(r.hasPayload);
    EXPECT_EQ(quiet.str(), "");  // the decoder says nothing; the viewer does

    viewer.onDropFiles(path);
    EXPECT_EQ(takeDiag(), "cant open " + path + "\n");
    EXPECT_EQ(window.title, "missing");
    EXPECT_TRUE(extractGrayed());
}

TEST_F(MalformedFiles, DirectoryCannotBeOpened) {
    const std::string path = dir.file("folder.qel");
    std::filesystem::create_directory(path);
    viewer.onDropFiles(path);
    EXPECT_EQ(takeDiag(), "cant open " + path + "\n");
    EXPECT_TRUE(extractGrayed());
    EXPECT_FALSE(viewer.scene().document.payload.has_value());
}

#ifndef _WIN32
TEST_F(MalformedFiles, UnreadableFileCannotBeOpened) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
    const std::string path = put("locked.qel", hostilePacked("sprite8"));
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    viewer.onDropFiles(path);
    chmod(path.c_str(), S_IRUSR | S_IWUSR);
    EXPECT_EQ(takeDiag(), "cant open " + path + "\n");
    EXPECT_TRUE(extractGrayed());
}
#endif

TEST_F(MalformedFiles, FilesOfAnySizeAreReadOnlyAsFarAsTheirStream) {
    // A sound stream followed by far more than a packed file ever holds:
    // the stream shows, the rest is never read.
    const std::string big = put("big.qel", hostilePacked("sprite8"));
    std::filesystem::resize_file(big, (std::uintmax_t{1} << 24) + 4096);
    viewer.onDropFiles(big);
    EXPECT_EQ(takeDiag(), "");
    EXPECT_FALSE(extractGrayed());
    EXPECT_EQ(window.title, "big");
    EXPECT_EQ(viewer.scene().document.payload, sampleSprite8());
}

#ifndef _WIN32
TEST_F(MalformedFiles, FifosAndDevicesAreRefusedAtOnce) {
#ifndef __EMSCRIPTEN__  // the browser's file system has no FIFOs
    // Opening a FIFO for reading would wait until some program wrote to it.
    const std::string fifo = dir.file("pipe.qel");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto dropped = std::async(std::launch::async, [&] { viewer.onDropFiles(fifo); });
    if (dropped.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // Let the waiting open go, so that the test can end, and fail.
        const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) close(writer);
        dropped.wait();
        FAIL() << "the drop waited for a writer to the FIFO";
    }
    EXPECT_EQ(takeDiag(), "cant open " + fifo + "\n");
    EXPECT_EQ(window.title, "pipe");
    EXPECT_TRUE(extractGrayed());
#endif

    // A device is no file either, even through a link with a packed name.
    const std::string null = dir.file("null.qel");
    std::filesystem::create_symlink("/dev/null", null);
    viewer.onDropFiles(null);
    EXPECT_EQ(takeDiag(), "cant open " + null + "\n");
    EXPECT_EQ(window.title, "null");
    EXPECT_TRUE(extractGrayed());
    EXPECT_FALSE(viewer.scene().document.payload.has_value());
}
#endif

TEST_F(MalformedFiles, BrokenStreamGraysExtractAndKeepsTheShownPicture) {
    viewer.onDropFiles(put("star.qel", hostilePacked("sprite8")));
    ASSERT_FALSE(extractGrayed());
    const RasterSnapshot spriteBefore(viewer.scene().sprite);

    viewer.onDropFiles(put("empty.qel", {}));
    EXPECT_EQ(takeDiag(), "INFLATE ERROR\nERROR NO : -5\n");
    EXPECT_TRUE(extractGrayed());
    EXPECT_EQ(window.title, "empty");
    EXPECT_EQ(viewer.scene().document.payload, sampleSprite8());
    EXPECT_TRUE(RasterSnapshot(viewer.scene().sprite) == spriteBefore);

    viewer.onDropFiles(put("badcheck.qel", hostilePacked("bad-check")));
    EXPECT_EQ(takeDiag(), "INFLATE ERROR\nERROR NO : -3\n");
    EXPECT_TRUE(extractGrayed());

    // A stray "Extract(BMP)" while grayed writes nothing.
    viewer.onCommand(kExtractCommand);
    EXPECT_FALSE(std::filesystem::exists(dir.file("badcheck.bmp")));
}

TEST_F(MalformedFiles, PayloadThatIsNotAPictureReplacesThePayloadOnly) {
    viewer.onDropFiles(put("star.qel", hostilePacked("sprite8")));
    const RasterSnapshot spriteBefore(viewer.scene().sprite);
    const int repaintsBefore = window.repaints;

    viewer.onDropFiles(put("note.qel", hostilePacked("payload-text")));
    EXPECT_EQ(takeDiag(), "");
    EXPECT_EQ(window.title, "note");
    EXPECT_TRUE(RasterSnapshot(viewer.scene().sprite) == spriteBefore);
    EXPECT_EQ(window.repaints, repaintsBefore);
    // "Extract(BMP)" stays as it was and now writes the new payload as is.
    EXPECT_FALSE(extractGrayed());
    viewer.onCommand(kExtractCommand);
    const std::string text = "hello, not a pic";
    EXPECT_EQ(readFile(dir.file("note.bmp")), Bytes(text.begin(), text.end()));
}

TEST_F(MalformedFiles, PresetDictionaryLeavesAnEmptyPayload) {
    viewer.onDropFiles(put("dict.qel", hostilePacked("preset-dictionary")));
    EXPECT_EQ(takeDiag(), "");
    ASSERT_TRUE(viewer.scene().document.payload.has_value());
    EXPECT_TRUE(viewer.scene().document.payload->empty());
    EXPECT_TRUE(extractGrayed());  // nothing sound came before it
    EXPECT_EQ(viewer.scene().sprite.pixelAt(0, 0), kTransparentKey);
}

TEST_F(MalformedFiles, HostileButReadableFilesExtractByteForByte) {
    viewer.onDropFiles(put("tail.qel", hostilePacked("trailing-garbage")));
    EXPECT_EQ(takeDiag(), "");
    EXPECT_FALSE(extractGrayed());
    viewer.onCommand(kExtractCommand);
    EXPECT_EQ(readFile(dir.file("tail.bmp")), sampleSprite24());

    viewer.onDropFiles(put("full.qel", hostilePacked("payload-exactly-2048")));
    viewer.onCommand(kExtractCommand);
    EXPECT_EQ(readFile(dir.file("full.bmp")), pictureOfExactSize(kMaxPayloadSize));
}

}  // namespace
}  // namespace qel::testing
