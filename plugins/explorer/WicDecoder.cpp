#include "plugins/explorer/WicDecoder.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "imaging/Picture.h"
#include "imaging/Raster.h"
#include "packed/PackedFile.h"
#include "plugins/explorer/DecoderIds.h"
#include "plugins/explorer/ThumbnailProvider.h"

namespace qel::explorer {
namespace {

// Runs body; a C++ exception becomes a failure here, so none reaches the host.
template <typename Body>
HRESULT guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// Decodes stream from its start, into sprite unless that is null (the
// verdict alone). WIC's pattern matching reads the first bytes and leaves the
// stream there, so the start is sought whatever the position.
HRESULT decodeStream(IStream* stream, Raster* sprite) {
    if (!stream) return E_INVALIDARG;
    if (FAILED(stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr))) return WINCODEC_ERR_STREAMREAD;
    StreamSource source(stream);
    switch (decodePacked(source, sprite).outcome) {
    case DecodeOutcome::success:
        return S_OK;
    case DecodeOutcome::openFailure:
        return WINCODEC_ERR_STREAMREAD;
    case DecodeOutcome::initFailure:
        return E_OUTOFMEMORY;  // zlib could not have its state
    default:
        return WINCODEC_ERR_BADIMAGE;  // a broken stream, or a payload that is no picture
    }
}

// Rows firstRow .. firstRow + rows - 1 of picture, whole, as 32bppBGRA with
// the key colour kept at alpha 0, the first at out and each stride bytes on.
bool writeRows(const Raster& picture, int firstRow, int rows, BYTE* out, std::size_t stride) {
    PixelTarget target;
    target.pixels = out;
    target.stride = stride;
    target.size = {picture.width(), picture.height()};
    target.order = ChannelOrder::bgra;
    target.key = KeyPixel::keepColour;
    target.firstRow = firstRow;
    target.rows = rows;
    return convertPicture(picture, target);
}

// IWICBitmapSource::CopyPixels of picture: rect (null: the whole picture)
// into buffer, stride bytes a row, size bytes in all.
HRESULT copyPixels(const Raster& picture, const WICRect* rect, UINT stride, UINT size, BYTE* buffer) {
    const int width = picture.width();
    const int height = picture.height();
    const WICRect r = rect ? *rect : WICRect{0, 0, width, height};
    if (r.X < 0 || r.Y < 0 || r.Width < 0 || r.Height < 0 || r.X > width - r.Width || r.Y > height - r.Height) {
        return E_INVALIDARG;
    }
    if (r.Width == 0 || r.Height == 0) return S_OK;
    if (!buffer) return E_INVALIDARG;
    const std::uint64_t rowBytes = static_cast<std::uint64_t>(r.Width) * 4;
    if (stride < rowBytes) return E_INVALIDARG;
    if (static_cast<std::uint64_t>(stride) * static_cast<std::uint64_t>(r.Height - 1) + rowBytes > size) {
        return WINCODEC_ERR_INSUFFICIENTBUFFER;
    }
    if (r.X == 0 && r.Width == width) {
        return writeRows(picture, r.Y, r.Height, buffer, stride) ? S_OK : E_UNEXPECTED;
    }
    // Part of each row: whole rows first, then the columns asked for.
    const std::size_t wholeRow = static_cast<std::size_t>(width) * 4;
    std::vector<BYTE> rows(wholeRow * static_cast<std::size_t>(r.Height));
    if (!writeRows(picture, r.Y, r.Height, rows.data(), wholeRow)) return E_UNEXPECTED;
    for (int y = 0; y < r.Height; ++y) {
        std::memcpy(buffer + static_cast<std::size_t>(stride) * y, rows.data() + wholeRow * y + r.X * 4u, rowBytes);
    }
    return S_OK;
}

// The one frame: the decoded picture, which never changes, so any thread
// may read it.
class Frame final : public IWICBitmapFrameDecode {
public:
    explicit Frame(std::shared_ptr<const Raster> picture) : picture_(std::move(picture)) { ++gObjectCount; }
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

    IFACEMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IWICBitmapSource)) ||
            IsEqualIID(iid, __uuidof(IWICBitmapFrameDecode))) {
            *object = static_cast<IWICBitmapFrameDecode*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    IFACEMETHODIMP_(ULONG) Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    IFACEMETHODIMP GetSize(UINT* width, UINT* height) override {
        if (!width || !height) return E_INVALIDARG;
        *width = static_cast<UINT>(picture_->width());
        *height = static_cast<UINT>(picture_->height());
        return S_OK;
    }
    IFACEMETHODIMP GetPixelFormat(WICPixelFormatGUID* format) override {
        if (!format) return E_INVALIDARG;
        *format = GUID_WICPixelFormat32bppBGRA;
        return S_OK;
    }
    IFACEMETHODIMP GetResolution(double* x, double* y) override {
        if (!x || !y) return E_INVALIDARG;
        *x = *y = 96.0;  // the format records none
        return S_OK;
    }
    IFACEMETHODIMP CopyPalette(IWICPalette*) override { return WINCODEC_ERR_PALETTEUNAVAILABLE; }
    IFACEMETHODIMP CopyPixels(const WICRect* rect, UINT stride, UINT size, BYTE* buffer) override {
        return guarded([&] { return copyPixels(*picture_, rect, stride, size, buffer); });
    }
    IFACEMETHODIMP GetMetadataQueryReader(IWICMetadataQueryReader** reader) override {
        if (reader) *reader = nullptr;
        return WINCODEC_ERR_UNSUPPORTEDOPERATION;
    }
    IFACEMETHODIMP GetColorContexts(UINT, IWICColorContext**, UINT* count) override {
        if (count) *count = 0;
        return WINCODEC_ERR_UNSUPPORTEDOPERATION;
    }
    IFACEMETHODIMP GetThumbnail(IWICBitmapSource** thumbnail) override {
        if (thumbnail) *thumbnail = nullptr;
        return WINCODEC_ERR_CODECNOTHUMBNAIL;
    }

private:
    ~Frame() { --gObjectCount; }

    std::atomic<ULONG> references_{1};
    const std::shared_ptr<const Raster> picture_;
};

class Decoder final : public IWICBitmapDecoder {
public:
    Decoder() { ++gObjectCount; }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    IFACEMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IWICBitmapDecoder))) {
            *object = static_cast<IWICBitmapDecoder*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    IFACEMETHODIMP_(ULONG) Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    // Decided by decoding the content, as Initialize would; the stream is
    // left where it was.
    IFACEMETHODIMP QueryCapability(IStream* stream, DWORD* capability) override {
        if (!stream || !capability) return E_INVALIDARG;
        *capability = 0;
        return guarded([&] {
            ULARGE_INTEGER at{};
            if (FAILED(stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_CUR, &at))) return WINCODEC_ERR_STREAMREAD;
            const HRESULT verdict = decodeStream(stream, nullptr);
            LARGE_INTEGER back{};
            back.QuadPart = static_cast<LONGLONG>(at.QuadPart);
            stream->Seek(back, STREAM_SEEK_SET, nullptr);
            if (verdict == WINCODEC_ERR_BADIMAGE) return S_OK;  // not ours: no capability
            if (SUCCEEDED(verdict)) *capability = WICBitmapDecoderCapabilityCanDecodeAllImages;
            return verdict;
        });
    }
    IFACEMETHODIMP Initialize(IStream* stream, WICDecodeOptions) override {
        return guarded([&] {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (picture_) return WINCODEC_ERR_WRONGSTATE;
            auto picture = std::make_shared<Raster>();
            const HRESULT result = decodeStream(stream, picture.get());
            if (SUCCEEDED(result)) picture_ = std::move(picture);
            return result;
        });
    }
    IFACEMETHODIMP GetContainerFormat(GUID* format) override {
        if (!format) return E_INVALIDARG;
        *format = kContainerFormat;
        return S_OK;
    }
    // The registered description, through WIC's own component information.
    IFACEMETHODIMP GetDecoderInfo(IWICBitmapDecoderInfo** info) override {
        if (!info) return E_INVALIDARG;
        *info = nullptr;
        IWICImagingFactory* factory = nullptr;
        HRESULT result = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                          __uuidof(IWICImagingFactory), reinterpret_cast<void**>(&factory));
        if (FAILED(result)) return result;
        IWICComponentInfo* component = nullptr;
        result = factory->CreateComponentInfo(kDecoderClsid, &component);
        if (SUCCEEDED(result)) {
            result = component->QueryInterface(__uuidof(IWICBitmapDecoderInfo), reinterpret_cast<void**>(info));
            component->Release();
        }
        factory->Release();
        return result;
    }
    IFACEMETHODIMP CopyPalette(IWICPalette*) override { return WINCODEC_ERR_PALETTEUNAVAILABLE; }
    IFACEMETHODIMP GetMetadataQueryReader(IWICMetadataQueryReader** reader) override {
        if (reader) *reader = nullptr;
        return WINCODEC_ERR_UNSUPPORTEDOPERATION;
    }
    IFACEMETHODIMP GetPreview(IWICBitmapSource** preview) override {
        if (preview) *preview = nullptr;
        return WINCODEC_ERR_UNSUPPORTEDOPERATION;
    }
    IFACEMETHODIMP GetColorContexts(UINT, IWICColorContext**, UINT* count) override {
        if (count) *count = 0;
        return WINCODEC_ERR_UNSUPPORTEDOPERATION;
    }
    IFACEMETHODIMP GetThumbnail(IWICBitmapSource** thumbnail) override {
        if (thumbnail) *thumbnail = nullptr;
        return WINCODEC_ERR_CODECNOTHUMBNAIL;
    }
    IFACEMETHODIMP GetFrameCount(UINT* count) override {
        if (!count) return E_INVALIDARG;
        *count = 0;
        return guarded([&] {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (!picture_) return WINCODEC_ERR_NOTINITIALIZED;
            *count = 1;
            return S_OK;
        });
    }
    IFACEMETHODIMP GetFrame(UINT index, IWICBitmapFrameDecode** frame) override {
        if (!frame) return E_INVALIDARG;
        *frame = nullptr;
        return guarded([&] {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (!picture_) return WINCODEC_ERR_NOTINITIALIZED;
            if (index != 0) return WINCODEC_ERR_FRAMEMISSING;
            *frame = new Frame(picture_);
            return S_OK;
        });
    }

private:
    ~Decoder() { --gObjectCount; }

    std::atomic<ULONG> references_{1};
    std::mutex mutex_;
    std::shared_ptr<const Raster> picture_;  // set once, by a successful Initialize
};

}  // namespace

HRESULT createWicDecoder(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    auto* decoder = new (std::nothrow) Decoder();
    if (!decoder) return E_OUTOFMEMORY;
    const HRESULT result = decoder->QueryInterface(iid, object);
    decoder->Release();
    return result;
}

}  // namespace qel::explorer
