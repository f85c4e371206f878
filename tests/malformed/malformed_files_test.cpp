// Hostile files as the viewer meets them: files it cannot read whole, files
// over the read limit, and broken or odd packed files dropped one after
// another, with the diagnostics, title, "Extract(BMP)" state and extract
// file that follow.
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

// A sound packed sprite padded with zeros to exactly size bytes.
Bytes paddedPackedSprite(std::size_t size) {
    Bytes file = hostilePacked("sprite8");
    file.resize(size, 0);
    return file;
}

TEST_F(MalformedFiles, MissingFileCannotBeOpened) {
    const std::string path = dir.file("missing.qel");
    Raster sprite;
    makePlaceholderSprite(sprite);
    std::ostringstream quiet;
    const DecodeResult r = decodePackedFile(path, sprite, quiet);
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

TEST_F(MalformedFiles, FileOverTheReadLimitCannotBeOpened) {
    // The limit itself is read and decoded: trailing bytes are ignored.
    const std::string atLimit = put("limit.qel", paddedPackedSprite(kMaxPackedFileSize));
    viewer.onDropFiles(atLimit);
    EXPECT_EQ(takeDiag(), "");
    EXPECT_FALSE(extractGrayed());
    EXPECT_EQ(viewer.scene().document.payload, sampleSprite8());

    // One byte more is not read at all; the document keeps the last payload.
    const std::string over = put("over.qel", paddedPackedSprite(kMaxPackedFileSize + 1));
    Raster sprite;
    std::ostringstream quiet;
    EXPECT_EQ(decodePackedFile(over, sprite, quiet).outcome, DecodeOutcome::openFailure);
    const RasterSnapshot spriteBefore(viewer.scene().sprite);
    viewer.onDropFiles(over);
    EXPECT_EQ(takeDiag(), "cant open " + over + "\n");
    EXPECT_TRUE(extractGrayed());
    EXPECT_EQ(window.title, "over");
    EXPECT_EQ(viewer.scene().document.payload, sampleSprite8());
    EXPECT_TRUE(RasterSnapshot(viewer.scene().sprite) == spriteBefore);
}

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
