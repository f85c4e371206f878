// The thumbnail handler as the shell drives it, and the pixels the core says
// it must give. ThumbnailHandler: the DLL beside this test, loaded by path.
// InstalledShell: run only by scripts/test-msi.sh, in a Wine prefix where the
// MSI is installed: the handler the registry names, and the open verb.
#include <gtest/gtest.h>

#include <windows.h>

#include <propsys.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <thumbcache.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>

#include "files/FileIo.h"
#include "imaging/Picture.h"
#include "imaging/Raster.h"
#include "packed/PackedFile.h"
#include "plugins/explorer/ThumbnailClsid.h"
#include "tests/malformed/HostileInputs.h"
#include "tests/support/BmpFactory.h"
#include "tests/support/TestFiles.h"
#include "tests/win32/Win32TestSupport.h"

namespace {

using qel::testing::Bytes;

struct Thumbnail {
    HRESULT result = E_FAIL;
    int width = 0, height = 0;
    Bytes rgba;  // top row first
    bool operator==(const Thumbnail& o) const {
        return std::tie(result, width, height, rgba) == std::tie(o.result, o.width, o.height, o.rgba);
    }
};

// Initialize(stream), GetThumbnail(cx), and the bitmap read back as RGBA. A
// bitmap that is not ARGB, or one handed back with a failure, is E_ABORT.
Thumbnail thumbnailFrom(IUnknown* handler, IStream* stream, UINT cx) {
    Thumbnail out;
    IInitializeWithStream* init = nullptr;
    IThumbnailProvider* provider = nullptr;
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    if (FAILED(out.result = handler->QueryInterface(IID_PPV_ARGS(&init)))) return out;
    out.result = init->Initialize(stream, STGM_READ);
    init->Release();
    if (FAILED(out.result) || FAILED(out.result = handler->QueryInterface(IID_PPV_ARGS(&provider)))) return out;
    out.result = provider->GetThumbnail(cx, &bitmap, &alpha);
    provider->Release();
    BITMAP shape{};
    if (!bitmap || !GetObjectW(bitmap, sizeof shape, &shape)) {
        if (SUCCEEDED(out.result)) out.result = E_ABORT;
        return out;
    }
    if (FAILED(out.result) || alpha != WTSAT_ARGB) out.result = E_ABORT;
    out.width = shape.bmWidth;
    out.height = shape.bmHeight;
    BITMAPINFO info{{sizeof(BITMAPINFOHEADER), out.width, -out.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    out.rgba.resize(static_cast<std::size_t>(out.width) * out.height * 4);
    HDC dc = GetDC(nullptr);
    if (GetDIBits(dc, bitmap, 0, out.height, out.rgba.data(), &info, DIB_RGB_COLORS) != out.height) out.result = E_ABORT;
    ReleaseDC(nullptr, dc);
    DeleteObject(bitmap);
    for (std::size_t i = 0; i + 3 < out.rgba.size(); i += 4) std::swap(out.rgba[i], out.rgba[i + 2]);  // BGRA
    return out;
}

// The core's thumbnail (`qel thumbnail -s cx`); E_FAIL where the viewer refuses the file.
Thumbnail coreThumbnail(const Bytes& packed, int cx) {
    Thumbnail out;
    qel::Raster sprite;
    std::ostringstream diagnostics;
    if (qel::decodePackedBytes(packed.data(), packed.size(), sprite, diagnostics).outcome != qel::DecodeOutcome::success) {
        return out;
    }
    qel::PictureSize size;
    out.rgba = qel::thumbnailRgba(sprite, cx, qel::KeyPixel::clear, size);
    out.result = S_OK;
    out.width = size.width;
    out.height = size.height;
    return out;
}

Bytes packedOf(const Bytes& bmp) { return qel::packBytes(bmp.data(), bmp.size(), 9); }

// An entry point of the DLL beside this test, loaded once.
template <typename Function>
Function entry(const char* name) {
    static const HMODULE dll = LoadLibraryA((qel::testing::programDirectory() + "QelThumbnail.dll").c_str());
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(dll, name)));
}
HRESULT getClassObject(REFCLSID clsid, IClassFactory** factory) {
    const auto function = entry<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>("DllGetClassObject");
    return function ? function(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory)) : E_FAIL;
}

Thumbnail thumbnailOf(IStream* stream, UINT cx) {
    IClassFactory* factory = nullptr;
    IUnknown* handler = nullptr;
    if (getClassObject(qel::explorer::kThumbnailClsid, &factory) != S_OK) return {};
    factory->CreateInstance(nullptr, IID_PPV_ARGS(&handler));
    factory->Release();
    if (!handler) return {};
    Thumbnail thumbnail = thumbnailFrom(handler, stream, cx);
    handler->Release();
    return thumbnail;
}
Thumbnail thumbnailOf(const Bytes& file, UINT cx) {
    IStream* stream = SHCreateMemStream(file.data(), static_cast<UINT>(file.size()));
    Thumbnail thumbnail = thumbnailOf(stream, cx);
    stream->Release();
    return thumbnail;
}

// Every bit count and an odd shape, reduced, kept and enlarged; every hostile
// packed file refused exactly where the viewer refuses it.
TEST(ThumbnailHandler, GivesTheCoresThumbnailOrFailsWhereTheViewerRefuses) {
    for (const Bytes& bmp : {qel::testing::sampleSprite24(), qel::testing::sampleSprite16(), qel::testing::sampleSprite8(),
                             qel::testing::makeBmp24(30, 7, [](int x, int y) { return x % 3 ? 0x102030u * y : 0xFF00FFu; })}) {
        for (const UINT cx : {1u, 16u, 25u, 96u, 256u}) {
            const Thumbnail expected = coreThumbnail(packedOf(bmp), static_cast<int>(cx));
            ASSERT_EQ(expected.result, S_OK);
            EXPECT_TRUE(thumbnailOf(packedOf(bmp), cx) == expected) << cx;
        }
    }
    int refused = 0;
    for (const qel::testing::NamedInput& input : qel::testing::hostilePackedFiles()) {
        const Thumbnail expected = coreThumbnail(input.bytes, 64);
        const Thumbnail got = thumbnailOf(input.bytes, 64);
        refused += FAILED(expected.result);
        EXPECT_TRUE(FAILED(expected.result) ? FAILED(got.result) : got == expected) << input.name;
    }
    EXPECT_GT(refused, 10);
    for (const UINT cx : {0u, 4097u}) EXPECT_EQ(thumbnailOf(packedOf(qel::testing::sampleSprite8()), cx).result, E_INVALIDARG);
}

// A sound file and a megabyte of junk: reading stops where the zlib stream
// ends, and the handler lets go of the stream.
TEST(ThumbnailHandler, ReadsOnlyAsFarAsTheZlibStreamGoes) {
    Bytes file = packedOf(qel::testing::sampleSprite24());
    file.resize(file.size() + (1u << 20), 0x5A);
    IStream* stream = SHCreateMemStream(file.data(), static_cast<UINT>(file.size()));
    EXPECT_EQ(thumbnailOf(stream, 32).result, S_OK);
    ULARGE_INTEGER at{};
    stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_CUR, &at);
    EXPECT_LT(at.QuadPart, 65536u);
    EXPECT_EQ(stream->Release(), 0u);
}

TEST(ThumbnailHandler, CallsOutOfOrderFailAndTheDllUnloadsOnlyWhenAllIsReleased) {
    const auto canUnloadNow = entry<HRESULT(WINAPI*)()>("DllCanUnloadNow");
    ASSERT_NE(canUnloadNow, nullptr);
    IClassFactory* factory = nullptr;
    IThumbnailProvider* provider = nullptr;
    EXPECT_EQ(getClassObject(IID_IUnknown, &factory), CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(getClassObject(qel::explorer::kThumbnailClsid, &factory), S_OK);
    EXPECT_EQ(factory->CreateInstance(factory, IID_PPV_ARGS(&provider)), CLASS_E_NOAGGREGATION);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&provider)), S_OK);
    factory->LockServer(TRUE);
    factory->Release();
    HBITMAP bitmap = reinterpret_cast<HBITMAP>(1);
    WTS_ALPHATYPE alpha;
    EXPECT_TRUE(FAILED(provider->GetThumbnail(32, &bitmap, &alpha)) && !bitmap);  // before Initialize
    provider->Release();
    EXPECT_EQ(canUnloadNow(), S_FALSE);  // still locked
    ASSERT_EQ(getClassObject(qel::explorer::kThumbnailClsid, &factory), S_OK);
    factory->LockServer(FALSE);
    factory->Release();
    EXPECT_EQ(canUnloadNow(), S_OK);
}

std::wstring registryText(const std::wstring& key) {
    wchar_t value[1024] = {};
    DWORD size = sizeof value;
    RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size);
    return value;
}

TEST(InstalledShell, TheRegisteredHandlerGivesTheCoresThumbnail) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    const std::wstring clsidText = registryText(L".qel\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}");
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromString(clsidText.c_str(), &clsid), S_OK);
    const Bytes packed = packedOf(qel::testing::sampleSprite24());
    IUnknown* handler = nullptr;
    IStream* stream = SHCreateMemStream(packed.data(), static_cast<UINT>(packed.size()));
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&handler)), S_OK);
    EXPECT_TRUE(thumbnailFrom(handler, stream, 48) == coreThumbnail(packed, 48));
    stream->Release();
    handler->Release();
    // The DLL that answered is the installed one.
    wchar_t loaded[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(L"QelThumbnail.dll"), loaded, MAX_PATH);
    EXPECT_EQ(std::wstring(loaded), registryText(L"CLSID\\" + clsidText + L"\\InprocServer32"));
    CoUninitialize();
}

// "Open" on a .qel file in a spaced folder, as Explorer asks (in the file's
// folder): the installed viewer shows it, and Extract(BMP) writes beside it.
TEST(InstalledShell, TheOpenVerbStartsTheViewerWithTheFile) {
    qel::testing::ScopedWorkDir work;
    std::filesystem::create_directory(work.path() / "My Sprites");
    const Bytes bmp = qel::testing::sampleSprite24();
    qel::testing::writeFile(work.file("My Sprites/star sprite.qel"), packedOf(bmp));
    const std::wstring file = qel::utf8ToWide(work.file("My Sprites/star sprite.qel"));
    const std::wstring folder = qel::utf8ToWide(work.file("My Sprites"));
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = L"open";
    info.lpFile = file.c_str();
    info.lpDirectory = folder.c_str();
    info.nShow = SW_SHOWNORMAL;
    ASSERT_TRUE(ShellExecuteExW(&info) && info.hProcess) << GetLastError();
    HWND window = nullptr;
    for (int i = 0; i < 600 && !(window = FindWindowA("QelView", "star sprite")); ++i) Sleep(50);
    EXPECT_NE(window, nullptr) << "no viewer window titled \"star sprite\"";
    SendMessageA(window, WM_COMMAND, 40001, 0);  // Extract(BMP)
    PostMessageA(window, WM_CLOSE, 0, 0);
    DWORD status = 99;
    if (WaitForSingleObject(info.hProcess, 30000) != WAIT_OBJECT_0) TerminateProcess(info.hProcess, 99);
    GetExitCodeProcess(info.hProcess, &status);
    CloseHandle(info.hProcess);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(qel::testing::readFile(work.file("My Sprites/star sprite.bmp")), bmp);
}

}  // namespace
