// The thumbnail handler as the shell drives it, and the WIC decoder as WIC programs do, against the core's
// pixels. ThumbnailHandler: the DLL beside this test, loaded by path. InstalledShell: run only by
// scripts/test-msi.sh, where the MSI is installed.
#include <gtest/gtest.h>

#include <windows.h>

#include <shellapi.h>
#include <shlwapi.h>
#include <thumbcache.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <tuple>
#include <utility>

#include "demo/DemoFiles.h"
#include "files/FileIo.h"
#include "imaging/Picture.h"
#include "imaging/Raster.h"
#include "packed/PackedFile.h"
#include "plugins/explorer/DecoderIds.h"
#include "plugins/explorer/ThumbnailClsid.h"
#include "tests/malformed/HostileInputs.h"
#include "tests/support/BmpFactory.h"
#include "tests/support/TestFiles.h"
#include "tests/win32/Win32TestSupport.h"

namespace {

using Microsoft::WRL::ComPtr;
using qel::explorer::kThumbnailClsid;
using qel::testing::Bytes;

struct Thumbnail {
    HRESULT result = E_FAIL;
    int width = 0, height = 0;
    Bytes rgba;             // top row first
    ULONGLONG readTo = 0;  // how far the handler read the stream
    bool operator==(const Thumbnail& o) const {
        return std::tie(result, width, height, rgba) == std::tie(o.result, o.width, o.height, o.rgba);
    }
};

// `qel thumbnail -s cx`; E_FAIL where the viewer refuses the file.
Thumbnail coreThumbnail(const Bytes& packed, UINT cx) {
    qel::Raster sprite;
    if (qel::decodePacked(packed.data(), packed.size(), &sprite).outcome != qel::DecodeOutcome::success) {
        return {};
    }
    qel::PictureSize size;
    Bytes rgba = qel::thumbnailRgba(sprite, static_cast<int>(cx), qel::KeyPixel::clear, size);
    return {S_OK, size.width, size.height, std::move(rgba)};
}

// The thumbnail of file at cx through a handler that factory makes, asked for as the shell asks, read back
// as RGBA. S_FALSE where the result and the bitmap disagree: a success without an ARGB bitmap, or a failure
// with one. The handler must let go of the stream.
Thumbnail thumbnailOf(IClassFactory* factory, const Bytes& file, UINT cx) {
    Thumbnail out;
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    IStream* stream = SHCreateMemStream(file.data(), static_cast<UINT>(file.size()));
    ComPtr<IInitializeWithStream> init;
    ComPtr<IThumbnailProvider> provider;
    if (SUCCEEDED(out.result = factory->CreateInstance(nullptr, IID_PPV_ARGS(init.GetAddressOf()))) &&
        SUCCEEDED(out.result = init->Initialize(stream, STGM_READ)) && SUCCEEDED(out.result = init.As(&provider))) {
        out.result = provider->GetThumbnail(cx, &bitmap, &alpha);
        // The shell may ask one handler again: the same thumbnail, of the whole file.
        if (SUCCEEDED(out.result) && DeleteObject(bitmap)) out.result = provider->GetThumbnail(cx, &bitmap, &alpha);
    }
    init.Reset(), provider.Reset();
    ULARGE_INTEGER at{};
    stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_CUR, &at);
    out.readTo = at.QuadPart;
    EXPECT_EQ(stream->Release(), 0u) << "the released handler still holds the stream";
    BITMAP shape{};
    const bool shaped = bitmap && GetObjectW(bitmap, sizeof shape, &shape);
    if (SUCCEEDED(out.result) ? !(shaped && alpha == WTSAT_ARGB) : bitmap != nullptr) out.result = S_FALSE;
    if (!shaped) return out;
    out.width = shape.bmWidth, out.height = shape.bmHeight;
    BITMAPINFO info{{sizeof(BITMAPINFOHEADER), out.width, -out.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    out.rgba.resize(static_cast<std::size_t>(out.width) * out.height * 4);
    HDC dc = GetDC(nullptr);
    if (GetDIBits(dc, bitmap, 0, out.height, out.rgba.data(), &info, DIB_RGB_COLORS) != out.height) out.result = S_FALSE;
    ReleaseDC(nullptr, dc);
    DeleteObject(bitmap);
    for (std::size_t i = 0; i + 3 < out.rgba.size(); i += 4) std::swap(out.rgba[i], out.rgba[i + 2]);  // BGRA
    return out;
}

Bytes packedOf(const Bytes& bmp) { return qel::packBytes(bmp.data(), bmp.size(), 9); }

using Pixels = std::tuple<UINT, UINT, Bytes>;  // width, height, pixels top row first

// `qel extract --png`'s picture of file as BGRA, the key colour kept (channels 4), or BGR (3); {} if refused.
Pixels corePixels(const Bytes& file, UINT channels) {
    qel::Raster sprite;
    if (qel::decodePacked(file.data(), file.size(), &sprite).outcome != qel::DecodeOutcome::success) return {};
    const Bytes rgba = qel::pictureRgba(sprite, qel::KeyPixel::keepColour);
    Bytes pixels;
    for (std::size_t i = 0; i + 3 < rgba.size(); i += 4) {
        pixels.insert(pixels.end(), {rgba[i + 2], rgba[i + 1], rgba[i], rgba[i + 3]});
        pixels.resize(pixels.size() - 4 + channels);
    }
    return {static_cast<UINT>(sprite.width()), static_cast<UINT>(sprite.height()), pixels};
}

template <typename Function>
Function entry(const char* name) {
    static const HMODULE dll = LoadLibraryA((qel::testing::programDirectory() + "QelThumbnail.dll").c_str());
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(dll, name)));
}
HRESULT getClassObject(REFCLSID clsid, ComPtr<IClassFactory>& factory) {
    const auto function = entry<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>("DllGetClassObject");
    return function ? function(clsid, IID_PPV_ARGS(factory.ReleaseAndGetAddressOf())) : E_FAIL;
}

class ThumbnailHandler : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(getClassObject(kThumbnailClsid, factory), S_OK); }
    ComPtr<IClassFactory> factory;
};

// Every bit count and an odd shape, reduced, kept and enlarged; every hostile packed file refused exactly
// where the viewer refuses it; sizes out of range refused.
TEST_F(ThumbnailHandler, GivesTheCoresThumbnailOrFailsWhereTheViewerRefuses) {
    for (const Bytes& bmp : {qel::testing::sampleSprite24(), qel::testing::sampleSprite16(), qel::testing::sampleSprite8(),
                             qel::testing::makeBmp24(30, 7, [](int x, int y) { return x % 3 ? 0x102030u * y : 0xFF00FFu; })}) {
        for (const UINT cx : {1u, 16u, 25u, 96u, 256u}) {
            const Thumbnail expected = coreThumbnail(packedOf(bmp), cx);
            EXPECT_TRUE(expected.result == S_OK && thumbnailOf(factory.Get(), packedOf(bmp), cx) == expected) << cx;
        }
    }
    int refused = 0;
    for (const qel::testing::NamedInput& input : qel::testing::hostilePackedFiles()) {
        const Thumbnail expected = coreThumbnail(input.bytes, 64), got = thumbnailOf(factory.Get(), input.bytes, 64);
        refused += FAILED(expected.result);
        EXPECT_TRUE(FAILED(expected.result) ? FAILED(got.result) : got == expected) << input.name;
    }
    EXPECT_GT(refused, 10);
    Bytes file = packedOf(qel::testing::sampleSprite8());
    for (const UINT cx : {0u, 4097u}) EXPECT_EQ(thumbnailOf(factory.Get(), file, cx).result, E_INVALIDARG) << cx;
    const Thumbnail expected = coreThumbnail(file, 32);
    file.resize(file.size() + (1u << 20), 0x5A);  // a sound file and a megabyte of junk: read no further than zlib
    const Thumbnail got = thumbnailOf(factory.Get(), file, 32);
    EXPECT_TRUE(got == expected && got.readTo < 65536u) << got.readTo;
}

TEST_F(ThumbnailHandler, CallsOutOfOrderFailAndTheDllUnloadsOnlyWhenAllIsReleased) {
    const auto canUnloadNow = entry<HRESULT(WINAPI*)()>("DllCanUnloadNow");
    ASSERT_NE(canUnloadNow, nullptr);
    ComPtr<IThumbnailProvider> provider;
    EXPECT_EQ(getClassObject(IID_IUnknown, factory), CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(getClassObject(kThumbnailClsid, factory), S_OK);
    EXPECT_EQ(factory->CreateInstance(factory.Get(), IID_PPV_ARGS(provider.GetAddressOf())), CLASS_E_NOAGGREGATION);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(provider.GetAddressOf())), S_OK);
    HBITMAP bitmap = reinterpret_cast<HBITMAP>(1);
    WTS_ALPHATYPE alpha;
    EXPECT_TRUE(FAILED(provider->GetThumbnail(32, &bitmap, &alpha)) && !bitmap);  // before Initialize
    factory.Reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE);  // the handler lives
    provider.Reset();
    ASSERT_EQ(getClassObject(kThumbnailClsid, factory), S_OK);
    factory->LockServer(TRUE);
    factory.Reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE);  // locked
    ASSERT_EQ(getClassObject(kThumbnailClsid, factory), S_OK);
    factory->LockServer(FALSE);
    EXPECT_EQ(canUnloadNow(), S_FALSE);  // the class object lives
    factory.Reset();
    EXPECT_EQ(canUnloadNow(), S_OK);
}

// A stream as a share or an archive may give file: chunk bytes a read at most, a failure once a read passes
// failAt, seeks refused unless seekable; at byte 2, as WIC's pattern matching leaves it. result: Initialize's.
struct StreamRow { Bytes file; ULONG chunk; ULONGLONG failAt; bool seekable; HRESULT result; };
class AwkwardStream final : public IStream {
public:
    explicit AwkwardStream(const StreamRow& row) : row_(row) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override { return *object = nullptr, E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override { return --references_; }  // on the test's stack
    HRESULT STDMETHODCALLTYPE Read(void* out, ULONG size, ULONG* got) override {
        const ULONGLONG left = at_ < row_.file.size() ? row_.file.size() - at_ : 0;
        const ULONG n = static_cast<ULONG>(std::min<ULONGLONG>({size, row_.chunk, left}));
        if (at_ + n > row_.failAt) return STG_E_READFAULT;
        std::copy_n(row_.file.data() + at_, n, static_cast<BYTE*>(out));
        at_ += n;
        if (got) *got = n;
        return n == 0 && size > 0 ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* to) override {
        if (!row_.seekable) return STG_E_INVALIDFUNCTION;
        at_ = (origin == STREAM_SEEK_SET ? 0 : origin == STREAM_SEEK_CUR ? at_ : row_.file.size()) + move.QuadPart;
        if (to) to->QuadPart = at_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }
    const StreamRow& row_;
    ULONG references_ = 1;
    ULONGLONG at_ = 2;
};

// The decoder of the DLL beside this test on such streams: the core's picture or a WINCODEC_ERR code and no
// frame; QueryCapability agrees and leaves the stream where it was; the stream is let go of.
TEST_F(ThumbnailHandler, TheWicDecoderGivesTheCoresPictureOrAWicErrorWhateverTheStreamDoes) {
    ASSERT_EQ(getClassObject(qel::explorer::kDecoderClsid, factory), S_OK);
    const Bytes sprite =
        packedOf(qel::testing::makeBmp24(30, 7, [](int x, int y) { return x % 3 ? 0x102030u * y : 0xFF00FFu; }));
    const StreamRow rows[] = {
        {sprite, 1, ~0ull, true, S_OK},                            // one byte a read
        {sprite, 1u << 20, sprite.size() / 2, true, WINCODEC_ERR_STREAMREAD},  // a read fails half way
        {sprite, 1u << 20, ~0ull, false, WINCODEC_ERR_STREAMREAD},  // cannot seek to the start
        {Bytes(sprite.begin(), sprite.end() - 9), 7, ~0ull, true, WINCODEC_ERR_BADIMAGE},  // cut short
        {Bytes(64, 0x78), 1u << 20, ~0ull, true, WINCODEC_ERR_BADIMAGE},  // no zlib stream
    };
    for (const auto& row : rows) {
        AwkwardStream stream(row);
        ComPtr<IWICBitmapDecoder> decoder;
        ComPtr<IWICBitmapFrameDecode> frame;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&decoder)), S_OK);
        DWORD capability = 99;
        const HRESULT asked = decoder->QueryCapability(&stream, &capability);
        EXPECT_TRUE(row.result == WINCODEC_ERR_BADIMAGE ? asked == S_OK && capability == 0
                                                        : asked == row.result && (capability != 0) == SUCCEEDED(asked));
        EXPECT_TRUE(stream.at_ == 2u || !row.seekable) << "QueryCapability left the stream at " << stream.at_;
        EXPECT_EQ(decoder->Initialize(&stream, WICDecodeMetadataCacheOnDemand), row.result);
        EXPECT_EQ(decoder->GetFrame(0, &frame), SUCCEEDED(row.result) ? S_OK : WINCODEC_ERR_NOTINITIALIZED);
        Pixels got;
        Bytes part(3 * 4 * 2);  // a 3 x 2 rectangle at (1, 4)
        const WICRect rect{1, 4, 3, 2};
        if (frame && SUCCEEDED(frame->GetSize(&std::get<0>(got), &std::get<1>(got)))) {
            std::get<2>(got).resize(std::size_t{std::get<0>(got)} * std::get<1>(got) * 4);
            frame->CopyPixels(nullptr, std::get<0>(got) * 4, static_cast<UINT>(std::get<2>(got).size()), std::get<2>(got).data());
            EXPECT_EQ(frame->CopyPixels(&rect, 12, static_cast<UINT>(part.size()), part.data()), S_OK);
            for (int y = 0; y < 2; ++y) {
                EXPECT_TRUE(std::equal(part.begin() + y * 12, part.begin() + y * 12 + 12, &std::get<2>(got)[((y + 4) * 30 + 1) * 4]));
            }
        }
        EXPECT_EQ(got, corePixels(SUCCEEDED(row.result) ? row.file : Bytes{}, 4));
        decoder.Reset(), frame.Reset();
        EXPECT_EQ(stream.references_, 1u) << "the decoder still holds the stream";
    }
}

TEST(InstalledShell, TheRegisteredHandlerGivesTheCoresThumbnail) {
    const auto registryText = [](const std::wstring& key) {
        wchar_t value[1024] = {};
        DWORD size = sizeof value;
        RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size);
        return std::wstring(value);
    };
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    const std::wstring clsidText = registryText(L".qel\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}");
    CLSID clsid{};
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CLSIDFromString(clsidText.c_str(), &clsid), S_OK);
    ASSERT_EQ(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_PPV_ARGS(factory.GetAddressOf())), S_OK);
    const Bytes packed = packedOf(qel::testing::sampleSprite24());
    EXPECT_TRUE(thumbnailOf(factory.Get(), packed, 48) == coreThumbnail(packed, 48));
    wchar_t loaded[MAX_PATH] = {};  // the DLL that answered is the installed one
    GetModuleFileNameW(GetModuleHandleW(L"QelThumbnail.dll"), loaded, MAX_PATH);
    EXPECT_EQ(std::wstring(loaded), registryText(L"CLSID\\" + clsidText + L"\\InprocServer32"));
}

// "Open" on a .qel file in a spaced folder, as Explorer asks (in the file's folder): the installed viewer
// shows it, and Extract(BMP) writes beside it.
TEST(InstalledShell, TheOpenVerbStartsTheViewerWithTheFile) {
    qel::testing::ScopedWorkDir work;
    std::filesystem::create_directory(work.path() / "My Sprites");
    const Bytes bmp = qel::testing::sampleSprite24();
    qel::testing::writeFile(work.file("My Sprites/star sprite.qel"), packedOf(bmp));
    const std::wstring file = qel::utf8ToWide(work.file("My Sprites/star sprite.qel"));
    const std::wstring folder = qel::utf8ToWide(work.file("My Sprites"));
    SHELLEXECUTEINFOW info{sizeof info, SEE_MASK_NOCLOSEPROCESS, nullptr, L"open", file.c_str(), nullptr,
                           folder.c_str(), SW_SHOWNORMAL, nullptr, nullptr, nullptr, nullptr, 0, {}, nullptr};
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

// A WIC program naming no decoder gets for each demo sprite and hostile file the core's pixels through
// WICConvertBitmapSource to 32bppBGRA and 24bppBGR, or fails where the viewer refuses; the enumerator lists it.
TEST(InstalledShell, WicProgramsOpenSpritesThroughTheRegisteredDecoder) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ComPtr<IWICImagingFactory> wic;
    ASSERT_EQ(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&wic)), S_OK);
    qel::testing::ScopedWorkDir work;
    // The file's pixels in format, channels bytes a pixel; {} where refused.
    const auto throughWic = [&](const std::string& name, const Bytes& file, REFGUID format, UINT channels) {
        qel::testing::writeFile(work.file(name), file);
        ComPtr<IWICBitmapDecoder> decoder;
        ComPtr<IWICBitmapFrameDecode> frame;
        ComPtr<IWICBitmapSource> converted;
        UINT width = 0, height = 0;
        if (FAILED(wic->CreateDecoderFromFilename(qel::utf8ToWide(work.file(name)).c_str(), nullptr, GENERIC_READ,
                                                  WICDecodeMetadataCacheOnDemand, &decoder)) ||
            FAILED(decoder->GetFrame(0, &frame)) || FAILED(WICConvertBitmapSource(format, frame.Get(), &converted)) ||
            FAILED(converted->GetSize(&width, &height))) {
            return Pixels{};
        }
        Bytes pixels(std::size_t{width} * height * channels);
        const HRESULT copied = converted->CopyPixels(nullptr, width * channels, static_cast<UINT>(pixels.size()), pixels.data());
        return SUCCEEDED(copied) ? Pixels{width, height, pixels} : Pixels{0, 0, {1}};
    };
    std::vector<qel::testing::NamedInput> files = qel::testing::hostilePackedFiles();
    for (qel::demo::DemoFile& demo : qel::demo::makeDemoFiles()) {
        if (std::filesystem::path(demo.name).extension() == ".qel") files.push_back({demo.name, std::move(demo.bytes)});
    }
    int shown = 0;
    for (const qel::testing::NamedInput& input : files) {
        const std::string name = "wic-" + input.name + ".qel";
        EXPECT_EQ(throughWic(name, input.bytes, GUID_WICPixelFormat32bppBGRA, 4), corePixels(input.bytes, 4)) << input.name;
        EXPECT_EQ(throughWic(name, input.bytes, GUID_WICPixelFormat24bppBGR, 3), corePixels(input.bytes, 3)) << input.name;
        shown += !std::get<2>(corePixels(input.bytes, 4)).empty();
    }
    EXPECT_GE(shown, 4);  // the demo's four sprites at least
    ComPtr<IEnumUnknown> decoders;
    ASSERT_EQ(wic->CreateComponentEnumerator(WICDecoder, WICComponentEnumerateDefault, &decoders), S_OK);
    std::wstring listed;
    for (ComPtr<IUnknown> item; decoders->Next(1, item.ReleaseAndGetAddressOf(), nullptr) == S_OK;) {
        ComPtr<IWICBitmapDecoderInfo> info;
        CLSID clsid{};
        wchar_t text[2][64] = {};
        UINT length = 0;
        if (SUCCEEDED(item.As(&info)) && SUCCEEDED(info->GetCLSID(&clsid)) && clsid == qel::explorer::kDecoderClsid &&
            SUCCEEDED(info->GetFileExtensions(64, text[0], &length)) && SUCCEEDED(info->GetMimeTypes(64, text[1], &length))) {
            listed += std::wstring(text[0]) + L" " + text[1] + L";";
        }
    }
    EXPECT_EQ(listed, L".qel image/x-qel;");
}

}  // namespace
