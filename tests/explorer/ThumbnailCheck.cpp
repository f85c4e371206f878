#include "tests/explorer/ThumbnailCheck.h"

#include <propsys.h>
#include <shlwapi.h>
#include <thumbcache.h>

#include <sstream>

#include "imaging/Picture.h"
#include "imaging/Raster.h"
#include "packed/PackedFile.h"

namespace qel::testing {

ShellThumbnail thumbnailFrom(IUnknown* handler, IStream* stream, UINT cx) {
    ShellThumbnail out;
    IInitializeWithStream* init = nullptr;
    out.result = handler->QueryInterface(__uuidof(IInitializeWithStream), reinterpret_cast<void**>(&init));
    if (FAILED(out.result)) return out;
    out.result = init->Initialize(stream, STGM_READ);
    init->Release();
    if (FAILED(out.result)) return out;
    IThumbnailProvider* provider = nullptr;
    out.result = handler->QueryInterface(__uuidof(IThumbnailProvider), reinterpret_cast<void**>(&provider));
    if (FAILED(out.result)) return out;
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    out.result = provider->GetThumbnail(cx, &bitmap, &alpha);
    provider->Release();
    if (FAILED(out.result)) {
        if (bitmap) {  // a failure must hand back nothing
            DeleteObject(bitmap);
            out.result = E_ABORT;
        }
        return out;
    }
    out.alphaIsArgb = alpha == WTSAT_ARGB;
    BITMAP shape{};
    if (!bitmap || !GetObjectW(bitmap, sizeof shape, &shape)) {
        out.result = E_HANDLE;
        return out;
    }
    out.width = shape.bmWidth;
    out.height = shape.bmHeight;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = out.width;
    info.bmiHeader.biHeight = -out.height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    out.rgba.resize(static_cast<std::size_t>(out.width) * out.height * 4);
    HDC dc = GetDC(nullptr);
    const int rows = GetDIBits(dc, bitmap, 0, static_cast<UINT>(out.height), out.rgba.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    DeleteObject(bitmap);
    if (rows != out.height) out.result = E_HANDLE;
    for (std::size_t i = 0; i + 3 < out.rgba.size(); i += 4) std::swap(out.rgba[i], out.rgba[i + 2]);
    return out;
}

IStream* memoryStream(const Bytes& bytes) {
    return SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size()));
}

ShellThumbnail coreThumbnail(const Bytes& packed, int cx) {
    ShellThumbnail out;
    Raster sprite;
    std::ostringstream diag;
    if (decodePackedBytes(packed.data(), packed.size(), sprite, diag).outcome != DecodeOutcome::success) return out;
    PictureSize size;
    out.rgba = thumbnailRgba(sprite, cx, KeyPixel::clear, size);
    out.result = S_OK;
    out.alphaIsArgb = true;
    out.width = size.width;
    out.height = size.height;
    return out;
}

}  // namespace qel::testing
