// The thumbnail handler DLL as the shell uses it: loaded by path, handlers
// made by its class object and fed streams. Its pixels must be the core's;
// everything else must fail cleanly.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "plugins/explorer/ThumbnailClsid.h"
#include "tests/explorer/ThumbnailCheck.h"
#include "tests/malformed/HostileInputs.h"
#include "tests/win32/Win32TestSupport.h"

namespace {

using qel::testing::Bytes;
using qel::testing::ShellThumbnail;

// The DLL beside this test and its two entry points, loaded once.
HMODULE dll() {
    static const HMODULE module = LoadLibraryA((qel::testing::programDirectory() + "QelThumbnail.dll").c_str());
    return module;
}
template <typename Function>
Function entry(const char* name) {
    const FARPROC found = GetProcAddress(dll(), name);
    Function typed = nullptr;
    std::memcpy(&typed, &found, sizeof typed);  // FARPROC to its real type
    return typed;
}
HRESULT getClassObject(REFCLSID clsid, IClassFactory** factory) {
    return entry<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>("DllGetClassObject")(
        clsid, IID_IClassFactory, reinterpret_cast<void**>(factory));
}
HRESULT canUnloadNow() { return entry<HRESULT(WINAPI*)()>("DllCanUnloadNow")(); }

ShellThumbnail thumbnailOf(IStream* stream, UINT cx) {
    IClassFactory* factory = nullptr;
    IUnknown* handler = nullptr;
    if (getClassObject(qel::explorer::kThumbnailClsid, &factory) != S_OK) return {};
    factory->CreateInstance(nullptr, IID_PPV_ARGS(&handler));
    factory->Release();
    if (!handler) return {};
    const ShellThumbnail thumbnail = qel::testing::thumbnailFrom(handler, stream, cx);
    handler->Release();
    return thumbnail;
}
ShellThumbnail thumbnailOf(const Bytes& file, UINT cx) {
    IStream* stream = SHCreateMemStream(file.data(), static_cast<UINT>(file.size()));
    const ShellThumbnail thumbnail = thumbnailOf(stream, cx);
    stream->Release();
    return thumbnail;
}
Bytes packedOf(const Bytes& bmp) { return qel::packBytes(bmp.data(), bmp.size(), 9); }

// Sprites of each bit count and shape, reduced, kept and enlarged: the pixels
// of `qel thumbnail -s cx`, with the key colour as 0,0,0,0.
TEST(ThumbnailHandler, GivesTheCoresThumbnailPixelForPixel) {
    for (const Bytes& bmp : {qel::testing::sampleSprite24(), qel::testing::sampleSprite16(), qel::testing::sampleSprite8(),
                             qel::testing::makeBmp24(30, 7, [](int x, int y) { return x % 3 ? 0x102030u * y : 0xFF00FFu; })}) {
        for (const UINT cx : {1u, 16u, 25u, 96u, 256u}) {
            SCOPED_TRACE(cx);
            const ShellThumbnail expected = qel::testing::coreThumbnail(packedOf(bmp), static_cast<int>(cx));
            ASSERT_EQ(expected.result, S_OK);
            EXPECT_TRUE(thumbnailOf(packedOf(bmp), cx) == expected);
        }
    }
    const ShellThumbnail star = thumbnailOf(packedOf(qel::testing::sampleSprite24()), 24);
    ASSERT_EQ(star.rgba.size(), 24u * 24 * 4);
    EXPECT_EQ(Bytes(star.rgba.begin(), star.rgba.begin() + 4), Bytes(4, 0));  // a key-coloured corner
}

// Every hostile packed file: a failure exactly where the viewer refuses it.
TEST(ThumbnailHandler, FailsWhereTheViewerRefusesAndNeverCrashes) {
    int refused = 0;
    for (const qel::testing::NamedInput& input : qel::testing::hostilePackedFiles()) {
        const ShellThumbnail expected = qel::testing::coreThumbnail(input.bytes, 64);
        const ShellThumbnail got = thumbnailOf(input.bytes, 64);
        refused += FAILED(expected.result);
        EXPECT_TRUE(FAILED(expected.result) ? FAILED(got.result) : got == expected) << input.name;
    }
    EXPECT_GT(refused, 10);
    for (const UINT cx : {0u, 4097u}) EXPECT_EQ(thumbnailOf(packedOf(qel::testing::sampleSprite8()), cx).result, E_INVALIDARG);
}

// A sound file followed by a megabyte of junk: reading stops where the zlib
// stream ends, far from the end of the stream.
TEST(ThumbnailHandler, ReadsOnlyAsFarAsTheZlibStreamGoes) {
    Bytes file = packedOf(qel::testing::sampleSprite24());
    file.resize(file.size() + (1u << 20), 0x5A);
    IStream* stream = SHCreateMemStream(file.data(), static_cast<UINT>(file.size()));
    EXPECT_EQ(thumbnailOf(stream, 32).result, S_OK);
    ULARGE_INTEGER at{};
    stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_CUR, &at);
    EXPECT_LT(at.QuadPart, 65536u);
    EXPECT_EQ(stream->Release(), 0u);  // the handler let go of it
}

TEST(ThumbnailHandler, CallsOutOfOrderFailAndTheDllUnloadsOnlyWhenAllIsReleased) {
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
    EXPECT_TRUE(FAILED(provider->GetThumbnail(32, &bitmap, &alpha)));  // before Initialize
    EXPECT_EQ(bitmap, nullptr);
    provider->Release();
    EXPECT_EQ(canUnloadNow(), S_FALSE);  // still locked
    ASSERT_EQ(getClassObject(qel::explorer::kThumbnailClsid, &factory), S_OK);
    factory->LockServer(FALSE);
    factory->Release();
    EXPECT_EQ(canUnloadNow(), S_OK);
}

}  // namespace
