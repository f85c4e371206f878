// The thumbnail handler as the shell drives it, and the pixels the core says
// it must give: shared by the handler's tests and the installed-MSI tests.
#pragma once

#include <windows.h>

#include <propsys.h>
#include <shlwapi.h>
#include <thumbcache.h>

#include <sstream>
#include <utility>
#include <vector>

#include "imaging/Picture.h"
#include "imaging/Raster.h"
#include "packed/PackedFile.h"
#include "tests/support/BmpFactory.h"

namespace qel::testing {

struct ShellThumbnail {
    HRESULT result = E_FAIL;
    int width = 0, height = 0;
    Bytes rgba;  // top row first
    bool operator==(const ShellThumbnail& o) const {
        return result == o.result && width == o.width && height == o.height && rgba == o.rgba;
    }
};

// Initialize(stream), GetThumbnail(cx), the bitmap read back with GetDIBits
// (top-down BGRA, made RGBA) and deleted. A bitmap that is not ARGB, or one
// handed back with a failure, is itself a failure (E_ABORT).
inline ShellThumbnail thumbnailFrom(IUnknown* handler, IStream* stream, UINT cx) {
    ShellThumbnail out;
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
    if (FAILED(out.result) || alpha != WTSAT_ARGB || !GetObjectW(bitmap, sizeof shape, &shape)) {
        if (bitmap || SUCCEEDED(out.result)) out.result = E_ABORT;
        if (bitmap) DeleteObject(bitmap);
        return out;
    }
    out.width = shape.bmWidth;
    out.height = shape.bmHeight;
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), out.width, -out.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    out.rgba.resize(static_cast<std::size_t>(out.width) * out.height * 4);
    HDC dc = GetDC(nullptr);
    if (GetDIBits(dc, bitmap, 0, static_cast<UINT>(out.height), out.rgba.data(), &info, DIB_RGB_COLORS) != out.height) {
        out.result = E_ABORT;
    }
    ReleaseDC(nullptr, dc);
    DeleteObject(bitmap);
    for (std::size_t i = 0; i + 3 < out.rgba.size(); i += 4) std::swap(out.rgba[i], out.rgba[i + 2]);
    return out;
}

// The core's thumbnail of a packed file (`qel thumbnail -s cx`); result
// E_FAIL when the viewer would refuse the file.
inline ShellThumbnail coreThumbnail(const Bytes& packed, int cx) {
    ShellThumbnail out;
    Raster sprite;
    std::ostringstream diag;
    if (decodePackedBytes(packed.data(), packed.size(), sprite, diag).outcome != DecodeOutcome::success) return out;
    PictureSize size;
    out.rgba = thumbnailRgba(sprite, cx, KeyPixel::clear, size);
    out.result = S_OK;
    out.width = size.width;
    out.height = size.height;
    return out;
}

}  // namespace qel::testing
