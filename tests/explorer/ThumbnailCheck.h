// What the thumbnail handler's tests share: running a handler over a stream
// as the shell does, and the pixels the core says it must give.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "tests/support/BmpFactory.h"

namespace qel::testing {

struct ShellThumbnail {
    HRESULT result = E_FAIL;
    bool alphaIsArgb = false;
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;  // read back from the bitmap, top row first
};

// Initialize(stream) on the handler, then GetThumbnail(cx); the bitmap is
// read back with GetDIBits (top-down BGRA, turned into RGBA) and deleted.
ShellThumbnail thumbnailFrom(IUnknown* handler, IStream* stream, UINT cx);

// A stream over a copy of bytes (SHCreateMemStream); the caller releases it.
IStream* memoryStream(const Bytes& bytes);

// The core's thumbnail of a packed file, as `qel thumbnail -s cx` draws it;
// width and height 0 when the viewer would refuse the file.
ShellThumbnail coreThumbnail(const Bytes& packed, int cx);

}  // namespace qel::testing
