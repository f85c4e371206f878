#include "plugins/explorer/ThumbnailProvider.h"

#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "imaging/Picture.h"
#include "imaging/Raster.h"
#include "packed/PackedFile.h"

namespace qel::explorer {

std::atomic<long> gObjectCount{0};
std::atomic<long> gLockCount{0};

bool StreamSource::read(std::uint8_t* buffer, std::size_t capacity, std::size_t& count) {
    count = 0;
    const ULONG asked = capacity > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(capacity);
    ULONG got = 0;
    // S_FALSE is a short read at the end of the stream, not a failure.
    const HRESULT result = stream_->Read(buffer, asked, &got);
    if (FAILED(result) || got > asked) return false;
    count = got;
    return true;
}

namespace {

// A top-down 32-bit DIB section of the sprite at size, in the BGRA a DIB
// stores.
HBITMAP bgraBitmap(const Raster& sprite, PictureSize size) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = size.width;
    info.bmiHeader.biHeight = -size.height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    PixelTarget target;
    target.pixels = static_cast<std::uint8_t*>(bits);
    target.stride = static_cast<std::size_t>(size.width) * 4;
    target.size = size;
    target.order = ChannelOrder::bgra;
    target.key = KeyPixel::clear;
    if (bitmap && bits && convertPicture(sprite, target)) return bitmap;
    if (bitmap) DeleteObject(bitmap);
    return nullptr;
}

}  // namespace

HRESULT thumbnailOfStream(IStream* stream, UINT size, HBITMAP* bitmap) {
    if (!bitmap) return E_POINTER;
    *bitmap = nullptr;
    if (!stream) return E_UNEXPECTED;
    if (size == 0 || size > kMaxThumbnailSize) return E_INVALIDARG;

    StreamSource source(stream);
    Raster sprite;
    const DecodeResult result = decodePacked(source, &sprite);
    if (result.outcome == DecodeOutcome::openFailure) return HRESULT_FROM_WIN32(ERROR_READ_FAULT);
    if (result.outcome != DecodeOutcome::success) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

    *bitmap = bgraBitmap(sprite, thumbnailSize(sprite.width(), sprite.height(), static_cast<int>(size)));
    return *bitmap ? S_OK : E_OUTOFMEMORY;
}

ThumbnailProvider::ThumbnailProvider() { ++gObjectCount; }

ThumbnailProvider::~ThumbnailProvider() {
    if (stream_) stream_->Release();
    --gObjectCount;
}

IFACEMETHODIMP ThumbnailProvider::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IThumbnailProvider))) {
        *object = static_cast<IThumbnailProvider*>(this);
    } else if (IsEqualIID(iid, __uuidof(IInitializeWithStream))) {
        *object = static_cast<IInitializeWithStream*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

IFACEMETHODIMP_(ULONG) ThumbnailProvider::AddRef() { return ++references_; }

IFACEMETHODIMP_(ULONG) ThumbnailProvider::Release() {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

IFACEMETHODIMP ThumbnailProvider::Initialize(IStream* stream, DWORD) {
    if (!stream) return E_INVALIDARG;
    if (stream_) return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
    stream_ = stream;
    stream_->AddRef();
    return S_OK;
}

IFACEMETHODIMP ThumbnailProvider::GetThumbnail(UINT cx, HBITMAP* bitmap, WTS_ALPHATYPE* alpha) {
    if (!bitmap || !alpha) return E_POINTER;
    *bitmap = nullptr;
    *alpha = WTSAT_UNKNOWN;
    // The host's process must never see a C++ exception: whatever the
    // decoder or the allocator throws ends here as a failure.
    try {
        const HRESULT result = thumbnailOfStream(stream_, cx, bitmap);
        if (SUCCEEDED(result)) *alpha = WTSAT_ARGB;
        return result;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace qel::explorer
