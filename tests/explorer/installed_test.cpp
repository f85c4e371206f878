// The installed QelViewer as Explorer reaches it, run by scripts/test-msi.sh
// in a Wine prefix where the MSI has just been installed: the thumbnail
// handler made by the class id the file type names, and the open verb.
#include <gtest/gtest.h>

#include "tests/explorer/ThumbnailCheck.h"

#include <shellapi.h>

#include <filesystem>
#include <string>

#include "files/FileIo.h"
#include "tests/support/TestFiles.h"
#include "tests/win32/Win32TestSupport.h"

namespace {

using qel::testing::Bytes;

std::wstring registryText(const std::wstring& key) {
    wchar_t value[1024] = {};
    DWORD size = sizeof value;
    RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size);
    return value;
}

const Bytes kBmp = qel::testing::makeBmp24(24, 24, qel::testing::sampleSpriteColour);
const Bytes kPacked = qel::packBytes(kBmp.data(), kBmp.size(), 9);

TEST(InstalledShell, TheRegisteredHandlerGivesTheCoresThumbnail) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    const std::wstring clsidText = registryText(L".qel\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}");
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromString(clsidText.c_str(), &clsid), S_OK);
    qel::testing::ScopedWorkDir work;
    qel::testing::writeFile(work.file("star.qel"), kPacked);
    for (const UINT cx : {16u, 256u}) {
        IUnknown* handler = nullptr;
        IStream* stream = nullptr;
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&handler)), S_OK);
        ASSERT_EQ(SHCreateStreamOnFileEx(qel::utf8ToWide(work.file("star.qel")).c_str(), STGM_READ, 0, FALSE, nullptr,
                                         &stream), S_OK);
        EXPECT_TRUE(qel::testing::thumbnailFrom(handler, stream, cx) == qel::testing::coreThumbnail(kPacked, cx)) << cx;
        stream->Release();
        handler->Release();
    }
    // The DLL that answered is the installed one, not the one beside this test.
    wchar_t loaded[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(L"QelThumbnail.dll"), loaded, MAX_PATH);
    EXPECT_EQ(std::wstring(loaded), registryText(L"CLSID\\" + clsidText + L"\\InprocServer32"));
    CoUninitialize();
}

// "Open" on a .qel file in a spaced folder starts the installed viewer with
// it, in the folder the starter names: Explorer names the file's, so
// Extract(BMP) writes beside the file; a starter naming none (lpDirectory
// null) lends the viewer its own working directory, as Wine shows.
TEST(InstalledShell, TheOpenVerbStartsTheViewerWithTheFileInTheStartersFolder) {
    for (const bool fileFolder : {true, false}) {
        qel::testing::ScopedWorkDir work;
        std::filesystem::create_directory(work.path() / "My Sprites");
        qel::testing::writeFile(work.file("My Sprites/star sprite.qel"), kPacked);
        const std::wstring file = qel::utf8ToWide(work.file("My Sprites/star sprite.qel"));
        const std::wstring folder = qel::utf8ToWide(work.file("My Sprites"));
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS;
        info.lpVerb = L"open";
        info.lpFile = file.c_str();
        info.lpDirectory = fileFolder ? folder.c_str() : nullptr;
        info.nShow = SW_SHOWNORMAL;
        ASSERT_TRUE(ShellExecuteExW(&info) && info.hProcess) << GetLastError();
        HWND window = nullptr;
        for (int i = 0; i < 600 && !window; ++i, Sleep(50)) {
            HWND found = FindWindowA("QelView", "star sprite");
            DWORD owner = 0;
            GetWindowThreadProcessId(found, &owner);
            if (found && owner == GetProcessId(info.hProcess)) window = found;
        }
        EXPECT_NE(window, nullptr) << "no viewer window titled \"star sprite\"";
        SendMessageA(window, WM_COMMAND, 40001, 0);  // Extract(BMP)
        PostMessageA(window, WM_CLOSE, 0, 0);
        DWORD status = 99;
        if (WaitForSingleObject(info.hProcess, 30000) != WAIT_OBJECT_0) TerminateProcess(info.hProcess, 99);
        GetExitCodeProcess(info.hProcess, &status);
        CloseHandle(info.hProcess);
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(qel::testing::readFile(work.file(fileFolder ? "My Sprites/star sprite.bmp" : "star sprite.bmp")), kBmp);
    }
}

}  // namespace
