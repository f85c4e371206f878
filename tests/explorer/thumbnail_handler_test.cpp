// The thumbnail handler DLL as the shell uses it: loaded by path, its class
// object asked for, handlers made and fed streams. The pixels must be the
// core's (`qel thumbnail`); everything else must fail cleanly.
#include <gtest/gtest.h>

#include <windows.h>

#include <objbase.h>
#include <propsys.h>
#include <thumbcache.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "packed/PackedFile.h"
#include "plugins/explorer/ThumbnailClsid.h"
#include "tests/explorer/ThumbnailCheck.h"
#include "tests/malformed/HostileInputs.h"
#include "tests/win32/Win32TestSupport.h"

namespace {

using qel::testing::Bytes;
using qel::testing::ShellThumbnail;

using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
using CanUnloadFn = HRESULT(WINAPI*)();

// An exported function by name, typed; GetProcAddress gives them all as FARPROC.
template <typename Function>
Function exported(HMODULE module, const char* name) {
    const FARPROC found = GetProcAddress(module, name);
    Function typed = nullptr;
    static_assert(sizeof typed == sizeof found, "function pointers are all one size");
    std::memcpy(&typed, &found, sizeof typed);
    return typed;
}

Bytes packedOf(const Bytes& bmp) { return qel::packBytes(bmp.data(), bmp.size(), 9); }

// The DLL beside this test, loaded once for the whole run.
class HandlerDll : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::string path = qel::testing::programDirectory() + "QelThumbnail.dll";
        module_ = LoadLibraryA(path.c_str());
        ASSERT_NE(module_, nullptr) << path;
        getClassObject_ = exported<GetClassObjectFn>(module_, "DllGetClassObject");
        canUnload_ = exported<CanUnloadFn>(module_, "DllCanUnloadNow");
        ASSERT_NE(getClassObject_, nullptr);
        ASSERT_NE(canUnload_, nullptr);
    }

    // A fresh handler (as IUnknown) from the class object.
    IUnknown* newHandler() {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(getClassObject_(qel::explorer::kThumbnailClsid, __uuidof(IClassFactory),
                                  reinterpret_cast<void**>(&factory)), S_OK);
        if (!factory) return nullptr;
        IUnknown* handler = nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, __uuidof(IUnknown), reinterpret_cast<void**>(&handler)), S_OK);
        factory->Release();
        return handler;
    }

    ShellThumbnail thumbnailOf(IStream* stream, UINT cx) {
        IUnknown* handler = newHandler();
        if (!handler) return {};
        const ShellThumbnail thumbnail = qel::testing::thumbnailFrom(handler, stream, cx);
        handler->Release();
        return thumbnail;
    }
    ShellThumbnail thumbnailOf(const Bytes& file, UINT cx) {
        IStream* stream = qel::testing::memoryStream(file);
        if (!stream) return {};
        const ShellThumbnail thumbnail = thumbnailOf(stream, cx);
        stream->Release();
        return thumbnail;
    }

    static HMODULE module_;
    static GetClassObjectFn getClassObject_;
    static CanUnloadFn canUnload_;
};

HMODULE HandlerDll::module_ = nullptr;
GetClassObjectFn HandlerDll::getClassObject_ = nullptr;
CanUnloadFn HandlerDll::canUnload_ = nullptr;

// A stream that hands out bytes and then, if asked, fails or never ends;
// it counts what it handed out.
class TestStream final : public IStream {
public:
    enum class After { end, failure, endlessZeros };
    TestStream(Bytes bytes, After after, bool overclaims = false)
        : bytes_(std::move(bytes)), after_(after), overclaims_(overclaims) {}

    ULONGLONG handedOut = 0;

    IFACEMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IStream)) ||
            IsEqualIID(iid, __uuidof(ISequentialStream))) {
            *object = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    IFACEMETHODIMP_(ULONG) Release() override { return --references_; }  // lives on the test's stack
    IFACEMETHODIMP Read(void* buffer, ULONG size, ULONG* read) override {
        ULONG n = 0;
        if (at_ < bytes_.size()) {
            n = static_cast<ULONG>(std::min<std::size_t>(size, bytes_.size() - at_));
            std::memcpy(buffer, bytes_.data() + at_, n);
            at_ += n;
        } else if (after_ == After::failure) {
            return STG_E_READFAULT;
        } else if (after_ == After::endlessZeros) {
            n = size;
            std::memset(buffer, 0, n);
        }
        handedOut += n;
        if (read) *read = overclaims_ ? size + 1 : n;
        return n < size ? S_FALSE : S_OK;
    }
    IFACEMETHODIMP Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
    IFACEMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    IFACEMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    IFACEMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    IFACEMETHODIMP Commit(DWORD) override { return E_NOTIMPL; }
    IFACEMETHODIMP Revert() override { return E_NOTIMPL; }
    IFACEMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    IFACEMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    IFACEMETHODIMP Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    IFACEMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

    ULONG references() const { return references_; }

private:
    Bytes bytes_;
    After after_;
    bool overclaims_;
    std::size_t at_ = 0;
    ULONG references_ = 1;
};

TEST(ThumbnailClsid, TheTextTheInstallerWritesIsTheGuidTheDllAnswersTo) {
    wchar_t text[64] = {};
    ASSERT_GT(StringFromGUID2(qel::explorer::kThumbnailClsid, text, 64), 0);
    std::string narrow;
    for (const wchar_t* c = text; *c; ++c) narrow += static_cast<char>(*c);
    EXPECT_EQ(narrow, QEL_THUMBNAIL_CLSID_TEXT);
}

// Sprites of each bit count, with and without key pixels, at sizes that
// reduce, keep and enlarge them: the pixels `qel thumbnail -s cx` gives.
TEST_F(HandlerDll, GivesTheCoresThumbnailPixelForPixel) {
    const struct {
        const char* name;
        Bytes bmp;
    } sprites[] = {
        {"star24", qel::testing::sampleSprite24()},
        {"star16", qel::testing::sampleSprite16()},
        {"star8", qel::testing::sampleSprite8()},
        {"wide", qel::testing::makeBmp24(30, 7, [](int x, int y) { return x % 3 ? 0x102030u * y : 0xFF00FFu; })},
    };
    for (const auto& sprite : sprites) {
        const Bytes file = packedOf(sprite.bmp);
        for (const UINT cx : {1u, 16u, 24u, 25u, 96u, 256u}) {
            SCOPED_TRACE(std::string(sprite.name) + " at " + std::to_string(cx));
            const ShellThumbnail expected = qel::testing::coreThumbnail(file, static_cast<int>(cx));
            ASSERT_GT(expected.width, 0);
            const ShellThumbnail got = thumbnailOf(file, cx);
            ASSERT_EQ(got.result, S_OK);
            EXPECT_TRUE(got.alphaIsArgb);
            EXPECT_EQ(got.width, expected.width);
            EXPECT_EQ(got.height, expected.height);
            EXPECT_LE(got.width, static_cast<int>(cx));
            EXPECT_TRUE(got.rgba == expected.rgba);
        }
    }
    // The key colour came through as fully transparent black.
    const ShellThumbnail star = thumbnailOf(packedOf(qel::testing::sampleSprite24()), 24);
    ASSERT_EQ(star.rgba.size(), 24u * 24 * 4);
    EXPECT_EQ(star.rgba[0] | star.rgba[1] | star.rgba[2] | star.rgba[3], 0);  // a corner, outside the star
    EXPECT_EQ(star.rgba[(12 * 24 + 12) * 4 + 3], 255);                      // the centre
}

// Every hostile packed file: a failure exactly where the viewer would refuse
// the file, and otherwise the core's pixels.
TEST_F(HandlerDll, FailsWhereTheViewerRefusesAndNeverCrashes) {
    int refused = 0;
    for (const qel::testing::NamedInput& input : qel::testing::hostilePackedFiles()) {
        SCOPED_TRACE(input.name);
        const ShellThumbnail expected = qel::testing::coreThumbnail(input.bytes, 64);
        const ShellThumbnail got = thumbnailOf(input.bytes, 64);
        if (expected.width == 0) {
            ++refused;
            EXPECT_TRUE(FAILED(got.result)) << std::hex << got.result;
        } else {
            ASSERT_EQ(got.result, S_OK);
            EXPECT_TRUE(got.rgba == expected.rgba);
        }
    }
    EXPECT_GT(refused, 10);
    EXPECT_TRUE(FAILED(thumbnailOf(Bytes{}, 64).result));
}

TEST_F(HandlerDll, StreamsThatFailOrNeverEndAreNeitherTrustedNorReadWhole) {
    const Bytes file = packedOf(qel::testing::sampleSprite24());
    TestStream failing(Bytes(file.begin(), file.begin() + 20), TestStream::After::failure);
    EXPECT_TRUE(FAILED(thumbnailOf(&failing, 32).result));
    TestStream overclaiming(file, TestStream::After::end, true);
    EXPECT_TRUE(FAILED(thumbnailOf(&overclaiming, 32).result));
    // A sound file followed by endless bytes: reading stops where the zlib
    // stream ends, and the handler lets go of the stream with itself.
    TestStream endless(file, TestStream::After::endlessZeros);
    EXPECT_EQ(thumbnailOf(&endless, 32).result, S_OK);
    EXPECT_LT(endless.handedOut, 1u << 20);
    EXPECT_EQ(endless.references(), 1u);
    // A stream that never ends inside a stored block of zeros runs into the
    // payload's limit, however much more there is.
    TestStream zeros(Bytes{0x78, 0x01, 0x00, 0xFF, 0xFF, 0x00, 0x00}, TestStream::After::endlessZeros);
    EXPECT_TRUE(FAILED(thumbnailOf(&zeros, 32).result));
    EXPECT_LT(zeros.handedOut, 1u << 20);
}

TEST_F(HandlerDll, CallsOutOfOrderOrWithBadArgumentsFail) {
    const Bytes file = packedOf(qel::testing::sampleSprite24());
    for (const UINT cx : {0u, 4097u, 0xFFFFFFFFu}) {
        EXPECT_EQ(thumbnailOf(file, cx).result, E_INVALIDARG) << cx;
    }
    EXPECT_EQ(thumbnailOf(file, 4096).result, S_OK);

    IUnknown* handler = newHandler();
    ASSERT_NE(handler, nullptr);
    IThumbnailProvider* provider = nullptr;
    IInitializeWithStream* init = nullptr;
    ASSERT_EQ(handler->QueryInterface(__uuidof(IThumbnailProvider), reinterpret_cast<void**>(&provider)), S_OK);
    ASSERT_EQ(handler->QueryInterface(__uuidof(IInitializeWithStream), reinterpret_cast<void**>(&init)), S_OK);
    HBITMAP bitmap = reinterpret_cast<HBITMAP>(1);
    WTS_ALPHATYPE alpha = WTSAT_ARGB;
    EXPECT_TRUE(FAILED(provider->GetThumbnail(32, &bitmap, &alpha)));  // not initialised
    EXPECT_EQ(bitmap, nullptr);
    EXPECT_EQ(init->Initialize(nullptr, STGM_READ), E_INVALIDARG);
    IStream* stream = qel::testing::memoryStream(file);
    EXPECT_EQ(init->Initialize(stream, STGM_READ), S_OK);
    EXPECT_TRUE(FAILED(init->Initialize(stream, STGM_READ)));  // once only
    EXPECT_EQ(provider->GetThumbnail(32, nullptr, &alpha), E_POINTER);
    EXPECT_EQ(provider->GetThumbnail(32, &bitmap, nullptr), E_POINTER);
    void* other = nullptr;
    EXPECT_EQ(handler->QueryInterface(__uuidof(IClassFactory), &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    stream->Release();
    init->Release();
    provider->Release();
    handler->Release();
}

TEST_F(HandlerDll, ClassObjectCountsObjectsAndLocksForUnloading) {
    void* object = nullptr;
    EXPECT_EQ(getClassObject_(__uuidof(IUnknown), __uuidof(IClassFactory), &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(canUnload_(), S_OK);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject_(qel::explorer::kThumbnailClsid, __uuidof(IClassFactory),
                              reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(canUnload_(), S_FALSE);
    IUnknown* outer = factory;
    EXPECT_EQ(factory->CreateInstance(outer, __uuidof(IUnknown), &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->CreateInstance(nullptr, __uuidof(IClassFactory), &object), E_NOINTERFACE);
    IUnknown* handler = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, __uuidof(IUnknown), reinterpret_cast<void**>(&handler)), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    EXPECT_EQ(canUnload_(), S_FALSE);  // the handler and the lock
    handler->Release();
    EXPECT_EQ(canUnload_(), S_FALSE);  // the lock
    ASSERT_EQ(getClassObject_(qel::explorer::kThumbnailClsid, __uuidof(IClassFactory),
                              reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory->Release();
    EXPECT_EQ(canUnload_(), S_OK);
}

}  // namespace
