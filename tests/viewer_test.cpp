#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "files/FileIo.h"
#include "packed/PackedFile.h"
#include "tests/support/BmpFactory.h"
#include "tests/support/RecordingWindow.h"
#include "tests/support/TestFiles.h"
#include "viewer/Viewer.h"

namespace qel {
namespace {

using testing::Bytes;

using testing::RecordingWindow;
using Calls = std::vector<std::string>;

Bytes redSprite() { return testing::makeBmp24(24, 24, [](int, int) { return 0xFF0000u; }); }
Bytes blueSprite() { return testing::makeBmp24(24, 24, [](int, int) { return 0x0000FFu; }); }

class ViewerFlow : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories("files");
        viewer.initScene();
    }
    // Writes a packed file under files/ and returns its path.
    std::string packed(const std::string& name, const Bytes& payload) {
        return raw(name, packBytes(payload.data(), payload.size(), 9));
    }
    std::string raw(const std::string& name, const Bytes& bytes) {
        const std::string path = "files/" + name;
        testing::writeFile(path, bytes);
        return path;
    }
    std::uint32_t shownAtSprite() {
        viewer.composeScene();
        return viewer.scene().canvas.pixelAt(60, 30);
    }

    testing::ScopedWorkDir dir;
    RecordingWindow window;
    std::ostringstream diag;
    Viewer viewer{window, diag};
};

TEST_F(ViewerFlow, SetUpAcceptsDropsAndGraysExtract) {
    EXPECT_EQ(window.take(), (Calls{"accept drops", "gray 40001"}));
    EXPECT_FALSE(viewer.extractEnabled());
    EXPECT_EQ(shownAtSprite(), kWhite);
}

TEST_F(ViewerFlow, ADroppedPackedFileIsShownNamedAndExtractable) {
    window.take();
    EXPECT_EQ(viewer.onDropFiles(packed("star.qel", redSprite())), 0);
    EXPECT_EQ(window.take(), (Calls{"title star", "enable 40001", "repaint"}));
    EXPECT_EQ(viewer.scene().document.baseName, "star");
    EXPECT_EQ(viewer.scene().document.payload, redSprite());
    EXPECT_EQ(viewer.scene().document.payloadSize(), 1782u);
    EXPECT_EQ(shownAtSprite(), 0xFF0000u);
    EXPECT_EQ(diag.str(), "");
}

TEST_F(ViewerFlow, OnlyFilesWhoseExtensionStartsWithQelAreTaken) {
    const Bytes payload = redSprite();
    for (const char* name : {"a.bmp", "b.QEL", "a.qel.bak", "noext"}) {
        window.take();
        viewer.onDropFiles(packed(name, payload));
        EXPECT_EQ(window.take(), Calls{}) << name;
        EXPECT_FALSE(viewer.scene().document.baseName) << name;
        EXPECT_FALSE(viewer.scene().document.payload) << name;
    }
    // A directory called x.qel does not make the file inside it a packed file.
    std::filesystem::create_directories("files/x.qel");
    viewer.onDropFiles(packed("x.qel/readme", payload));
    EXPECT_EQ(window.take(), Calls{});
    EXPECT_EQ(shownAtSprite(), kWhite);

    // Only four characters are compared: .qelx passes.
    viewer.onDropFiles(packed("x.qelx", payload));
    EXPECT_EQ(window.take(), (Calls{"title x", "enable 40001", "repaint"}));
    viewer.onDropFiles(packed("a.b.qel", payload));
    EXPECT_EQ(viewer.scene().document.baseName, "a.b");
    viewer.onDropFiles(packed(".qel", payload));
    EXPECT_EQ(viewer.scene().document.baseName, "");
    EXPECT_EQ(window.take(), (Calls{"title a.b", "enable 40001", "repaint", "title ", "enable 40001", "repaint"}));
}

TEST(DroppedPath, SplitsDriveDirectoriesAndExtension) {
    const auto split = [](const std::string& p) {
        const DroppedName n = splitDroppedPath(p);
        EXPECT_EQ(droppedExtension(p), n.extension) << p;
        return n.baseName + "|" + n.extension;
    };
    EXPECT_EQ(split("C:\\icons\\star.qel"), "star|.qel");
    EXPECT_EQ(split("C:star.qel"), "star|.qel");
    EXPECT_EQ(split("/home/u/sprites/a.b.qel"), "a.b|.qel");
    EXPECT_EQ(split("dir.v2/mixed\\sep/name"), "name|");
    EXPECT_EQ(split("x.qel\\readme"), "readme|");
    EXPECT_EQ(split(".qel"), "|.qel");
    EXPECT_EQ(split("trailing/"), "|");
    EXPECT_EQ(split(""), "|");
    EXPECT_EQ(split("C:"), "|");
    EXPECT_EQ(split("/:a.b"), "a|.b");  // a drive's colon even after a separator
    EXPECT_EQ(split("a.b/c.d.e"), "c.d|.e");
    EXPECT_TRUE(isPackedExtension(".qel"));
    EXPECT_TRUE(isPackedExtension(".qelx"));
    EXPECT_FALSE(isPackedExtension(".qe"));
    EXPECT_FALSE(isPackedExtension(".QEL"));
    EXPECT_FALSE(isPackedExtension(""));
}

TEST(DroppedPath, Utf8NamesAreSplitOnWholeCharacters) {
    // Paths reach the core in UTF-8, whose multibyte characters never hold a
    // byte that could be taken for a separator or a dot.
    const std::string star = "\xe6\x98\x9f";  // U+661F
    EXPECT_EQ(splitDroppedPath("C:\\\xe5\x9b\xb3\\" + star + ".qel").baseName, star);
    EXPECT_EQ(splitDroppedPath("/home/u/\xc3\xa9toile filante.qel").baseName, "\xc3\xa9toile filante");
    const DroppedName mixed = splitDroppedPath("/d/" + star + "." + star + ".qel");
    EXPECT_EQ(mixed.baseName, star + "." + star);
    EXPECT_EQ(mixed.extension, ".qel");
}

TEST_F(ViewerFlow, AFailedInflateKeepsTheOldPictureAndGraysExtract) {
    viewer.onDropFiles(packed("good.qel", redSprite()));
    window.take();
    const Bytes big = testing::makeBmp24(48, 48, [](int, int) { return 0x00FF00u; });
    viewer.onDropFiles(packed("big.qel", big));
    EXPECT_EQ(window.take(), (Calls{"title big", "gray 40001"}));
    EXPECT_EQ(diag.str(), "INFLATE ERROR\nERROR NO : -5\n");
    EXPECT_EQ(viewer.scene().document.baseName, "big");
    EXPECT_EQ(viewer.scene().document.payload, redSprite());
    EXPECT_EQ(shownAtSprite(), 0xFF0000u);
    // A stray extract while grayed writes nothing.
    viewer.onCommand(kExtractCommand);
    EXPECT_FALSE(std::filesystem::exists("big.bmp"));
}

TEST_F(ViewerFlow, AFileThatCannotBeOpenedIsReportedAndTheViewerGoesOn) {
    viewer.onDropFiles(packed("good.qel", redSprite()));
    window.take();
    viewer.onDropFiles("files/gone.qel");
    EXPECT_EQ(window.take(), (Calls{"title gone", "gray 40001"}));
    EXPECT_EQ(diag.str(), "cant open files/gone.qel\n");
    EXPECT_EQ(viewer.scene().document.payload, redSprite());
    EXPECT_EQ(shownAtSprite(), 0xFF0000u);
    // The next good drop works as ever.
    viewer.onDropFiles(packed("blue.qel", blueSprite()));
    EXPECT_EQ(window.take(), (Calls{"title blue", "enable 40001", "repaint"}));
    EXPECT_EQ(shownAtSprite(), 0x0000FFu);
}

TEST_F(ViewerFlow, BytesHeldByTheFrontEndDecodeAsTheFileAndAFailedReadCannotOpen) {
    const Bytes file = packBytes(redSprite().data(), redSprite().size(), 9);
    MemorySource held(file.data(), file.size(), 7);
    viewer.onDropFiles("C:\\held\\red.qel", held);
    EXPECT_EQ(viewer.scene().document.payload, redSprite());
    EXPECT_TRUE(viewer.extractEnabled());

    class Unreadable final : public ByteSource {
        bool read(std::uint8_t*, std::size_t, std::size_t& count) override {
            count = 0;
            return false;
        }
    } unreadable;
    window.take();
    viewer.onDropFiles("/cut/blue.qel", unreadable);
    EXPECT_EQ(window.take(), (Calls{"title blue", "gray 40001"}));
    EXPECT_EQ(diag.str(), "cant open /cut/blue.qel\n");
    EXPECT_EQ(viewer.scene().document.payload, redSprite());
}

TEST_F(ViewerFlow, APayloadThatIsNotAPictureReplacesThePayloadOnly) {
    viewer.onDropFiles(packed("good.qel", redSprite()));
    window.take();
    const Bytes text = {'n', 'o', 't', ' ', 'a', ' ', 'b', 'm', 'p'};
    viewer.onDropFiles(packed("text.qel", text));
    // Extract stays as it was: still enabled after the earlier success.
    EXPECT_EQ(window.take(), (Calls{"title text"}));
    EXPECT_TRUE(viewer.extractEnabled());
    EXPECT_EQ(viewer.scene().document.payload, text);
    EXPECT_EQ(shownAtSprite(), 0xFF0000u);
    EXPECT_EQ(diag.str(), "");
    viewer.onCommand(kExtractCommand);
    EXPECT_EQ(testing::readFile("text.bmp"), text);
}

TEST_F(ViewerFlow, ExtractWritesThePayloadByteForByteInTheWorkingDirectory) {
    // A 16-bit payload is written as it came, not as the converted sprite.
    const Bytes bmp16 = testing::makeBmp16(24, 24, [](int x, int) { return std::uint16_t(x * 0x421); });
    viewer.onDropFiles(packed("star.qel", bmp16));
    EXPECT_EQ(viewer.onCommand(kExtractCommand), 0);
    EXPECT_FALSE(std::filesystem::exists("files/star.bmp"));
    EXPECT_EQ(testing::readFile("star.bmp"), bmp16);
    viewer.onCommand(kExtractCommand);  // again: the same file, rewritten
    EXPECT_EQ(testing::readFile("star.bmp"), bmp16);
    EXPECT_EQ(diag.str(), "");
    // No temporary files are left behind.
    std::size_t entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(".")) entries += e.path().filename() != "files";
    EXPECT_EQ(entries, 1u);
}

TEST_F(ViewerFlow, LongBaseNamesAreKeptWhole) {
    // Up to the longest name a file system takes with ".qel" after it: the
    // extract file, and the temporary it is written through, must fit too.
    for (const std::size_t length : {200, 240, 251}) {
        const std::string base(length, 'n');
        viewer.onDropFiles(packed(base + ".qel", redSprite()));
        EXPECT_EQ(viewer.scene().document.baseName, base);
        viewer.onCommand(kExtractCommand);
        viewer.onCommand(kExtractCommand);  // again, over the first one
        EXPECT_EQ(testing::readFile(base + ".bmp"), redSprite()) << length;
    }
    EXPECT_EQ(diag.str(), "");
}

TEST_F(ViewerFlow, AnExtractThatCannotWriteSaysSoAndHarmsNothing) {
    // Something that is not a file already stands where the output goes.
    std::filesystem::create_directories("star.bmp");
    testing::writeFile("star.bmp/keep", {7, 7});
    viewer.onDropFiles(packed("star.qel", redSprite()));
    viewer.onCommand(kExtractCommand);
    EXPECT_EQ(diag.str(), "cant create star.bmp\n");
    EXPECT_EQ(testing::readFile("star.bmp/keep"), (Bytes{7, 7}));
    std::size_t entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(".")) entries += e.path().filename() != "files";
    EXPECT_EQ(entries, 1u);  // no temporary file left
}

TEST_F(ViewerFlow, ExitReleasesTheCanvasAndPayloadAndQuitsWithZero) {
    viewer.onDropFiles(packed("star.qel", redSprite()));
    window.take();
    EXPECT_EQ(viewer.onCommand(kExitCommand), 0);
    EXPECT_EQ(window.take(), (Calls{"quit 0"}));
    EXPECT_FALSE(viewer.scene().canvas.allocated());
    EXPECT_FALSE(viewer.scene().document.payload);
    viewer.composeScene();  // a late repaint draws and reads nothing
    EXPECT_FALSE(viewer.scene().canvas.allocated());
}

TEST_F(ViewerFlow, EscapeAndDestroyQuitWithZeroOtherCommandsDoNothing) {
    window.take();
    viewer.onCommand(12345);
    EXPECT_EQ(window.take(), Calls{});
    viewer.onEscape();
    EXPECT_EQ(window.take(), (Calls{"quit 0"}));
    EXPECT_TRUE(viewer.scene().canvas.allocated());  // Escape leaves cleanup to exit
    viewer.onDestroy();
    EXPECT_EQ(window.take(), (Calls{"quit 0"}));
    EXPECT_FALSE(viewer.scene().canvas.allocated());
}

}  // namespace
}  // namespace qel
