// The real viewer window, created in the test's own process and driven with
// the messages Windows would send it: drops, menu commands, keys and clicks.
// What it shows is read back from the window's device context.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "packed/PackedFile.h"
#include "tests/support/BmpFactory.h"
#include "tests/support/TestFiles.h"
#include "tests/win32/Win32TestSupport.h"
#include "viewer/Scene.h"
#include "viewer/ViewerWindow.h"
#include "viewer/win32/ViewerWindowWin32.h"

namespace {

using qel::testing::Bytes;
using qel::testing::clientPixel;
using qel::testing::makeBmp24;
using qel::testing::pumpMessages;
using qel::testing::sampleBackdropColour;
using qel::testing::sampleSpriteColour;
using qel::testing::ScopedWorkDir;
using qel::testing::takeQuit;
using qel::testing::windowTitle;

HINSTANCE thisModule() { return GetModuleHandleA(nullptr); }

// The class is registered once per process; every test shares it.
bool classRegistered() {
    static const bool registered = [] {
        if (qel::win32::registerViewerClass(thisModule())) return true;
        WNDCLASSA existing;
        return GetClassInfoA(thisModule(), qel::win32::kWindowClassName, &existing) != 0;
    }();
    return registered;
}

// A sprite with no symmetry, so a picture drawn flipped or shifted shows.
// Key-coloured on a diagonal pattern so the backdrop shows through.
std::uint32_t lopsidedColour(int x, int y) {
    if ((x + 2 * y) % 5 == 0) return qel::kTransparentKey;
    return (static_cast<std::uint32_t>(x * 10) << 16) | (static_cast<std::uint32_t>(y * 10) << 8) | 0x80u;
}

Bytes packed(const Bytes& payload) { return qel::packBytes(payload.data(), payload.size(), 9); }

class ViewerWindowTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(openWindow()); }
    void TearDown() override { closeWindow(); }

    void openWindow() {
        ASSERT_TRUE(classRegistered());
        window_ = qel::win32::createViewerWindow(thisModule());
        ASSERT_NE(window_, nullptr);
        ShowWindow(window_, SW_SHOWNOACTIVATE);
        UpdateWindow(window_);
        pumpMessages();
    }

    void closeWindow() {
        if (window_ && IsWindow(window_)) DestroyWindow(window_);
        window_ = nullptr;
        pumpMessages();
        takeQuit();  // destroying the window asks the loop to end
    }

    void drop(const std::vector<std::string>& paths) {
        HDROP handle = qel::testing::makeDrop(paths);
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(SendMessageA(window_, WM_DROPFILES, reinterpret_cast<WPARAM>(handle), 0), 0);
        pumpMessages();
    }

    LRESULT command(int id) { return SendMessageA(window_, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

    UINT extractState() const { return GetMenuState(GetMenu(window_), qel::kExtractCommand, MF_BYCOMMAND); }
    bool extractGrayed() const {
        const UINT state = extractState();
        return state != static_cast<UINT>(-1) && (state & MF_GRAYED) != 0;
    }
    bool extractEnabled() const {
        const UINT state = extractState();
        return state != static_cast<UINT>(-1) && (state & (MF_GRAYED | MF_DISABLED)) == 0;
    }

    // Writes a packed file of payload into the working directory; its full path.
    std::string writePacked(const std::string& name, const Bytes& payload) {
        const std::string path = work_.file(name);
        qel::testing::writeFile(path, packed(payload));
        return path;
    }

    // Every canvas pixel that the client area shows, top row first.
    std::vector<std::uint32_t> visibleCanvas(int& columns, int& rows) const {
        RECT client{};
        GetClientRect(window_, &client);
        columns = std::min<int>(client.right, qel::kCanvasWidth);
        rows = std::min<int>(client.bottom, qel::kCanvasHeight);
        std::vector<std::uint32_t> pixels;
        HDC dc = GetDC(window_);
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < columns; ++x) {
                const COLORREF c = GetPixel(dc, x, y);
                pixels.push_back((static_cast<std::uint32_t>(GetRValue(c)) << 16) |
                                 (static_cast<std::uint32_t>(GetGValue(c)) << 8) | GetBValue(c));
            }
        }
        ReleaseDC(window_, dc);
        return pixels;
    }

    // Checks the canvas shows backdropAt everywhere and the sprite's opaque
    // pixels at (52, 22).
    void expectCanvas(const std::function<std::uint32_t(int, int)>& backdropAt,
                      const std::function<std::uint32_t(int, int)>& spriteAt) {
        int columns = 0;
        int rows = 0;
        const std::vector<std::uint32_t> pixels = visibleCanvas(columns, rows);
        ASSERT_GE(columns, qel::kSpriteX + qel::kSpriteSize);
        ASSERT_GE(rows, qel::kSpriteY + qel::kSpriteSize);
        int wrong = 0;
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < columns; ++x) {
                std::uint32_t expected = backdropAt(x, y);
                const int sx = x - qel::kSpriteX;
                const int sy = y - qel::kSpriteY;
                if (spriteAt && sx >= 0 && sy >= 0 && sx < qel::kSpriteSize && sy < qel::kSpriteSize &&
                    spriteAt(sx, sy) != qel::kTransparentKey) {
                    expected = spriteAt(sx, sy);
                }
                const std::uint32_t actual = pixels[static_cast<std::size_t>(y * columns + x)];
                if (actual != expected && ++wrong <= 5) {
                    ADD_FAILURE() << "client (" << x << ", " << y << "): 0x" << std::hex << actual
                                  << ", expected 0x" << expected << std::dec;
                }
            }
        }
        EXPECT_EQ(wrong, 0);
    }

    static std::uint32_t white(int, int) { return qel::kWhite; }

    ScopedWorkDir work_;
    HWND window_ = nullptr;
};

TEST_F(ViewerWindowTest, OpensAsAFixedSizeWindowWithTheMenuBarAndExtractGrayed) {
    EXPECT_EQ(windowTitle(window_), "QelViewer");

    RECT outer{};
    ASSERT_TRUE(GetWindowRect(window_, &outer));
    EXPECT_EQ(outer.right - outer.left, 150);
    EXPECT_EQ(outer.bottom - outer.top, 120);

    const auto style = static_cast<DWORD>(GetWindowLongA(window_, GWL_STYLE));
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
              static_cast<DWORD>(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX));
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0u);
    // The core asked for drops when the window was created.
    EXPECT_NE(static_cast<DWORD>(GetWindowLongA(window_, GWL_EXSTYLE)) & WS_EX_ACCEPTFILES, 0u);

    HMENU menu = GetMenu(window_);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 2);
    EXPECT_EQ(GetMenuItemID(menu, 0), static_cast<UINT>(qel::kExtractCommand));
    EXPECT_EQ(GetMenuItemID(menu, 1), static_cast<UINT>(qel::kExitCommand));
    EXPECT_EQ(GetSubMenu(menu, 0), nullptr);
    EXPECT_EQ(GetSubMenu(menu, 1), nullptr);
    char text[32] = {};
    GetMenuStringA(menu, 0, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "Extract(BMP)");
    GetMenuStringA(menu, 1, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "Exit");
    EXPECT_TRUE(extractGrayed());
    EXPECT_EQ(GetMenuState(menu, qel::kExitCommand, MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED), 0u);

    // Nothing fits the window to the canvas; the sprite must still show whole.
    RECT client{};
    ASSERT_TRUE(GetClientRect(window_, &client));
    std::cout << "client area: " << client.right << " x " << client.bottom << "\n";
    RecordProperty("client_area", std::to_string(client.right) + "x" + std::to_string(client.bottom));
    EXPECT_GE(client.right, qel::kSpriteX + qel::kSpriteSize);
    EXPECT_GE(client.bottom, qel::kSpriteY + qel::kSpriteSize);
}

TEST_F(ViewerWindowTest, FirstFrameShowsTheWhiteBackdropAlone) {
    expectCanvas(white, nullptr);
}

TEST_F(ViewerWindowTest, DroppedPackedFileNamesTheWindowEnablesExtractAndShowsTheSprite) {
    const std::string path = writePacked("star.qel", makeBmp24(24, 24, sampleSpriteColour));
    drop({path});

    EXPECT_EQ(windowTitle(window_), "star");
    EXPECT_TRUE(extractEnabled());
    expectCanvas(white, sampleSpriteColour);
}

TEST_F(ViewerWindowTest, SpriteIsLaidOverTheBackdropFromTheWorkingDirectory) {
    // The backdrop is read when the window is created: make it, then reopen.
    closeWindow();
    ASSERT_TRUE(CreateDirectoryA(work_.file("bg").c_str(), nullptr));
    qel::testing::writeFile(work_.file("bg\\bg.bmp"), makeBmp24(144, 76, sampleBackdropColour));
    ASSERT_NO_FATAL_FAILURE(openWindow());
    expectCanvas(sampleBackdropColour, nullptr);

    drop({writePacked("lopsided.qel", makeBmp24(24, 24, lopsidedColour))});
    EXPECT_EQ(windowTitle(window_), "lopsided");
    expectCanvas(sampleBackdropColour, lopsidedColour);
}

TEST_F(ViewerWindowTest, OnlyTheTopLeftOfALargerSpriteShows) {
    const auto big = [](int x, int y) -> std::uint32_t {
        return x < 24 && y < 24 ? lopsidedColour(x, y) : 0x00FF00u;
    };
    drop({writePacked("big.qel", makeBmp24(26, 25, big))});  // 2,004 bytes: still fits
    EXPECT_TRUE(extractEnabled());
    expectCanvas(white, lopsidedColour);
}

TEST_F(ViewerWindowTest, ExtractWritesThePayloadByteForByteUnderTheBaseName) {
    // An 8-bit picture: the file written must be the payload, not a re-encoding.
    std::vector<std::uint32_t> palette(256);
    for (std::size_t i = 0; i < palette.size(); ++i) palette[i] = static_cast<std::uint32_t>(i * 0x010203u);
    const Bytes payload = qel::testing::makeBmp8(24, 24, palette, [](int x, int y) {
        return static_cast<std::uint8_t>(x * 7 + y * 3);
    });
    drop({writePacked("pal8.qel", payload)});
    ASSERT_TRUE(extractEnabled());

    EXPECT_EQ(command(qel::kExtractCommand), 0);
    ASSERT_TRUE(std::filesystem::exists(work_.file("pal8.bmp")));
    EXPECT_EQ(qel::testing::readFile(work_.file("pal8.bmp")), payload);
}

TEST_F(ViewerWindowTest, ExtractWhileGrayedWritesNothing) {
    EXPECT_EQ(command(qel::kExtractCommand), 0);
    EXPECT_TRUE(std::filesystem::is_empty(work_.path()));
}

TEST_F(ViewerWindowTest, DroppedBmpFileChangesNothing) {
    const Bytes picture = makeBmp24(24, 24, lopsidedColour);
    qel::testing::writeFile(work_.file("a.bmp"), picture);

    drop({work_.file("a.bmp")});
    EXPECT_EQ(windowTitle(window_), "QelViewer");
    EXPECT_TRUE(extractGrayed());
    expectCanvas(white, nullptr);

    drop({writePacked("star.qel", makeBmp24(24, 24, sampleSpriteColour))});
    drop({work_.file("a.bmp")});
    EXPECT_EQ(windowTitle(window_), "star");
    EXPECT_TRUE(extractEnabled());
    expectCanvas(white, sampleSpriteColour);
}

TEST_F(ViewerWindowTest, FailedDropsAfterAGoodOneGrayExtract) {
    drop({writePacked("star.qel", makeBmp24(24, 24, sampleSpriteColour))});
    ASSERT_TRUE(extractEnabled());

    // A file that is not there: its name is the title, the picture stays.
    drop({work_.file("gone.qel")});
    EXPECT_EQ(windowTitle(window_), "gone");
    EXPECT_TRUE(extractGrayed());
    expectCanvas(white, sampleSpriteColour);
    command(qel::kExtractCommand);
    EXPECT_FALSE(std::filesystem::exists(work_.file("gone.bmp")));
    EXPECT_FALSE(std::filesystem::exists(work_.file("star.bmp")));

    // Enabled again by a good file, then grayed by one that does not inflate.
    drop({work_.file("star.qel")});
    ASSERT_TRUE(extractEnabled());
    qel::testing::writeFile(work_.file("broken.qel"), Bytes{0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF});
    drop({work_.file("broken.qel")});
    EXPECT_EQ(windowTitle(window_), "broken");
    EXPECT_TRUE(extractGrayed());
}

TEST_F(ViewerWindowTest, OnlyTheFirstOfSeveralDroppedFilesIsTaken) {
    const std::string first = writePacked("first.qel", makeBmp24(24, 24, sampleSpriteColour));
    const std::string second = writePacked("second.qel", makeBmp24(24, 24, lopsidedColour));
    drop({first, second});
    EXPECT_EQ(windowTitle(window_), "first");
    expectCanvas(white, sampleSpriteColour);
}

TEST_F(ViewerWindowTest, LongDroppedPathIsTakenWhole) {
    // Longer than MAX_PATH: a path cut short would leave a title of 'd's.
    const std::string path = "C:\\" + std::string(300, 'd') + "\\deep.qel";
    drop({path});
    EXPECT_EQ(windowTitle(window_), "deep");
    EXPECT_TRUE(extractGrayed());
}

TEST_F(ViewerWindowTest, DoubleBytePathSplitsOnWholeCharacters) {
    // 0x83 0x5C is one character in code page 932 whose second byte is '\'.
    if (GetACP() != 932) GTEST_SKIP() << "needs the 932 ANSI code page; ctest runs this with LC_ALL=ja_JP.UTF-8";
    drop({"C:\\missing\\\x83\x5C.qel"});
    EXPECT_EQ(windowTitle(window_), "\x83\x5C");
}

TEST_F(ViewerWindowTest, EscapeQuitsWithZeroAndOtherKeysDoNothing) {
    EXPECT_EQ(SendMessageA(window_, WM_KEYDOWN, 'A', 0), 0);
    EXPECT_EQ(SendMessageA(window_, WM_KEYDOWN, VK_RETURN, 0), 0);
    pumpMessages();
    EXPECT_FALSE(takeQuit().has_value());

    EXPECT_EQ(SendMessageA(window_, WM_KEYDOWN, VK_ESCAPE, 0), 0);
    EXPECT_EQ(takeQuit(), std::optional<int>(0));
}

TEST_F(ViewerWindowTest, ExitQuitsWithZeroAndARepaintBeforeTheLoopEndsIsHarmless) {
    drop({writePacked("star.qel", makeBmp24(24, 24, sampleSpriteColour))});
    EXPECT_EQ(command(qel::kExitCommand), 0);
    EXPECT_EQ(takeQuit(), std::optional<int>(0));

    // The canvas is gone now; a repaint before the loop ends must cope.
    InvalidateRect(window_, nullptr, TRUE);
    UpdateWindow(window_);
    pumpMessages();
    EXPECT_TRUE(IsWindow(window_));
}

TEST_F(ViewerWindowTest, ClosingFromTheSystemMenuDestroysTheWindowAndQuitsWithZero) {
    // Alt+F4 and the system menu arrive as WM_SYSCOMMAND, left to Windows.
    SendMessageA(window_, WM_SYSCOMMAND, SC_CLOSE, 0);
    pumpMessages();
    EXPECT_FALSE(IsWindow(window_));
    EXPECT_EQ(takeQuit(), std::optional<int>(0));
}

TEST_F(ViewerWindowTest, ClicksAndTimersDoNothing) {
    drop({writePacked("star.qel", makeBmp24(24, 24, sampleSpriteColour))});
    const LPARAM onSprite = MAKELPARAM(qel::kSpriteX + 12, qel::kSpriteY + 12);
    EXPECT_EQ(SendMessageA(window_, WM_LBUTTONDOWN, MK_LBUTTON, onSprite), 0);
    SendMessageA(window_, WM_LBUTTONUP, 0, onSprite);
    EXPECT_EQ(SendMessageA(window_, WM_MBUTTONDBLCLK, MK_MBUTTON, onSprite), 0);
    EXPECT_EQ(SendMessageA(window_, WM_TIMER, 1, 0), 0);
    pumpMessages();

    EXPECT_FALSE(takeQuit().has_value());
    EXPECT_EQ(windowTitle(window_), "star");
    EXPECT_TRUE(extractEnabled());
    expectCanvas(white, sampleSpriteColour);
    EXPECT_FALSE(std::filesystem::exists(work_.file("star.bmp")));
}

TEST(ViewerWindowClass, IsRegisteredWithTheMenuIconCursorAndBackground) {
    ASSERT_TRUE(classRegistered());
    WNDCLASSEXA info{};
    info.cbSize = sizeof info;
    ASSERT_TRUE(GetClassInfoExA(thisModule(), qel::win32::kWindowClassName, &info));
    EXPECT_EQ(info.style, 0u);
    EXPECT_EQ(info.cbClsExtra, 0);
    EXPECT_EQ(info.cbWndExtra, 0);
    EXPECT_NE(info.hIcon, nullptr);
    EXPECT_EQ(info.hCursor, LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(info.hbrBackground, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
    ASSERT_TRUE(IS_INTRESOURCE(info.lpszMenuName));
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(info.lpszMenuName), 101u);
    // A second registration of the same class is refused.
    EXPECT_FALSE(qel::win32::registerViewerClass(thisModule()));
}

// Draws icon resource 104 at size over magenta and returns the pixel colours.
std::vector<std::uint32_t> drawIcon(int size) {
    std::vector<std::uint32_t> out;
    HICON icon = static_cast<HICON>(LoadImageA(thisModule(), MAKEINTRESOURCEA(104), IMAGE_ICON, size, size, 0));
    if (!icon) return out;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = size;
    info.bmiHeader.biHeight = -size;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap && bits) {
        HGDIOBJ old = SelectObject(dc, bitmap);
        auto* pixels = static_cast<std::uint32_t*>(bits);
        std::fill(pixels, pixels + size * size, qel::kTransparentKey);
        DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
        GdiFlush();
        for (int i = 0; i < size * size; ++i) out.push_back(pixels[i] & 0xFFFFFFu);
        SelectObject(dc, old);
    }
    if (bitmap) DeleteObject(bitmap);
    DeleteDC(dc);
    DestroyIcon(icon);
    return out;
}

TEST(ViewerIcon, HasBothSizesDrawnAsAYellowStarOnATealSquare) {
    for (const int size : {16, 32}) {
        SCOPED_TRACE(size);
        const std::vector<std::uint32_t> pixels = drawIcon(size);
        ASSERT_EQ(pixels.size(), static_cast<std::size_t>(size * size));
        const auto at = [&](int x, int y) { return pixels[static_cast<std::size_t>(y * size + x)]; };
        EXPECT_EQ(at(0, 0), qel::kTransparentKey) << "the rounded corner is transparent";
        EXPECT_EQ(at(size - 1, size - 1), qel::kTransparentKey);
        EXPECT_EQ(at(size / 2, size / 2 + size / 16), 0xFFC400u) << "the star's middle";
        EXPECT_EQ(at(size / 8 + 1, size * 3 / 4), 0x1F5F6Bu) << "the square beside the star";
        // Down the column through the top point: teal, then the dark brown
        // outline (blended with its neighbours at these sizes), then yellow.
        const auto brownish = [](std::uint32_t c) {
            const std::uint32_t r = c >> 16, g = (c >> 8) & 0xFF, b = c & 0xFF;
            return r < 0xC0 && r > g && b < 0x20;
        };
        int firstBrown = -1;
        for (int y = 0; y < size / 2 && firstBrown < 0; ++y) {
            if (brownish(at(size / 2, y))) firstBrown = y;
        }
        ASSERT_GT(firstBrown, 0);
        bool tealAbove = false;
        for (int y = 0; y < firstBrown; ++y) tealAbove = tealAbove || at(size / 2, y) == 0x1F5F6Bu;
        EXPECT_TRUE(tealAbove);
        EXPECT_EQ(at(size / 2, size / 2), 0xFFC400u);
    }
}

}  // namespace
