// What an installed QelViewer gives the shell, reached the way Explorer
// reaches it: run by scripts/test-msi.sh inside a Wine prefix where the MSI
// has just been installed, never by ctest directly.
//   - the thumbnail handler made by its class id, found through the file
//     type's handler key, on a stream over a file;
//   - the open verb of a .qel file, which starts the installed viewer.
#include <gtest/gtest.h>

#include <windows.h>

#include <objbase.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <filesystem>
#include <string>

#include "files/FileIo.h"
#include "packed/PackedFile.h"
#include "tests/explorer/ThumbnailCheck.h"
#include "tests/support/BmpFactory.h"
#include "tests/support/TestFiles.h"
#include "tests/win32/Win32TestSupport.h"

namespace {

using qel::testing::Bytes;

constexpr DWORD kTimeoutMs = 30000;

std::wstring registryText(HKEY root, const wchar_t* key, const wchar_t* name) {
    wchar_t value[1024] = {};
    DWORD size = sizeof value;
    if (RegGetValueW(root, key, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) return {};
    return value;
}

Bytes starFile() {
    const Bytes bmp = qel::testing::makeBmp24(24, 24, qel::testing::sampleSpriteColour);
    return qel::packBytes(bmp.data(), bmp.size(), 9);
}

class InstalledShell : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(InstalledShell, TheRegisteredHandlerGivesTheCoresThumbnail) {
    const std::wstring clsidText =
        registryText(HKEY_CLASSES_ROOT, L".qel\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}", nullptr);
    ASSERT_FALSE(clsidText.empty());
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromString(clsidText.c_str(), &clsid), S_OK);

    qel::testing::ScopedWorkDir work;
    const Bytes file = starFile();
    qel::testing::writeFile(work.file("star.qel"), file);
    for (const UINT cx : {16u, 48u, 256u}) {
        SCOPED_TRACE(cx);
        IUnknown* handler = nullptr;
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IUnknown),
                                   reinterpret_cast<void**>(&handler)), S_OK);
        IStream* stream = nullptr;
        ASSERT_EQ(SHCreateStreamOnFileEx(qel::utf8ToWide(work.file("star.qel")).c_str(), STGM_READ | STGM_SHARE_DENY_WRITE,
                                         FILE_ATTRIBUTE_NORMAL, FALSE, nullptr, &stream), S_OK);
        const qel::testing::ShellThumbnail got = qel::testing::thumbnailFrom(handler, stream, cx);
        stream->Release();
        handler->Release();
        const qel::testing::ShellThumbnail expected = qel::testing::coreThumbnail(file, static_cast<int>(cx));
        ASSERT_EQ(got.result, S_OK);
        EXPECT_TRUE(got.alphaIsArgb);
        EXPECT_EQ(got.width, expected.width);
        EXPECT_TRUE(got.rgba == expected.rgba);
    }
    // The DLL that answered is the installed one the class id names, not
    // the one built beside this test.
    const std::wstring registered =
        registryText(HKEY_CLASSES_ROOT, (L"CLSID\\" + clsidText + L"\\InprocServer32").c_str(), nullptr);
    HMODULE loaded = GetModuleHandleW(L"QelThumbnail.dll");
    ASSERT_NE(loaded, nullptr);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(loaded, path, MAX_PATH);
    EXPECT_EQ(CompareStringOrdinal(path, -1, registered.c_str(), -1, TRUE), CSTR_EQUAL)
        << qel::wideToUtf8(path) << " vs " << qel::wideToUtf8(registered);
}

// The viewer's window in process, once its title is title; null on timeout.
HWND windowTitled(DWORD process, const std::string& title) {
    for (DWORD waited = 0; waited < kTimeoutMs; waited += 50) {
        HWND candidate = nullptr;
        while ((candidate = FindWindowExA(nullptr, candidate, "QelView", nullptr)) != nullptr) {
            DWORD owner = 0;
            GetWindowThreadProcessId(candidate, &owner);
            if (owner == process && qel::testing::windowTitle(candidate) == title) return candidate;
        }
        Sleep(50);
    }
    return nullptr;
}

// "Open" on a .qel file in a spaced folder, as a double-click in Explorer
// asks for it: the installed viewer starts with the file, and works in the
// folder the starter names. Explorer names the folder it shows, the file's,
// so Extract(BMP) writes the picture beside the file; a starter that names
// none (lpDirectory null) lends its own working directory, as Wine shows.
TEST_F(InstalledShell, TheOpenVerbStartsTheViewerWithTheFileInTheStartersFolder) {
    const struct {
        bool fileFolder;      // lpDirectory: the file's folder, or null
        const char* written;  // where Extract(BMP) then writes
    } cases[] = {{true, "My Sprites/star sprite.bmp"}, {false, "star sprite.bmp"}};
    const Bytes bmp = qel::testing::makeBmp24(24, 24, qel::testing::sampleSpriteColour);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.written);
        qel::testing::ScopedWorkDir work;
        std::filesystem::create_directory(work.path() / "My Sprites");
        const std::string file = work.file("My Sprites/star sprite.qel");
        const std::wstring folder = qel::utf8ToWide(work.file("My Sprites"));
        qel::testing::writeFile(file, starFile());

        const std::wstring wideFile = qel::utf8ToWide(file);
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS;
        info.lpVerb = L"open";
        info.lpFile = wideFile.c_str();
        info.lpDirectory = c.fileFolder ? folder.c_str() : nullptr;
        info.nShow = SW_SHOWNORMAL;
        ASSERT_TRUE(ShellExecuteExW(&info)) << GetLastError();
        ASSERT_NE(info.hProcess, nullptr);
        HWND window = windowTitled(GetProcessId(info.hProcess), "star sprite");
        EXPECT_NE(window, nullptr) << "no viewer window titled \"star sprite\"";
        if (window) {
            SendMessageA(window, WM_COMMAND, MAKEWPARAM(40001, 0), 0);  // Extract(BMP)
            PostMessageA(window, WM_CLOSE, 0, 0);
        }
        DWORD status = 12345;
        if (WaitForSingleObject(info.hProcess, kTimeoutMs) != WAIT_OBJECT_0) TerminateProcess(info.hProcess, 99);
        GetExitCodeProcess(info.hProcess, &status);
        CloseHandle(info.hProcess);
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(qel::testing::readFile(work.file(c.written)), bmp);
    }
}

}  // namespace
