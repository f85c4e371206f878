// The real viewer window, created in the test's own process and driven with
// the messages Windows would send it. What the core decides (which files are
// taken, how the canvas is composed, what a failed drop keeps) is tested in
// tests/viewer_test.cpp and tests/scene_test.cpp; these tests check that the
// window turns messages into the core's calls and shows what the core asks.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "files/FileIo.h"
#include "packed/PackedFile.h"
#include "tests/support/BmpFactory.h"
#include "tests/support/TestFiles.h"
#include "tests/win32/Win32TestSupport.h"
#include "viewer/Scene.h"
#include "viewer/ViewerWindow.h"
#include "viewer/win32/ViewerWindowWin32.h"

namespace {

using qel::testing::Bytes;
using qel::testing::makeBmp24;
using qel::testing::pumpMessages;
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

// A sprite with no symmetry and no key colour, so a picture drawn flipped or
// shifted shows.
std::uint32_t lopsidedColour(int x, int y) {
    return (static_cast<std::uint32_t>(x * 10) << 16) | (static_cast<std::uint32_t>(y * 10) << 8) | 0x80u;
}

class ViewerWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(classRegistered());
        window_ = qel::win32::createViewerWindow(thisModule());
        ASSERT_NE(window_, nullptr);
        ShowWindow(window_, SW_SHOWNOACTIVATE);
        UpdateWindow(window_);
        pumpMessages();
    }

    void TearDown() override {
        if (window_ && IsWindow(window_)) DestroyWindow(window_);
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

    UINT menuState(int id) const { return GetMenuState(GetMenu(window_), static_cast<UINT>(id), MF_BYCOMMAND); }
    bool extractGrayed() const {
        const UINT state = menuState(qel::kExtractCommand);
        return state != static_cast<UINT>(-1) && (state & MF_GRAYED) != 0;
    }
    bool extractEnabled() const {
        const UINT state = menuState(qel::kExtractCommand);
        return state != static_cast<UINT>(-1) && (state & (MF_GRAYED | MF_DISABLED)) == 0;
    }

    // Writes a packed file of payload into the working directory; its full path.
    std::string writePacked(const std::string& name, const Bytes& payload) {
        const std::string path = work_.file(name);
        qel::testing::writeFile(path, qel::packBytes(payload.data(), payload.size(), 9));
        return path;
    }

    // Expects the client area to show a white canvas with spriteAt's pixels
    // at the sprite's place, each canvas pixel a scale x scale block, as far
    // as the client area reaches.
    void expectWhiteCanvasWithSprite(const qel::testing::ColourAt& spriteAt, int scale = 1) {
        RECT client{};
        ASSERT_TRUE(GetClientRect(window_, &client));
        const int columns = std::min<int>(client.right, qel::kCanvasWidth * scale);
        const int rows = std::min<int>(client.bottom, qel::kCanvasHeight * scale);
        int wrong = 0;
        HDC dc = GetDC(window_);
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < columns; ++x) {
                const int sx = x / scale - qel::kSpriteX;
                const int sy = y / scale - qel::kSpriteY;
                const bool inSprite = sx >= 0 && sy >= 0 && sx < qel::kSpriteSize && sy < qel::kSpriteSize;
                const std::uint32_t expected = inSprite ? spriteAt(sx, sy) : qel::kWhite;
                const COLORREF c = GetPixel(dc, x, y);
                const std::uint32_t actual = (static_cast<std::uint32_t>(GetRValue(c)) << 16) |
                                             (static_cast<std::uint32_t>(GetGValue(c)) << 8) | GetBValue(c);
                if (actual != expected && ++wrong <= 5) {
                    ADD_FAILURE() << "client (" << x << ", " << y << "): 0x" << std::hex << actual
                                  << ", expected 0x" << expected << std::dec;
                }
            }
        }
        ReleaseDC(window_, dc);
        EXPECT_EQ(wrong, 0);
    }

    qel::testing::ScopedWorkDir work_;
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

    // Both commands sit on the menu bar itself, not in a drop-down menu.
    HMENU menu = GetMenu(window_);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 2);
    EXPECT_EQ(GetMenuItemID(menu, 0), static_cast<UINT>(qel::kExtractCommand));
    EXPECT_EQ(GetMenuItemID(menu, 1), static_cast<UINT>(qel::kExitCommand));
    char text[32] = {};
    GetMenuStringA(menu, 0, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "Extract(BMP)");
    GetMenuStringA(menu, 1, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "Exit");
    EXPECT_TRUE(extractGrayed());
    EXPECT_EQ(menuState(qel::kExitCommand) & (MF_GRAYED | MF_DISABLED), 0u);

    // Nothing fits the window to the canvas; the sprite must still show whole.
    RECT client{};
    ASSERT_TRUE(GetClientRect(window_, &client));
    EXPECT_GE(client.right, qel::kSpriteX + qel::kSpriteSize);
    EXPECT_GE(client.bottom, qel::kSpriteY + qel::kSpriteSize);
}

TEST_F(ViewerWindowTest, ADroppedPackedFileIsShownNamedAndExtractable) {
    const Bytes payload = makeBmp24(24, 24, lopsidedColour);
    drop({writePacked("lopsided.qel", payload)});
    EXPECT_EQ(windowTitle(window_), "lopsided");
    EXPECT_TRUE(extractEnabled());
    expectWhiteCanvasWithSprite(lopsidedColour);

    EXPECT_EQ(command(qel::kExtractCommand), 0);
    EXPECT_EQ(qel::testing::readFile(work_.file("lopsided.bmp")), payload);
}

// Run by qel_win32_dpi_table at LogPixels 96, 144 and 192 (Wine reads it when a program starts): the client
// area is the canvas at the scale rounded, halves up, each canvas pixel a block; so after WM_DPICHANGED
// to each scale of the table (100% to 300%), as on a move to another screen.
TEST_F(ViewerWindowTest, TheCanvasIsDrawnInWholeBlocksAtTheScreensScale) {
    DWORD dpi = 96, size = sizeof dpi;
    RegGetValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels", RRF_RT_REG_DWORD, nullptr, &dpi, &size);
    const std::map<DWORD, std::pair<int, int>> clientAt = {
        {96, {144, 76}}, {120, {144, 76}}, {144, {288, 152}}, {192, {288, 152}}, {288, {432, 228}}};
    ASSERT_EQ(clientAt.count(dpi), 1u) << dpi << " dpi is no row of the table";
    drop({writePacked("lopsided.qel", makeBmp24(24, 24, lopsidedColour))});
    int moves = 0;
    for (const DWORD screen : {dpi, 96ul, 120ul, 144ul, 192ul, 288ul}) {
        RECT client{}, suggested{};
        GetWindowRect(window_, &suggested);
        if (moves++) SendMessageW(window_, WM_DPICHANGED, MAKEWPARAM(screen, screen), reinterpret_cast<LPARAM>(&suggested));
        pumpMessages();
        ASSERT_TRUE(GetClientRect(window_, &client));
        EXPECT_EQ((std::pair<int, int>(client.right, client.bottom)), clientAt.at(screen)) << dpi << " to " << screen;
        expectWhiteCanvasWithSprite(lopsidedColour, clientAt.at(screen).first / qel::kCanvasWidth);
    }
}

TEST_F(ViewerWindowTest, AFailedDropGraysExtractAndAGrayedExtractWritesNothing) {
    drop({writePacked("star.qel", makeBmp24(24, 24, lopsidedColour))});
    ASSERT_TRUE(extractEnabled());
    drop({work_.file("gone.qel")});
    EXPECT_TRUE(extractGrayed());
    // The payload of star.qel is still held; only the menu state stops it.
    EXPECT_EQ(command(qel::kExtractCommand), 0);
    EXPECT_FALSE(std::filesystem::exists(work_.file("gone.bmp")));
    EXPECT_FALSE(std::filesystem::exists(work_.file("star.bmp")));
}

TEST_F(ViewerWindowTest, OnlyTheFirstOfSeveralDroppedFilesIsTaken) {
    const std::string first = writePacked("first.qel", makeBmp24(24, 24, lopsidedColour));
    const std::string second = writePacked("second.qel", makeBmp24(24, 24, lopsidedColour));
    drop({first, second});
    EXPECT_EQ(windowTitle(window_), "first");
}

TEST_F(ViewerWindowTest, LongDroppedPathIsTakenWhole) {
    // Longer than MAX_PATH: a path cut short would leave a title of 'd's.
    drop({"C:\\" + std::string(300, 'd') + "\\deep.qel"});
    EXPECT_EQ(windowTitle(window_), "deep");
}

TEST_F(ViewerWindowTest, ANameOutsideTheCodePageKeepsEveryCharacter) {
    // U+661F is in no Western ANSI code page: through the 8-bit calls the
    // drop would arrive as "?.qel", which cannot be opened.
    const std::wstring star = L"\u661F";

    const std::string base = qel::wideToUtf8(star);
    const Bytes payload = makeBmp24(24, 24, lopsidedColour);
    drop({writePacked(base + ".qel", payload)});
    wchar_t title[16] = {};
    GetWindowTextW(window_, title, 16);
    EXPECT_EQ(std::wstring(title), star);
    EXPECT_TRUE(extractEnabled());
    expectWhiteCanvasWithSprite(lopsidedColour);

    EXPECT_EQ(command(qel::kExtractCommand), 0);
    const std::wstring extracted = qel::utf8ToWide(work_.file(base + ".bmp"));
    EXPECT_NE(GetFileAttributesW(extracted.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(qel::testing::readFile(work_.file(base + ".bmp")), payload);
}

TEST_F(ViewerWindowTest, ALongNameExtractsBesideAnyWorkingDirectory) {
    // The working directory and the name together are longer than MAX_PATH.
    const std::string base(240, 'n');
    const Bytes payload = makeBmp24(24, 24, lopsidedColour);
    drop({writePacked(base + ".qel", payload)});
    ASSERT_TRUE(extractEnabled());
    EXPECT_EQ(command(qel::kExtractCommand), 0);
    Bytes written;
    EXPECT_EQ(qel::readWholeFile(work_.file(base + ".bmp"), 1u << 20, written), qel::ReadStatus::ok);
    EXPECT_EQ(written, payload);
}

TEST_F(ViewerWindowTest, EscapeExitAndClosingEachQuitWithZero) {
    EXPECT_EQ(SendMessageA(window_, WM_KEYDOWN, 'A', 0), 0);
    EXPECT_FALSE(takeQuit().has_value()) << "only Escape ends the viewer";
    EXPECT_EQ(SendMessageA(window_, WM_KEYDOWN, VK_ESCAPE, 0), 0);
    EXPECT_EQ(takeQuit(), std::optional<int>(0));

    EXPECT_EQ(command(qel::kExitCommand), 0);
    EXPECT_EQ(takeQuit(), std::optional<int>(0));

    // Alt+F4 and the system menu arrive as WM_SYSCOMMAND, left to Windows.
    SendMessageA(window_, WM_SYSCOMMAND, SC_CLOSE, 0);
    pumpMessages();
    EXPECT_FALSE(IsWindow(window_));
    EXPECT_EQ(takeQuit(), std::optional<int>(0));
}

// "QelViewer.exe FILE OTHER", split from the program's wide command line,
// ends exactly as a drop of FILE on a fresh window (title, Extract state,
// diagnostics, pixels) for every kind of outcome; and not before the message
// loop runs.
TEST_F(ViewerWindowTest, AFileOnTheCommandLineIsOpenedAsADropOfIt) {
    writePacked("star.qel", makeBmp24(24, 24, lopsidedColour));
    qel::testing::writeFile(work_.file("junk.qel"), Bytes(64, 0x5A));
    qel::testing::writeFile(work_.file("picture.bmp"), makeBmp24(24, 24, lopsidedColour));
    for (const std::string name : {"junk.qel", "missing.qel", "picture.bmp", "star.qel"}) {
        std::tuple<std::string, UINT, std::string, std::vector<COLORREF>> seen[2];
        for (const bool dropped : {false, true}) {
            DestroyWindow(window_);
            window_ = qel::win32::createViewerWindow(thisModule());
            ShowWindow(window_, SW_SHOWNOACTIVATE);
            std::ostringstream errors;
            std::streambuf* const stderrBuffer = std::cerr.rdbuf(errors.rdbuf());
            if (dropped) {
                pumpMessages();
                drop({work_.file(name)});
            } else {
                const std::wstring line = qel::testing::quotedCommandLine(
                    {L"C:\\Program Files\\QelViewer\\QelViewer.exe", qel::utf8ToWide(work_.file(name)), L"other.qel"});
                qel::win32::openFromCommandLine(window_, qel::win32::commandLineArguments(line.c_str()));
                EXPECT_EQ(windowTitle(window_), "QelViewer");
                pumpMessages();
            }
            std::cerr.rdbuf(stderrBuffer);
            seen[dropped] = {windowTitle(window_), menuState(qel::kExtractCommand), errors.str(), {}};
            HDC dc = GetDC(window_);
            for (int i = 0; i < qel::kCanvasWidth * qel::kCanvasHeight; ++i) {
                std::get<3>(seen[dropped]).push_back(GetPixel(dc, i % qel::kCanvasWidth, i / qel::kCanvasWidth));
            }
            ReleaseDC(window_, dc);
        }
        EXPECT_TRUE(seen[0] == seen[1]) << name << ": " << std::get<0>(seen[0]) << ", " << std::get<2>(seen[0]);
        takeQuit();
    }
    EXPECT_EQ(windowTitle(window_), "star");  // the outcomes differed, so equality means something
    EXPECT_TRUE(extractEnabled());
}

TEST(ViewerWindowClass, IsRegisteredWithTheMenuIconCursorAndBackground) {
    ASSERT_TRUE(classRegistered());
    WNDCLASSEXA info{};
    info.cbSize = sizeof info;
    ASSERT_TRUE(GetClassInfoExA(thisModule(), qel::win32::kWindowClassName, &info));
    EXPECT_NE(info.hIcon, nullptr);
    EXPECT_EQ(info.hCursor, LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(info.hbrBackground, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
    ASSERT_TRUE(IS_INTRESOURCE(info.lpszMenuName));
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(info.lpszMenuName), 101u);
}

// Draws icon resource 104 at size over the key colour; the pixel colours.
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
        EXPECT_EQ(at(size / 2, size / 2), 0xFFC400u) << "the star's middle";
        EXPECT_EQ(at(size / 8 + 1, size * 3 / 4), 0x1F5F6Bu) << "the square beside the star";
    }
}

}  // namespace
